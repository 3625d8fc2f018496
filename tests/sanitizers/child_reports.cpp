// Sanitizer reports of child processes fail the test that started them
// (docs/sanitizers.md). A child's report would go to a stderr the test
// often pipes and never reads, and its exit code is ambiguous (ServerApp's
// normal end is 1, ASan's error code too). So every child's sanitizer
// output goes to a folder of this run (log_path, inherited through the
// environment), and a report found there at the end is a failure.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The options variables of every runtime a child may carry. The common
// flags (log_path among them) are read from each tool's own variable.
constexpr const char* kOptionVariables[] = {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS",
                                            "TSAN_OPTIONS"};

// Where the children's reports go; empty until the run starts (or when it
// could not be made).
fs::path g_folder;

// Every report file in the folder, in a stable order.
std::vector<fs::path> Reports(const fs::path& folder) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) found.push_back(entry.path());
  std::ranges::sort(found);
  return found;
}

class ChildReports final : public testing::Environment {
 public:
  // Runs before the first test (not for --gtest_list_tests, so test
  // discovery leaves no folder behind): children start only in tests.
  void SetUp() override {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    std::string pattern = ((ec ? fs::path("/tmp") : base) / "serverapp-sanitizer-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot create a folder for the sanitizer reports of child processes";
      return;
    }
    g_folder = pattern;
    const std::string option = "log_path=" + (g_folder / "report").string();
    for (const char* name : kOptionVariables) {
      const char* current = getenv(name);
      std::string value = current != nullptr ? current : "";
      if (!value.empty()) value += ':';
      value += option;
      // GCC's UBSan runtime beside ASan's ignores log_path and reports on
      // stderr; a distinct exit code at least marks the child as failed.
      if (std::string(name) == "UBSAN_OPTIONS") value += ":exitcode=86";
      setenv(name, value.c_str(), 1);
    }
  }

  void TearDown() override {
    if (g_folder.empty()) return;
    for (const fs::path& report : Reports(g_folder)) {
      std::ifstream in(report, std::ios::binary);
      std::ostringstream text;
      text << in.rdbuf();
      ADD_FAILURE() << "a child process reported a sanitizer error (" << report.filename().string()
                    << "):\n"
                    << text.str();
    }
    std::error_code ec;
    fs::remove_all(g_folder, ec);
  }
};

// Names the test during which a child reported, for a binary run by hand
// with many tests; the failure itself is raised once, at the end.
class ChildReportsListener final : public testing::EmptyTestEventListener {
 public:
  void OnTestEnd(const testing::TestInfo& info) override {
    const size_t count = Reports(g_folder).size();
    if (count > reported_) {
      std::cerr << "[sanitizer] " << (count - reported_) << " child report(s) during "
                << info.test_suite_name() << "." << info.name() << "\n";
      reported_ = count;
    }
  }

 private:
  size_t reported_ = 0;
};

[[maybe_unused]] const bool kInstalled = [] {
  testing::AddGlobalTestEnvironment(new ChildReports());
  testing::UnitTest::GetInstance()->listeners().Append(new ChildReportsListener());
  return true;
}();

}  // namespace

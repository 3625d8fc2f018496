// Sanitizer reports of child processes fail the test that started them.
//
// Integration tests start ServerApp, gsmsim and crash targets built with the
// same sanitizers. Left alone, a child's report goes to a stderr that the
// test often pipes and never reads, and the child's exit code is ambiguous
// (ServerApp's normal end is 1, which is also ASan's error code). So at
// the start of the test run this process points every child's sanitizer
// output at a folder of its own (log_path, inherited through the
// environment; the test process itself keeps reporting on stderr because
// its options were read at its start), and fails when that folder holds a
// report at the end.
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

fs::path MakeReportFolder() {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / "serverapp-sanitizer-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

// Every report file in the folder, in a stable order.
std::vector<fs::path> Reports(const fs::path& folder) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (entry.is_regular_file(ec)) found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class ChildReports final : public testing::Environment {
 public:
  // Runs before the first test (not for --gtest_list_tests, so test
  // discovery leaves no folder behind): children start only in tests.
  void SetUp() override {
    folder_ = MakeReportFolder();
    if (folder_.empty()) {
      ADD_FAILURE() << "cannot create a folder for the sanitizer reports of child processes";
      return;
    }
    const std::string option = "log_path=" + (folder_ / "report").string();
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

  // Names the test during which a child reported, for a binary run by hand
  // with many tests; the failure itself is raised once, at the end.
  void NoteTestEnd(const testing::TestInfo& info) {
    if (folder_.empty()) return;
    const size_t count = Reports(folder_).size();
    if (count > reported_) {
      std::cerr << "[sanitizer] " << (count - reported_) << " child report(s) during "
                << info.test_suite_name() << "." << info.name() << "\n";
      reported_ = count;
    }
  }

  void TearDown() override {
    if (folder_.empty()) return;
    for (const fs::path& report : Reports(folder_)) {
      const std::string text = ReadText(report);
      // Also on stderr whole: ctest shows it with the failure.
      std::cerr << "[sanitizer] report of a child process (" << report.filename().string() << "):\n"
                << text << "\n";
      ADD_FAILURE() << "a child process reported a sanitizer error (" << report.filename().string()
                    << "):\n"
                    << text;
    }
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

 private:
  fs::path folder_;
  size_t reported_ = 0;
};

// GoogleTest owns (and deletes) environments and listeners separately, so
// the listener is a second object that forwards to the environment.
class ChildReportsListener final : public testing::EmptyTestEventListener {
 public:
  explicit ChildReportsListener(ChildReports* reports) : reports_(reports) {}
  void OnTestEnd(const testing::TestInfo& info) override { reports_->NoteTestEnd(info); }

 private:
  ChildReports* const reports_;
};

[[maybe_unused]] const bool kInstalled = [] {
  auto* reports = new ChildReports();
  testing::AddGlobalTestEnvironment(reports);
  testing::UnitTest::GetInstance()->listeners().Append(new ChildReportsListener(reports));
  return true;
}();

}  // namespace

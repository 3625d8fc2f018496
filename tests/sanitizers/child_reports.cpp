// Sanitizer reports of child processes fail the test that started them
// (docs/sanitizers.md). A child's report would go to a stderr the test
// often pipes and never reads, and its exit code is ambiguous (ServerApp's
// normal end is 1, ASan's error code too). So every child's sanitizer
// output goes to a folder of this run (log_path, inherited through the
// environment), and a report found there at the end is a failure.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;

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
    folder_ = pattern;
    // The common flags (log_path among them) are read from each tool's own
    // variable.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
      const char* current = getenv(name);
      std::string value =
          current != nullptr && current[0] != '\0' ? current + std::string(":") : "";
      value += "log_path=" + (folder_ / "report").string();
      // GCC's UBSan runtime beside ASan's ignores log_path and reports on
      // stderr; a distinct exit code at least marks the child as failed.
      if (std::string(name) == "UBSAN_OPTIONS") value += ":exitcode=86";
      setenv(name, value.c_str(), 1);
    }
  }

  void TearDown() override {
    if (folder_.empty()) return;
    std::error_code ec;
    for (const auto& report : fs::directory_iterator(folder_, ec)) {
      ADD_FAILURE() << "a child process reported a sanitizer error ("
                    << report.path().filename().string() << "):\n"
                    << testsupport::ReadFile(report.path());
    }
    fs::remove_all(folder_, ec);
  }

 private:
  fs::path folder_;
};

[[maybe_unused]] const bool kInstalled = [] {
  testing::AddGlobalTestEnvironment(new ChildReports());
  return true;
}();

}  // namespace

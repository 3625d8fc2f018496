// The child-report hook itself: a sanitized child that commits a fault
// leaves its report in this test process's report folder, whatever its
// exit code says. The test takes the report away again, so that only an
// unexpected report fails the run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/process.h"
#include "support/sanitizer_build.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testsupport::kThreadSanitizer;

// Runs the fault child and answers the text of the reports it left in
// folder, removing them; *code gets its exit code (-1: none).
std::string RunAndTakeReport(const fs::path& folder, const std::string& fault, int* code) {
  platform::ProcessOptions options;
  options.program = std::string(SERVERAPP_BINARY_DIR) + "/tests/sanitizers/sanitizer_fault_child";
  options.args = {fault};
  options.std_out = platform::StdStream::kNull;
  options.std_err = platform::StdStream::kNull;
  auto child = platform::Process::Start(options);
  if (child == nullptr) return {};
  const auto status = child->Wait(60000);
  *code = status && status->exited ? status->exit_code : -1;
  std::string text;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    text += testsupport::ReadFile(entry.path());
    fs::remove(entry.path(), ec);
  }
  return text;
}

TEST(SanitizerChildReports, AChildsReportLandsInTheTestsFolder) {
  // The folder log_path names in this process's (inherited) options.
  const char* variable = getenv(kThreadSanitizer ? "TSAN_OPTIONS" : "ASAN_OPTIONS");
  ASSERT_NE(nullptr, variable);
  const std::string options = variable;
  const size_t at = options.rfind("log_path=");
  ASSERT_NE(std::string::npos, at) << options;
  const size_t start = at + sizeof("log_path=") - 1;
  const fs::path folder =
      fs::path(options.substr(start, options.find_first_of(": ,", start) - start)).parent_path();
  int code = 0;
  EXPECT_THAT(RunAndTakeReport(folder, kThreadSanitizer ? "race" : "heap", &code),
              HasSubstr(kThreadSanitizer ? "WARNING: ThreadSanitizer: data race"
                                         : "ERROR: AddressSanitizer: heap-buffer-overflow"));
  if (!kThreadSanitizer) {
    // GCC's UBSan runtime ignores log_path (its report stays on the
    // child's stderr); the hook's exit code is what marks the child.
    RunAndTakeReport(folder, "overflow", &code);
    EXPECT_EQ(code, 86);
  }
}

}  // namespace

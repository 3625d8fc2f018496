// The child-report hook itself: a sanitized child that commits a fault
// leaves its report in this test process's report folder, whatever its
// exit code says. The test takes the report away again, so that only an
// unexpected report fails the run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/process.h"
#include "support/sanitizer_build.h"

namespace {

namespace fs = std::filesystem;

// The folder named by log_path in this process's (inherited) options.
fs::path ReportFolder(const char* variable) {
  const std::string options = getenv(variable) != nullptr ? getenv(variable) : "";
  const size_t at = options.rfind("log_path=");
  if (at == std::string::npos) return {};
  const size_t start = at + sizeof("log_path=") - 1;
  const size_t end = options.find_first_of(": ,", start);
  return fs::path(options.substr(start, end - start)).parent_path();
}

// Runs the fault child and answers the text of the report it left (empty:
// none), removing the report file; *code gets its exit code (-1: none).
std::string RunAndTakeReport(const fs::path& folder, const std::string& fault,
                             int* code = nullptr) {
  platform::ProcessOptions options;
  options.program = std::string(SERVERAPP_BINARY_DIR) + "/tests/sanitizers/sanitizer_fault_child";
  options.args = {fault};
  options.std_out = platform::StdStream::kNull;
  options.std_err = platform::StdStream::kNull;
  auto child = platform::Process::Start(options);
  if (child == nullptr) return {};
  const auto status = child->Wait(60000);
  if (code != nullptr) *code = status && status->exited ? status->exit_code : -1;
  std::string text;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    text += content.str();
    fs::remove(entry.path(), ec);
  }
  return text;
}

using testing::HasSubstr;
using testsupport::kThreadSanitizer;

TEST(SanitizerChildReports, AChildsReportLandsInTheTestsFolder) {
  const fs::path folder = ReportFolder(kThreadSanitizer ? "TSAN_OPTIONS" : "ASAN_OPTIONS");
  ASSERT_FALSE(folder.empty());
  EXPECT_THAT(RunAndTakeReport(folder, kThreadSanitizer ? "race" : "heap"),
              HasSubstr(kThreadSanitizer ? "WARNING: ThreadSanitizer: data race"
                                         : "ERROR: AddressSanitizer: heap-buffer-overflow"));
  if (!kThreadSanitizer) {
    // GCC's UBSan runtime ignores log_path (its report stays on the
    // child's stderr); the hook's exit code is what marks the child.
    int code = 0;
    RunAndTakeReport(folder, "overflow", &code);
    EXPECT_EQ(code, 86);
  }
}

}  // namespace

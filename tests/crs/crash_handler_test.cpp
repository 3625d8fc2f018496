// The crash handler end to end: crs_crash_target starts as the host does and
// crashes on purpose.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "crs_test_support.h"
#include "support/content_server.h"
#include "support/sanitizer_build.h"

namespace {

namespace fs = std::filesystem;
using crs_test::Fault;
using crs_test::FindFiles;
using crs_test::ReadFile;

class CrashHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!service_.Start(&why)) GTEST_SKIP() << why;
    // A copy of the program per test, so that the CRS.ini beside it is its own.
    exe_ = tmp_.path() / "bin" / BY_SYSTEM("ServerApp", "ServerApp.exe");
    fs::create_directories(exe_.parent_path());
    fs::copy_file(SERVERAPP_BINARY_DIR BY_SYSTEM("/tests/crs/crs_crash_target",
                                                 "/tests/crs/crs_crash_target.exe"),
                  exe_);
    crs_test::WriteWhole(exe_.parent_path() / "CRS.ini",
                         "[CRS]\r\nURL=" + service_.CrashUrl() + "\r\n");
    // Normal dumps keep the readers quick (a full one of Wine is 100s of MB).
    Settings("[GameMgmt]\r\nFullDump=0\r\n");
  }

  void Settings(const std::string& text) {
    crs_test::WriteWhole(tmp_.path() / "run" / "Setting.ini", text);
  }
  fs::path LogRoot() const { return log_base_ / "quellmark" / "ServerApp"; }
  crs_test::ProcessResult Crash(const std::string& args) {
    std::vector<std::string> split;
    std::istringstream in(args);
    for (std::string arg; in >> arg;) split.push_back(arg);
    return crs_test::RunProcess(exe_.string(), split, tmp_.path() / "run",
                                {{"SERVERAPP_LOG_BASE", log_base_.string()}});
  }
  std::vector<fs::path> Dumps() const { return FindFiles(LogRoot(), "[2112]dmp"); }
  std::string HostLog() const {
    std::string text;
    for (const fs::path& log : FindFiles(LogRoot(), ".log")) text += ReadFile(log);
    return text;
  }

  crs_test::TempFolder tmp_;
  fs::path log_base_ = tmp_.path() / "log";
  testsupport::ContentServer service_;
  fs::path exe_;
};

// The module frame 0 of the stack text names (Wine's DbgHelp gives module
// names in lower case).
constexpr const char* kProgram = BY_SYSTEM("ServerApp", "serverapp");

struct FaultRow {
  const char* id;
  const char* args;  // separated by spaces
  Fault fault;
  const char* function;
  // abort faults inside the C library, whose frames keep no frame pointer:
  // the stack text stops there, the debugger unwinds the dump to our frame.
  const char* text_module = kProgram;
  // The stack overflow's dump is a full one, the default without a FullDump
  // setting (but under TSan a full dump is half a gigabyte of shadow memory,
  // more than an upload finishes within its time-outs).
  bool full = false;
  bool all_threads = true;
  size_t days = 1;  // day folders under the log root
  // Two faulting threads: the second one's entry sometimes has no stack
  // memory, an error to minidump_stackwalk; what counts is one report.
  bool read = true;
};

const FaultRow kFaultRows[] = {
    {"NullWriteOnTheMainThread", "null-main", Fault::kAccessViolation, "CrashTargetNullWrite"},
    {"NullWriteOnAnotherThread", "null-thread", Fault::kAccessViolation, "CrashTargetNullWrite"},
    // Reported from the alternate signal stack (POSIX) or a fresh thread.
    {"StackOverflow", "overflow", Fault::kStackOverflow, "CrashTargetRecurse", kProgram,
     BY_SYSTEM(!testsupport::kThreadSanitizer, false)},
    // abort stands in for the invalid-parameter path on POSIX.
    {"Abort", "abort", Fault::kAbort, "CrashTargetAbort", BY_SYSTEM("libc.so", "kernelbase")},
    {"InvalidParameterHandlerRaisesAnAccessViolation", "invalid-parameter", Fault::kAccessViolation,
     "main", BY_SYSTEM("libc.so", "serverapp")},
    {"ASecondFaultingThreadWaitsForTheFirstReport", "two-threads", Fault::kAccessViolation,
     "CrashTargetNullWrite", kProgram, false, true, 1, false},
    // The crash's day gets its folder; start-up made its own.
    {"ACrashOnALaterDayGoesToThatDaysFolder", "null-main --shift-days 1", Fault::kAccessViolation,
     "CrashTargetNullWrite", kProgram, false, true, 2},
#ifndef _WIN32
    // Where ptrace is forbidden (Yama, a container's seccomp profile) or no
    // process can be made, the faulting thread alone is dumped.
    {"WithoutPtraceTheFaultingThreadIsDumped", "null-thread --deny ptrace", Fault::kAccessViolation,
     "CrashTargetNullWrite", kProgram, false, false},
    {"WithoutANewProcessTheFaultingThreadIsDumped", "null-thread --deny clone",
     Fault::kAccessViolation, "CrashTargetNullWrite", kProgram, false, false},
#endif
};

void PrintTo(const FaultRow& row, std::ostream* out) {
  *out << row.id;
}

// One test per kind of fault, so that they run side by side.
class EachFault : public CrashHandlerTest, public ::testing::WithParamInterface<FaultRow> {};
INSTANTIATE_TEST_SUITE_P(CrashHandlerTest, EachFault, ::testing::ValuesIn(kFaultRows),
                         [](const auto& info) { return std::string(info.param.id); });

TEST_P(EachFault, IsReportedAndReadable) {
  const FaultRow& row = GetParam();
  Settings(row.full ? "" : "[GameMgmt]\r\nFullDump=0\r\n");
  const crs_test::ProcessResult result = Crash(row.args);
  EXPECT_EQ(crs_test::FaultExit(row.fault), result.code) << result.output;

  const std::vector<fs::path> dumps = Dumps();
  ASSERT_EQ(1u, dumps.size());
  const fs::path& dump = dumps[0];
  crs_test::ExpectDumpPlace(dump, LogRoot(), "CRASHHOST", "7_3");
  size_t days = 0;
  for (const auto& day : fs::directory_iterator(LogRoot())) days += day.is_directory() ? 1 : 0;
  EXPECT_EQ(row.days, days);
  EXPECT_EQ(row.full, crs_test::ReadMinidump(ReadFile(dump)).full_memory);
  EXPECT_FALSE(FindFiles(dump.parent_path(), ".log").empty()) << "the crash's day has its log";

  const std::string text = crs_test::ExpectUploaded(service_, dump, HostLog());
  EXPECT_NE(std::string::npos, text.find(crs_test::ExceptionCodeLine(row.fault) + "\r\n")) << text;
  EXPECT_NE(std::string::npos, text.find(" 0 0x")) << text;
  EXPECT_NE(std::string::npos, text.find("(" + std::string(row.text_module) + "+0x")) << text;
  if (row.read) crs_test::ExpectReadable(exe_, dump, row.fault, row.function, row.all_threads);
}

// What is not reported, or not delivered: nothing is uploaded, the dump
// stays where it can be, the host log tells why.
TEST_F(CrashHandlerTest, UnreportedAndUndeliveredCrashes) {
  // A dump path over 255 characters whose folder fits: a name cut to fit
  // would name another file in that folder.
  fs::path long_base = log_base_ / std::string(100, 'a');
  long_base /= std::string(200 - long_base.string().size(), 'b');
  const struct {
    const char* name;
    const char* mode;
    std::string log_base;
    bool crs_ini;
    size_t dumps;
    const char* log_line;  // nullptr: no "CRS Upload" line at all
  } rows[] = {
#ifndef _WIN32  // under Wine the host log's own path would pass MAX_PATH
      {"a dump path over 255 characters writes no dump", "null-main", long_base.string(), true, 0,
       "[ERROR] CRS Upload Failed: exists not path="},
#endif
      {"the quiet filter writes nothing", "quiet", log_base_.string(), true, 0, nullptr},
      {"without CRS.ini the dump stays", "null-thread", log_base_.string(), false, 1,
       "[ERROR] CRS Upload Failed: disabled URL= "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    log_base_ = row.log_base;
    fs::remove_all(log_base_);
    if (!row.crs_ini) fs::remove(exe_.parent_path() / "CRS.ini");
    const crs_test::ProcessResult result = Crash(row.mode);
    EXPECT_EQ(crs_test::FaultExit(Fault::kAccessViolation), result.code) << result.output;
    EXPECT_EQ(row.dumps, Dumps().size());
    EXPECT_TRUE(service_.Uploads().empty());
    const std::string log = HostLog();
    if (row.log_line == nullptr) {
      EXPECT_EQ(std::string::npos, log.find("CRS Upload")) << log;
    } else {
      EXPECT_NE(std::string::npos, log.find(row.log_line)) << log;
    }
  }
}

}  // namespace

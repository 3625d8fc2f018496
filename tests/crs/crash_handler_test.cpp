// The crash handler end to end on both systems: a helper program
// (crs_crash_target) starts as the host does and crashes on purpose; the
// dump, the uploads, the host log line and the system's readings of the
// dump (crs_test::ExpectReadable) are checked.
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
    // Each test has its own copy of the program, so that its CRS.ini (next
    // to the executable) is its own.
    exe_ = tmp_.path() / "bin" / BY_SYSTEM("ServerApp", "ServerApp.exe");
    fs::create_directories(exe_.parent_path());
    fs::create_directories(tmp_.path() / "run");
    fs::copy_file(SERVERAPP_BINARY_DIR BY_SYSTEM("/tests/crs/crs_crash_target",
                                                 "/tests/crs/crs_crash_target.exe"),
                  exe_);
    crs_test::WriteWhole(exe_.parent_path() / "CRS.ini",
                         "[CRS]\r\nURL=" + service_.CrashUrl() + "\r\n");
    // Normal dumps keep the readers quick; a full-memory dump of a Wine
    // process is hundreds of megabytes.
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
                                {"SERVERAPP_LOG_BASE=" + log_base_.string()});
  }
  // The dumps under the log root.
  std::vector<fs::path> Dumps() const { return FindFiles(LogRoot(), "[2112]dmp"); }
  // Every host log line under the log root.
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

// Each kind of fault: its exit, the one dump in <root>/<its day>/<instance>/
// under its name, the stack text and the dump uploaded with the version
// header, the log line, and the readers of the dump naming the faulting
// function. One test per row, so that they run side by side.
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
  // The stack overflow's full dump is read as well (but under TSan a full
  // dump is half a gigabyte of shadow memory, more than an upload finishes
  // within its time-outs).
  bool full = false;
  bool all_threads = true;
  size_t days = 1;  // day folders under the log root
  // Two faulting threads: the second one's entry in the dump sometimes has
  // no stack memory, which minidump_stackwalk reports as an error (seen on
  // Linux, left to the writer): what counts here is one report.
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
  EXPECT_FALSE(FindFiles(dump.parent_path(), ".log").empty()) << "the crash's day has its log";

  const std::string text =
      crs_test::ExpectUploaded(service_.Uploads(), service_.CrashStore(), dump);
  EXPECT_NE(std::string::npos, text.find(crs_test::ExceptionCodeLine(row.fault) + "\r\n")) << text;
  EXPECT_NE(std::string::npos, text.find(" 0 0x")) << text;
  EXPECT_NE(std::string::npos, text.find("(" + std::string(row.text_module) + "+0x")) << text;
  EXPECT_NE(std::string::npos,
            HostLog().find("[INFO_] CRS Upload Succeeded: " + service_.CrashUrl() + " \r\r\n"));
  if (row.read) crs_test::ExpectReadable(exe_, dump, row.fault, row.function, row.all_threads);
}

// What is not reported, or not delivered: the dump stays where it can be,
// the host log tells why.
TEST_F(CrashHandlerTest, UnreportedAndUndeliveredCrashes) {
  // A dump path over 255 characters whose folder fits: a name cut to fit
  // would name another file in that folder.
  fs::path long_base = log_base_ / std::string(100, 'a');
  long_base /= std::string(200 - long_base.string().size(), 'b');
  const struct {
    const char* name;
    const char* mode;
    const char* control;  // for the crash-report service
    std::string log_base;
    size_t dumps;
    const char* log_line;  // nullptr: no "CRS Upload" line at all
  } rows[] = {
      {"a status other than 200 is a failure", "null-thread", "/_control/crs?status=201",
       log_base_.string(), 1, "[ERROR] CRS Upload Failed: LOG HTTP[201] URL="},
#ifndef _WIN32  // under Wine the host log's own path would pass MAX_PATH
      {"a dump path over 255 characters writes no dump", "null-main", nullptr, long_base.string(),
       0, "[ERROR] CRS Upload Failed: exists not path="},
#endif
      {"the quiet filter writes nothing", "quiet", nullptr, log_base_.string(), 0, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    log_base_ = row.log_base;
    fs::remove_all(log_base_);
    const size_t earlier = service_.Uploads().size();
    if (row.control != nullptr) {
      ASSERT_EQ(200, service_.Control(row.control));
    }
    const crs_test::ProcessResult result = Crash(row.mode);
    EXPECT_EQ(crs_test::FaultExit(Fault::kAccessViolation), result.code) << result.output;
    EXPECT_EQ(row.dumps, Dumps().size());
    const std::string log = HostLog();
    if (row.log_line == nullptr) {
      EXPECT_EQ(earlier, service_.Uploads().size());
      EXPECT_EQ(std::string::npos, log.find("CRS Upload")) << log;
    } else {
      EXPECT_NE(std::string::npos, log.find(row.log_line)) << log;
    }
    ASSERT_EQ(200, service_.Control("/_control/crs?status=200"));
  }
  // Without the quiet filter the same program does write: the row above is
  // not vacuous.
  Crash("null-main");
  EXPECT_EQ(1u, Dumps().size());
}

// "FullDump" is read at crash time and defaults to a full dump.
TEST_F(CrashHandlerTest, FullDumpZeroGivesASmallerDump) {
#ifdef _WIN32
  GTEST_SKIP() << "a full-memory dump of a Wine process is hundreds of megabytes";
#endif
  std::vector<uintmax_t> sizes;
  for (const char* settings : {"[GameMgmt]\nFullDump=0\n", "[GameMgmt]\nFullDump=1\n", ""}) {
    fs::remove_all(log_base_);
    Settings(settings);
    Crash("null-main");
    const std::vector<fs::path> dumps = Dumps();
    ASSERT_EQ(1u, dumps.size()) << settings;
    sizes.push_back(fs::file_size(dumps[0]));
  }
  EXPECT_LT(sizes[0], sizes[1]);
  EXPECT_LT(sizes[0], sizes[2]);
}

}  // namespace

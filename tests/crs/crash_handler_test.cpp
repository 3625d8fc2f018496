// The crash handler end to end: a helper program (crs_crash_target) starts
// as the host does and crashes on purpose; the dump, the uploads, the host
// log line and the readings of the dump by LLDB and by Breakpad's
// minidump_stackwalk are checked.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "crash_service.h"
#include "crs_test_support.h"
#include "dev_server.h"
#include "hostlogger.h"
#include "support/sanitizer_build.h"

namespace {

namespace fs = std::filesystem;
using crs_test::FindFiles;
using crs_test::ReadWhole;
using crs_test::WriteWhole;

// Compares two files in chunks (full dumps of sanitizer builds are large).
bool SameBytes(const fs::path& a, const fs::path& b) {
  std::ifstream fa(a, std::ios::binary);
  std::ifstream fb(b, std::ios::binary);
  std::vector<char> ba(1 << 20);
  std::vector<char> bb(1 << 20);
  while (fa && fb) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount() ||
        std::memcmp(ba.data(), bb.data(), static_cast<size_t>(fa.gcount())) != 0) {
      return false;
    }
  }
  return fa.eof() && fb.eof();
}

const std::regex kDumpName("\\[2112\\]dmp_ServerApp_CRASHHOST_([0-9]{8})-([0-9]{2})[0-9]{7}\\.dmp");

class CrashHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_ = std::make_unique<devhttp::CrashService>("/crs/", tmp_.path() / "store");
    service_->Register(server_.server());
    port_ = server_.Start("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    // Each test has its own copy of the program, so that its CRS.ini (next
    // to the executable) is its own.
    fs::create_directories(tmp_.path() / "bin");
    fs::create_directories(tmp_.path() / "run");
    exe_ = tmp_.path() / "bin" / "ServerApp";
    fs::copy_file(SERVERAPP_BINARY_DIR "/tests/crs/crs_crash_target", exe_);
  }

  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/crs/"; }
  void WriteCrsIni() { WriteWhole(exe_.parent_path() / "CRS.ini", "[CRS]\nURL=" + Url() + "\n"); }
  void WriteSettings(const std::string& text) {
    WriteWhole(tmp_.path() / "run" / "Setting.ini", text);
  }
  fs::path LogRoot() const { return tmp_.path() / "log" / "quellmark" / "ServerApp"; }

  crs_test::ProcessResult Crash(const std::vector<std::string>& args) {
    return crs_test::RunProcess(exe_.string(), args, tmp_.path() / "run",
                                {"SERVERAPP_LOG_BASE=" + (tmp_.path() / "log").string()});
  }

  // The one dump under the log root; fails the test when there is not
  // exactly one.
  fs::path OnlyDump() {
    auto dumps = FindFiles(LogRoot(), ".dmp");
    EXPECT_EQ(1u, dumps.size());
    return dumps.empty() ? fs::path() : dumps[0];
  }

  // The host log's main file for the crash named by the dump, as the host
  // logger itself names it.
  std::string MainLogOf(const fs::path& dump) {
    std::smatch m;
    std::string name = dump.filename().string();
    if (!std::regex_match(name, m, kDumpName)) return {};
    setenv("SERVERAPP_LOG_BASE", (tmp_.path() / "log").c_str(), 1);
    InitHostLogger("CRASHHOST", "ServerApp", "7_3");
    platform::LocalTime t;
    std::string day = m[1];
    t.year = std::stoi(day.substr(0, 4));
    t.month = std::stoi(day.substr(4, 2));
    t.day = std::stoi(day.substr(6, 2));
    t.hour = std::stoi(m[2]);
    char path[512];
    EXPECT_TRUE(GetHostLogPath(HostLogFile::kMain, t, path, sizeof(path)));
    return ReadWhole(path);
  }

  std::string Lldb(const fs::path& dump) {
    auto result = crs_test::RunProcess(
        "/usr/bin/lldb",
        {"--no-lldbinit", "--batch", "-o",
         "target create \"" + exe_.string() + "\" --core \"" + dump.string() + "\"", "-o",
         "thread list", "-o", "thread backtrace all"},
        tmp_.path(), {});
    return result.output;
  }

  // Both readers see every thread of the dump (the helper's work), or the
  // faulting one alone (helper refused), and put the faulting function on
  // the crashed thread and the parked one's on another.
  void ExpectReadable(const fs::path& dump, int signal, const std::string& function,
                      bool all_threads) {
    const std::string bytes = ReadWhole(dump);
    const size_t threads = crs_test::MinidumpThreadCount(bytes);
    // The faulting thread, the parked one, main (when it is not the
    // faulting one) and any of a sanitizer's own.
    if (all_threads) {
      EXPECT_LE(2u, threads);
    } else {
      EXPECT_EQ(1u, threads);
    }
    const std::string lldb = Lldb(dump);
    EXPECT_EQ(threads, crs_test::LldbThreadCount(lldb)) << lldb;
    EXPECT_NE(std::string::npos, lldb.find(function)) << lldb;
    EXPECT_EQ(all_threads, lldb.find("CrashTargetParked") != std::string::npos) << lldb;
    EXPECT_NE(std::string::npos, lldb.find(signal == SIGABRT ? "SIGABRT" : "SIGSEGV")) << lldb;

    const fs::path store = tmp_.path() / "symbols";
    std::vector<fs::path> binaries = crs_test::RuntimeLibraries();
    binaries.push_back(exe_);
    ASSERT_TRUE(crs_test::MakeSymbols(binaries, store));
    const crs_test::StackwalkReading walk = crs_test::Stackwalk(dump, store);
    EXPECT_EQ(0u, walk.crash_reason.find(signal == SIGABRT ? "SIGABRT" : "SIGSEGV")) << walk.text;
    EXPECT_EQ(threads, walk.threads.size()) << walk.text;
    EXPECT_EQ(0, walk.crashed_thread) << walk.text;
    EXPECT_EQ(0, walk.ThreadWith("ServerApp!" + function)) << walk.text;
    const int parked = walk.ThreadWith("ServerApp!CrashTargetParked");
    EXPECT_EQ(all_threads, parked > 0) << walk.text;
  }

  // One crash kind: signal, dump name and folder, both uploads with the
  // version header, the log line, and the readers of the dump naming the
  // faulting function. text_module: the module the stack text's frame 0
  // names. Normal dumps keep the debugger quick (full dumps of sanitizer
  // builds are large); the stack overflow's full dump is read as well.
  // deny: what a seccomp filter forbids ("ptrace", "clone"; see
  // crash_target.cpp), so the dump helper cannot run.
  void ExpectReported(const std::string& mode, int signal, const std::string& function, bool full,
                      const std::string& text_module = "ServerApp", const std::string& deny = "") {
    WriteCrsIni();
    if (!full) WriteSettings("[GameMgmt]\nFullDump=0\n");
    std::vector<std::string> args{mode};
    if (!deny.empty()) args.insert(args.end(), {"--deny", deny});
    auto result = Crash(args);
    ASSERT_FALSE(result.exited) << result.output;
    EXPECT_EQ(signal, result.code) << result.output;

    fs::path dump = OnlyDump();
    ASSERT_FALSE(dump.empty());
    std::smatch m;
    std::string name = dump.filename().string();
    ASSERT_TRUE(std::regex_match(name, m, kDumpName)) << name;
    EXPECT_EQ("7_3", dump.parent_path().filename());
    EXPECT_EQ(m[1].str(), dump.parent_path().parent_path().filename());

    auto objects = service_->Objects();
    ASSERT_EQ(2u, objects.size());
    EXPECT_TRUE(std::regex_match(objects[0].name,
                                 std::regex("ServerApp_.*_[0-9]{8}-[0-9]{9}_[0-9]+_crs\\.log")))
        << objects[0].name;
    std::string text = ReadWhole(service_->folder() / objects[0].name);
    EXPECT_EQ(0u, text.find("# Exception Infomation\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find(" 0 0x")) << text;
    EXPECT_NE(std::string::npos, text.find("(" + text_module + "+0x")) << text;
    EXPECT_EQ(name, objects[1].name);
    EXPECT_TRUE(SameBytes(dump, service_->folder() / objects[1].name));
    EXPECT_EQ("2112", objects[0].version);
    EXPECT_EQ("2112", objects[1].version);

    EXPECT_NE(std::string::npos,
              MainLogOf(dump).find("[INFO_] CRS Upload Succeeded: " + Url() + " \r\r\n"));
    ExpectReadable(dump, signal, function, deny.empty());
  }

  crs_test::TempFolder tmp_;
  std::unique_ptr<devhttp::CrashService> service_;
  // Declared after the service so that it is destroyed first: its thread
  // may still be handling an upload, which must not reach a freed service.
  devhttp::DevServer server_;
  int port_ = 0;
  fs::path exe_;
};

TEST_F(CrashHandlerTest, NullWriteOnTheMainThread) {
  ExpectReported("null-main", SIGSEGV, "CrashTargetNullWrite", false);
}

TEST_F(CrashHandlerTest, NullWriteOnAnotherThread) {
  ExpectReported("null-thread", SIGSEGV, "CrashTargetNullWrite", false);
}

// Where ptrace is forbidden (Yama, a container's seccomp profile) or no
// process can be made, the faulting thread alone is dumped and uploaded.
TEST_F(CrashHandlerTest, WithoutPtraceTheFaultingThreadIsDumped) {
  ExpectReported("null-thread", SIGSEGV, "CrashTargetNullWrite", false, "ServerApp", "ptrace");
}

TEST_F(CrashHandlerTest, WithoutANewProcessTheFaultingThreadIsDumped) {
  ExpectReported("null-thread", SIGSEGV, "CrashTargetNullWrite", false, "ServerApp", "clone");
}

TEST_F(CrashHandlerTest, StackOverflowIsReportedFromTheAlternateStack) {
  // Under TSan a full dump is half a gigabyte of shadow memory, more than an
  // upload finishes within its time-outs on a loaded machine.
  ExpectReported("overflow", SIGSEGV, "CrashTargetRecurse", !testsupport::kThreadSanitizer);
}

TEST_F(CrashHandlerTest, AbortStandsInForTheInvalidParameterPath) {
  // abort faults inside the C library, whose frames keep no frame pointer:
  // the stack text stops there, the debugger unwinds the dump to our frame.
  ExpectReported("abort", SIGABRT, "CrashTargetAbort", false, "libc.so");
}

TEST_F(CrashHandlerTest, InvalidParameterHandlerRaisesAnAccessViolation) {
  WriteCrsIni();
  auto result = Crash({"invalid-parameter"});
  ASSERT_FALSE(result.exited);
  EXPECT_EQ(SIGSEGV, result.code);
  fs::path dump = OnlyDump();
  ASSERT_FALSE(dump.empty());
  // Exception stream (type 6): code at +8 is the signal number.
  std::string bytes = ReadWhole(dump);
  uint32_t count = 0, directory = 0;
  std::memcpy(&count, bytes.data() + 8, 4);
  std::memcpy(&directory, bytes.data() + 12, 4);
  bool found = false;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t type = 0, rva = 0, code = 0;
    std::memcpy(&type, bytes.data() + directory + i * 12, 4);
    std::memcpy(&rva, bytes.data() + directory + i * 12 + 8, 4);
    if (type != 6) continue;
    std::memcpy(&code, bytes.data() + rva + 8, 4);
    EXPECT_EQ(static_cast<uint32_t>(SIGSEGV), code);
    found = true;
  }
  EXPECT_TRUE(found);
}

TEST_F(CrashHandlerTest, FullDumpZeroGivesASmallerDump) {
  WriteCrsIni();
  WriteSettings("[GameMgmt]\nFullDump=0\n");
  Crash({"null-main"});
  fs::path normal = OnlyDump();
  ASSERT_FALSE(normal.empty());
  uintmax_t normal_size = fs::file_size(normal);
  fs::remove_all(tmp_.path() / "log");

  WriteSettings("[GameMgmt]\nFullDump=1\n");
  Crash({"null-main"});
  fs::path full = OnlyDump();
  ASSERT_FALSE(full.empty());
  EXPECT_LT(normal_size, fs::file_size(full));
  // The setting is read at crash time and defaults to a full dump.
  fs::remove_all(tmp_.path() / "log");
  fs::remove(tmp_.path() / "run" / "Setting.ini");
  Crash({"null-main"});
  fs::path by_default = OnlyDump();
  ASSERT_FALSE(by_default.empty());
  EXPECT_LT(normal_size, fs::file_size(by_default));
}

TEST_F(CrashHandlerTest, WithoutCrsIniTheUploadFailsAndTheDumpStays) {
  ASSERT_FALSE(fs::exists("/etc/CRS.ini")) << "a system CRS.ini would be used instead";
  Crash({"null-main"});
  fs::path dump = OnlyDump();
  ASSERT_FALSE(dump.empty());
  EXPECT_GT(fs::file_size(dump), 0u);
  EXPECT_TRUE(service_->Objects().empty());
  EXPECT_NE(std::string::npos,
            MainLogOf(dump).find("[ERROR] CRS Upload Failed: disabled URL= \r\r\n"));
}

TEST_F(CrashHandlerTest, Status201IsAFailure) {
  WriteCrsIni();
  service_->SetStatus(201);
  Crash({"null-main"});
  fs::path dump = OnlyDump();
  ASSERT_FALSE(dump.empty());
  EXPECT_NE(
      std::string::npos,
      MainLogOf(dump).find("[ERROR] CRS Upload Failed: LOG HTTP[201] URL=" + Url() + " \r\r\n"));
}

TEST_F(CrashHandlerTest, QuietFilterWritesNothing) {
  WriteCrsIni();
  auto result = Crash({"quiet"});
  ASSERT_FALSE(result.exited);
  EXPECT_EQ(SIGSEGV, result.code);
  EXPECT_TRUE(FindFiles(LogRoot(), ".dmp").empty());
  EXPECT_TRUE(service_->Objects().empty());
  for (const fs::path& log : FindFiles(LogRoot(), "error_")) {
    EXPECT_EQ(std::string::npos, ReadWhole(log).find("CRS Upload")) << log;
  }
}

TEST_F(CrashHandlerTest, ACrashOnALaterDayGoesToThatDaysFolder) {
  WriteCrsIni();
  Crash({"null-main", "--shift-days", "1"});
  fs::path dump = OnlyDump();
  ASSERT_FALSE(dump.empty());
  std::smatch m;
  std::string name = dump.filename().string();
  ASSERT_TRUE(std::regex_match(name, m, kDumpName));
  fs::path day_folder = dump.parent_path().parent_path();
  EXPECT_EQ(m[1].str(), day_folder.filename());
  // Start-up made its own day's folder; the crash made the next one.
  std::vector<std::string> days;
  for (const auto& entry : fs::directory_iterator(LogRoot())) {
    days.push_back(entry.path().filename());
  }
  std::sort(days.begin(), days.end());
  ASSERT_EQ(2u, days.size());
  EXPECT_EQ(days[1], m[1].str());
  EXPECT_FALSE(MainLogOf(dump).empty());
}

TEST_F(CrashHandlerTest, ASecondFaultingThreadWaitsForTheFirstReport) {
  WriteCrsIni();
  // A normal dump: what counts is that one report is made, and a sanitized
  // build's full dump is too large to upload within the time-outs.
  WriteSettings("[GameMgmt]\nFullDump=0\n");
  auto result = Crash({"two-threads"});
  ASSERT_FALSE(result.exited);
  EXPECT_EQ(SIGSEGV, result.code);
  EXPECT_FALSE(OnlyDump().empty());
  EXPECT_EQ(2u, service_->Objects().size());
}

}  // namespace

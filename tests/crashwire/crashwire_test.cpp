// Crash reporting end to end through a real ServerApp with the reference
// module: each fault the module's `crash` command causes leaves the dump
// under the log base, both uploads reach the development service, the host
// log tells the outcome, and LLDB reads the dump.
#include <signal.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>

#include "crashwire_host.h"
#include "crs_test_support.h"
#include "protocol/gameservermsg.h"
#include "table_text.h"

namespace {

using namespace std::chrono_literals;
using crashwire::CrashRoom;
using crashwire::RoomOptions;
using crs_test::FindFiles;
namespace fs = std::filesystem;

constexpr uint32_t kWmGameServer = 0x440;
// The update thread's next frame may be a whole idle frame (10 s) away,
// and the crash report of a sanitizer build (a large address space to walk
// and dump) takes many seconds more on a busy machine.
constexpr int kCrashExitMs = 30000;

const std::regex kDumpName("\\[2112\\]dmp_ServerApp_(.+)_([0-9]{8})-[0-9]{9}\\.dmp");

// The one dump under the room's log root; empty (and a failure) when
// there is not exactly one.
fs::path OnlyDump(CrashRoom& room) {
  auto dumps = FindFiles(room.LogRoot(), ".dmp");
  EXPECT_EQ(1u, dumps.size());
  return dumps.size() == 1 ? dumps[0] : fs::path();
}

// The dump lies in <log root>/<its day>/<instance>/ and carries the build
// tag and the program's name.
void ExpectDumpPlace(CrashRoom& room, const fs::path& dump) {
  std::smatch m;
  const std::string name = dump.filename().string();
  ASSERT_TRUE(std::regex_match(name, m, kDumpName)) << name;
  EXPECT_EQ(crashwire::kInstance, dump.parent_path().filename().string());
  EXPECT_EQ(m[2].str(), dump.parent_path().parent_path().filename().string());
  EXPECT_EQ(room.LogRoot(), dump.parent_path().parent_path().parent_path());
}

// Both parts reached the service with the version header: the stack text
// first, then the dump under its own name and with its bytes.
void ExpectUploaded(CrashRoom& room, const fs::path& dump) {
  auto objects = room.service().Objects();
  ASSERT_EQ(2u, objects.size());
  EXPECT_TRUE(std::regex_match(objects[0].name,
                               std::regex("ServerApp_.+_[0-9]{8}-[0-9]{9}_[0-9]+_crs\\.log")))
      << objects[0].name;
  const std::string text = crs_test::ReadWhole(room.service().folder() / objects[0].name);
  EXPECT_EQ(0u, text.find("# Exception Infomation\r\n")) << text;
  EXPECT_EQ(dump.filename().string(), objects[1].name);
  EXPECT_EQ(fs::file_size(dump), objects[1].size);
  EXPECT_EQ(crs_test::ReadWhole(dump),
            crs_test::ReadWhole(room.service().folder() / objects[1].name));
  EXPECT_EQ("2112", objects[0].version);
  EXPECT_EQ("2112", objects[1].version);
  EXPECT_NE(std::string::npos,
            room.folder().HostLog().find("[INFO_] CRS Upload Succeeded: " + room.Url()));
}

// One crash command on a ready room: the exit by the signal, the dump, the
// uploads and the log line. Answers the dump.
fs::path CrashAndCheck(CrashRoom& room, const std::string& command, int signal) {
  EXPECT_TRUE(room.Start());
  EXPECT_TRUE(room.Command(command));
  EXPECT_EQ(-signal, room.WaitExit(kCrashExitMs));
  fs::path dump = OnlyDump(room);
  if (dump.empty()) return dump;
  ExpectDumpPlace(room, dump);
  ExpectUploaded(room, dump);
  return dump;
}

// The module's null write on the window thread: LLDB loads the dump with
// the host's executable and names the module's faulting function.
TEST(CrashWire, NullWriteOnTheWindowThreadIsReportedAndReadable) {
  CrashRoom room;
  fs::path dump = CrashAndCheck(room, "crash null", SIGSEGV);
  ASSERT_FALSE(dump.empty());
  const std::string stack =
      crs_test::ReadWhole(room.service().folder() / room.service().Objects().at(0).name);
  EXPECT_NE(std::string::npos, stack.find("# ExceptionCode=0xB")) << stack;
  EXPECT_NE(std::string::npos, stack.find("(server_d_x64+0x")) << stack;

  const std::string lldb = crashwire::LldbBacktrace(room.Executable(), dump);
  EXPECT_NE(std::string::npos, lldb.find("SIGSEGV")) << lldb;
  // Frame 0 is in the module's crash command (the null write itself may be
  // inlined into it), called from the console.
  const size_t frame0 = lldb.find("frame #0:");
  ASSERT_NE(std::string::npos, frame0) << lldb;
  const std::string top = lldb.substr(frame0, lldb.find('\n', frame0) - frame0);
  EXPECT_NE(std::string::npos, top.find("server_d_x64.so`")) << top;
  EXPECT_NE(std::string::npos, top.find("servercrash.cpp")) << top;
  EXPECT_NE(std::string::npos, lldb.find("RunConsoleString")) << lldb;
}

TEST(CrashWire, NullWriteOnTheUpdateThreadIsReported) {
  CrashRoom room;
  fs::path dump = CrashAndCheck(room, "crash update", SIGSEGV);
  ASSERT_FALSE(dump.empty());
  EXPECT_EQ(1u, room.folder().CountTrace("Crash fault on the update thread"));
  // The faulting thread is the update thread: its frames lead back to the
  // host's update loop, not to the console.
  const std::string lldb = crashwire::LldbBacktrace(room.Executable(), dump);
  EXPECT_NE(std::string::npos, lldb.find("WriteThroughNull")) << lldb;
  EXPECT_NE(std::string::npos, lldb.find("ThreadUpdate")) << lldb;
  EXPECT_EQ(std::string::npos, lldb.find("RunConsoleString")) << lldb;
}

TEST(CrashWire, StackOverflowIsReported) {
  CrashRoom room;
  fs::path dump = CrashAndCheck(room, "crash stack", SIGSEGV);
  ASSERT_FALSE(dump.empty());
  EXPECT_GT(fs::file_size(dump), 0u);
}

TEST(CrashWire, AbortIsReported) {
  CrashRoom room;
  fs::path dump = CrashAndCheck(room, "crash abort", SIGABRT);
  ASSERT_FALSE(dump.empty());
  const std::string stack =
      crs_test::ReadWhole(room.service().folder() / room.service().Objects().at(0).name);
  EXPECT_NE(std::string::npos, stack.find("# ExceptionCode=0x6")) << stack;
}

// "FullDump" is read at crash time from the room's Setting.ini: 0 leaves
// the memory of the process out.
#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
constexpr bool kThreadSanitizer = __has_feature(thread_sanitizer);
#else
constexpr bool kThreadSanitizer = false;
#endif

TEST(CrashWire, FullDumpZeroGivesASmallerDump) {
  if (kThreadSanitizer) {
    // ThreadSanitizer's shadow memory makes a full-memory dump take longer
    // than the exit deadline; the other builds compare the two sizes.
    GTEST_SKIP() << "full-memory dumps of a ThreadSanitizer process are too large";
  }
  CrashRoom normal_room(RoomOptions{.full_dump = 0});
  CrashRoom full_room(RoomOptions{.full_dump = 1});
  ASSERT_TRUE(normal_room.Start());
  ASSERT_TRUE(full_room.Start());
  ASSERT_TRUE(normal_room.Command("crash null"));
  ASSERT_TRUE(full_room.Command("crash null"));
  EXPECT_EQ(-SIGSEGV, normal_room.WaitExit(kCrashExitMs));
  EXPECT_EQ(-SIGSEGV, full_room.WaitExit(kCrashExitMs));
  fs::path normal = OnlyDump(normal_room);
  fs::path full = OnlyDump(full_room);
  ASSERT_FALSE(normal.empty());
  ASSERT_FALSE(full.empty());
  // The full dump holds at least the host's and the module's mapped images
  // on top of what the normal one has.
  EXPECT_LT(fs::file_size(normal) + fs::file_size(normal_room.Executable()), fs::file_size(full))
      << fs::file_size(normal) << " vs " << fs::file_size(full);
}

TEST(CrashWire, WithoutCrsIniTheUploadFailsAndTheDumpStays) {
  ASSERT_FALSE(fs::exists("/etc/CRS.ini")) << "a system CRS.ini would be used instead";
  CrashRoom room(RoomOptions{.crs_ini = false});
  ASSERT_TRUE(room.Start());
  ASSERT_TRUE(room.Command("crash null"));
  EXPECT_EQ(-SIGSEGV, room.WaitExit(kCrashExitMs));
  fs::path dump = OnlyDump(room);
  ASSERT_FALSE(dump.empty());
  ExpectDumpPlace(room, dump);
  EXPECT_GT(fs::file_size(dump), 0u);
  EXPECT_TRUE(room.service().Objects().empty());
  EXPECT_NE(std::string::npos,
            room.folder().HostLog().find("[ERROR] CRS Upload Failed: disabled URL= "));
}

// A fault sent from outside is reported like any other: the control for
// the terminate case below, which sends the same signal.
TEST(CrashWire, ASegvSentToARunningHostIsReported) {
  CrashRoom room;
  ASSERT_TRUE(room.Start());
  ASSERT_EQ(0, kill(static_cast<pid_t>(room.host().pid()), SIGSEGV));
  EXPECT_EQ(-SIGSEGV, room.WaitExit(kCrashExitMs));
  fs::path dump = OnlyDump(room);
  ASSERT_FALSE(dump.empty());
  ExpectUploaded(room, dump);
}

// After GAMESERVERMSG_TERMINATE a fault ends the host quietly. A module
// stuck in IsPreparing keeps the ending host alive for the update thread's
// 5 s grace, long enough to fault it once the terminate has been handled.
TEST(CrashWire, AfterTerminateAFaultWritesNothing) {
  CrashRoom room(RoomOptions{.switches = {{"PreparingUpdates", "5"}, {"HangInIsPreparing", "2"}}});
  ASSERT_TRUE(room.Start(GAMESERVERMSG_REPORT_HWND));
  ASSERT_TRUE(room.folder().WaitForTrace("IsPreparing 0 call=2", 15s));
  ASSERT_TRUE(room.manager().Post(room.window(), kWmGameServer, GAMESERVERMSG_TERMINATE, 0));
  ASSERT_TRUE(room.folder().WaitForHostLog(hosttest::TableText(43), 3s));
  // The update thread is still being waited for: the host is alive.
  ASSERT_EQ(-1000, room.WaitExit(0));
  ASSERT_EQ(0, kill(static_cast<pid_t>(room.host().pid()), SIGSEGV));
  EXPECT_EQ(-SIGSEGV, room.WaitExit(kCrashExitMs));
  EXPECT_TRUE(FindFiles(room.LogRoot(), ".dmp").empty());
  EXPECT_TRUE(room.service().Objects().empty());
  EXPECT_EQ(std::string::npos, room.folder().HostLog().find("CRS Upload"));
}

}  // namespace

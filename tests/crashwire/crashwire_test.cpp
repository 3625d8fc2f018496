// Crash reporting end to end through a real ServerApp with the reference
// module: each fault the module's `crash` command causes leaves the dump
// under the log base, both uploads reach the development service, the host
// log tells the outcome, and the system's debugger reads the dump.
#include <gtest/gtest.h>

#include <string>

#include "crashwire_host.h"
#include "protocol/gameservermsg.h"
#include "table_text.h"

namespace {

using namespace std::chrono_literals;
using crashwire::CrashRoom;
using crashwire::Fault;
using crashwire::FaultExit;
using crashwire::FaultThread;
using crashwire::RoomOptions;
using crs_test::FindFiles;
namespace fs = std::filesystem;

constexpr uint32_t kWmGameServer = 0x440;
// The update thread's next frame may be a whole idle frame (10 s) away,
// and the crash report of a sanitizer build (a large address space to walk
// and dump) takes many seconds more on a busy machine.
constexpr int kCrashExitMs = 30000;

#define SKIP_WITHOUT_SERVICES(room) \
  if (!(room).unavailable().empty()) GTEST_SKIP() << (room).unavailable()

// The one dump under the room's log root; empty (and a failure) when
// there is not exactly one.
fs::path OnlyDump(CrashRoom& room) {
  auto dumps = FindFiles(room.LogRoot(), ".dmp");
  EXPECT_EQ(1u, dumps.size());
  return dumps.size() == 1 ? dumps[0] : fs::path();
}

// Both parts reached the service and the host log tells; answers the stack
// text.
std::string ExpectUploaded(CrashRoom& room, const fs::path& dump) {
  EXPECT_NE(std::string::npos,
            room.folder().HostLog().find("[INFO_] CRS Upload Succeeded: " + room.Url()));
  return crs_test::ExpectUploaded(room.services().Uploads(), room.services().CrashStore(), dump);
}

// The module's null write, called from the console on the window thread
// (`crash null`) or made by the update thread (`crash update`): the exit,
// the dump, the uploads, the log line, and the system's debugger loading the
// dump with the host's executable: the fault in the module's code on that
// thread, every thread there (the other one waits in its loop).
struct NullWriteRow {
  const char* id;
  const char* command;
  FaultThread thread;
  size_t update_thread_traces;  // "Crash fault on the update thread"
};

void PrintTo(const NullWriteRow& row, std::ostream* out) {
  *out << row.id;
}

class NullWrite : public ::testing::TestWithParam<NullWriteRow> {};
INSTANTIATE_TEST_SUITE_P(CrashWire, NullWrite,
                         ::testing::Values(NullWriteRow{"OnTheWindowThread", "crash null",
                                                        FaultThread::kWindowThread, 0},
                                           NullWriteRow{"OnTheUpdateThread", "crash update",
                                                        FaultThread::kOtherThread, 1}),
                         [](const auto& info) { return std::string(info.param.id); });

TEST_P(NullWrite, IsReportedAndReadable) {
  CrashRoom room;
  SKIP_WITHOUT_SERVICES(room);
  ASSERT_TRUE(room.Start());
  ASSERT_TRUE(room.Command(GetParam().command));
  EXPECT_EQ(FaultExit(Fault::kAccessViolation), room.WaitExit(kCrashExitMs));
  const fs::path dump = OnlyDump(room);
  ASSERT_FALSE(dump.empty());
  crs_test::ExpectDumpPlace(dump, room.LogRoot(), ".+", crashwire::kInstance);
  const std::string stack = ExpectUploaded(room, dump);
  EXPECT_EQ(GetParam().update_thread_traces,
            room.folder().CountTrace("Crash fault on the update thread"));
  EXPECT_NE(std::string::npos, stack.find(crs_test::ExceptionCodeLine(Fault::kAccessViolation)))
      << stack;
  EXPECT_NE(std::string::npos, stack.find("(server_d_x64+0x")) << stack;

  crashwire::ExpectReadable(room.Executable(), dump, room.window_thread(), GetParam().thread);
}

TEST(CrashWire, WithoutCrsIniTheUploadFailsAndTheDumpStays) {
  ASSERT_FALSE(fs::exists(crashwire::SystemCrsIni()))
      << "a system CRS.ini would be used instead: " << crashwire::SystemCrsIni();
  CrashRoom room(RoomOptions{.crs_ini = false});
  SKIP_WITHOUT_SERVICES(room);
  ASSERT_TRUE(room.Start());
  ASSERT_TRUE(room.Command("crash null"));
  EXPECT_EQ(FaultExit(Fault::kAccessViolation), room.WaitExit(kCrashExitMs));
  fs::path dump = OnlyDump(room);
  ASSERT_FALSE(dump.empty());
  crs_test::ExpectDumpPlace(dump, room.LogRoot(), ".+", crashwire::kInstance);
  EXPECT_GT(fs::file_size(dump), 0u);
  EXPECT_TRUE(room.services().Uploads().empty());
  EXPECT_NE(std::string::npos,
            room.folder().HostLog().find("[ERROR] CRS Upload Failed: disabled URL= "));
}

// A fault sent from outside is reported like any other: the control for
// the terminate case below, which sends the same fault.
TEST(CrashWire, ASegvSentToARunningHostIsReported) {
  CrashRoom room;
  SKIP_WITHOUT_SERVICES(room);
  ASSERT_TRUE(room.Start());
  ASSERT_TRUE(crashwire::FaultFromOutside(room.host().pid()));
  EXPECT_EQ(FaultExit(Fault::kAccessViolation), room.WaitExit(kCrashExitMs));
  fs::path dump = OnlyDump(room);
  ASSERT_FALSE(dump.empty());
  ExpectUploaded(room, dump);
}

// After GAMESERVERMSG_TERMINATE a fault ends the host quietly. A module
// stuck in IsPreparing keeps the ending host alive for the update thread's
// 5 s grace, long enough to fault it once the terminate has been handled.
TEST(CrashWire, AfterTerminateAFaultWritesNothing) {
  CrashRoom room(RoomOptions{.switches = {{"PreparingUpdates", "5"}, {"HangInIsPreparing", "2"}}});
  SKIP_WITHOUT_SERVICES(room);
  ASSERT_TRUE(room.Start(GAMESERVERMSG_REPORT_HWND));
  ASSERT_TRUE(room.folder().WaitForTrace("IsPreparing 0 call=2", 15s));
  ASSERT_TRUE(room.manager().Post(room.window(), kWmGameServer, GAMESERVERMSG_TERMINATE, 0));
  ASSERT_TRUE(room.folder().WaitForHostLog(hosttest::TableText(43), 3s));
  // The update thread is still being waited for: the host is alive.
  ASSERT_EQ(-1000, room.WaitExit(0));
  ASSERT_TRUE(crashwire::FaultFromOutside(room.host().pid()));
  EXPECT_EQ(FaultExit(Fault::kAccessViolation), room.WaitExit(kCrashExitMs));
  EXPECT_TRUE(FindFiles(room.LogRoot(), ".dmp").empty());
  EXPECT_TRUE(room.services().Uploads().empty());
  EXPECT_EQ(std::string::npos, room.folder().HostLog().find("CRS Upload"));
}

}  // namespace

// Crash reports of a real ServerApp faulted through the reference module's
// `crash` commands, and the module connection seen through its `status`.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "crs_test_support.h"
#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"
#include "protocol/gameservermsg.h"
#include "support/content_server.h"
#include "table_text.h"

namespace {

using namespace std::chrono_literals;
using crs_test::Fault;
using crs_test::FaultExit;
using crs_test::FaultThread;
using crs_test::FindFiles;
namespace fs = std::filesystem;

constexpr uint32_t kWmGameServer = 0x440;
// The update thread's next frame may be an idle frame (10 s) away, and a
// sanitizer build's crash report takes many seconds more on a busy machine.
constexpr int kCrashExitMs = 30000;
// The instance the rooms start as: server index 4, group 9.
constexpr char kInstance[] = "9_4";

// A ServerApp and the module in a folder of their own (its CRS.ini beside
// them), the development services, gsmsim's manager peer, a log base.
struct CrashRoom {
  explicit CrashRoom(const hosttest::Switches& switches = {{"PreparingUpdates", "0"}})
      : folder(switches) {
    fs::create_directories(bin);
    for (const char* file : {crs_test::kHostFile, crs_test::kModuleFile}) {
      std::error_code ec;  // a hard link where the file system allows one
      fs::create_hard_link(fs::path(SERVERAPP_DIST_DIR) / file, bin / file, ec);
      if (ec) fs::copy_file(fs::path(SERVERAPP_DIST_DIR) / file, bin / file);
    }
    if (!services.Start(&unavailable) && unavailable.empty()) unavailable = "no services";
    std::ofstream(bin / "CRS.ini", std::ios::binary)
        << "[CRS]\r\nURL=" << services.CrashUrl() << "\r\n";
    std::ofstream(folder.work() / "Setting.ini", std::ios::app) << "[GameMgmt]\r\nFullDump=0\r\n";
    manager = gsmsim::ManagerPeer::Start();
  }
  ~CrashRoom() {
    if (host && WaitExit(0) == -1000) {
      host->Kill();
      WaitExit(5000);
    }
  }

  // Starts the host with a console and waits for `ready_post`.
  bool Start(uint16_t ready_post = GAMESERVERMSG_SERVER_READY) {
    if (!unavailable.empty() || manager == nullptr) return false;
    host = folder.Start({std::to_string(manager->handle()), "5000", "4", "7", "9"}, true,
                        Executable().string());
    if (host == nullptr) return false;
    auto hwnd = manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 15s);
    if (!hwnd) return false;
    window = static_cast<platform::WindowHandle>(hwnd->l_param);
    window_thread = crs_test::WindowThreadOf(window);
    return manager->WaitFor(gsmsim::IsManagerPost(ready_post), 15s).has_value();
  }
  // The host runs console lines on its window thread.
  bool Command(const std::string& line) { return host->WriteStdin(line + "\n"); }
  int WaitExit(int timeout_ms) { return hosttest::WaitExit(*host, timeout_ms); }
  fs::path Executable() const { return bin / crs_test::kHostFile; }
  fs::path LogRoot() const { return folder.root() / "log" / "quellmark" / "ServerApp"; }

  hosttest::HostFolder folder;
  fs::path bin = folder.root() / "bin";
  testsupport::ContentServer services;
  std::string unavailable;  // why the room cannot run here: tests skip
  std::unique_ptr<gsmsim::ManagerPeer> manager;
  std::unique_ptr<platform::Process> host;
  platform::WindowHandle window = 0;
  uint32_t window_thread = 0;  // WindowThreadOf the window
};

#define SKIP_WITHOUT_SERVICES(room) \
  if (!(room).unavailable.empty()) GTEST_SKIP() << (room).unavailable

// The one dump under the log root; empty (and a failure) when not one.
fs::path OnlyDump(CrashRoom& room) {
  auto dumps = FindFiles(room.LogRoot(), ".dmp");
  EXPECT_EQ(1u, dumps.size());
  return dumps.size() == 1 ? dumps[0] : fs::path();
}

// The module's null write on the window thread (`crash null`, from the
// console) or on the update thread (`crash update`).
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
  crs_test::ExpectDumpPlace(dump, room.LogRoot(), ".+", kInstance);
  const std::string stack = crs_test::ExpectUploaded(room.services, dump, room.folder.HostLog());
  EXPECT_EQ(GetParam().update_thread_traces,
            room.folder.CountTrace("Crash fault on the update thread"));
  EXPECT_NE(std::string::npos, stack.find(crs_test::ExceptionCodeLine(Fault::kAccessViolation)))
      << stack;
  EXPECT_NE(std::string::npos, stack.find("(server_d_x64+0x")) << stack;

  crs_test::ExpectHostDumpReadable(room.Executable(), dump, room.window_thread, GetParam().thread);
}

// A fault sent from outside is reported like any other: the control for
// the terminate case below, which sends the same fault.
TEST(CrashWire, ASegvSentToARunningHostIsReported) {
  CrashRoom room;
  SKIP_WITHOUT_SERVICES(room);
  ASSERT_TRUE(room.Start());
  ASSERT_TRUE(crs_test::FaultFromOutside(room.host->pid()));
  EXPECT_EQ(FaultExit(Fault::kAccessViolation), room.WaitExit(kCrashExitMs));
  fs::path dump = OnlyDump(room);
  ASSERT_FALSE(dump.empty());
  crs_test::ExpectUploaded(room.services, dump, room.folder.HostLog());
}

// After GAMESERVERMSG_TERMINATE a fault ends the host quietly. A module
// stuck in IsPreparing keeps the ending host alive for the update thread's
// 5 s grace, long enough to fault it once the terminate has been handled.
TEST(CrashWire, AfterTerminateAFaultWritesNothing) {
  CrashRoom room({{"PreparingUpdates", "5"}, {"HangInIsPreparing", "2"}});
  SKIP_WITHOUT_SERVICES(room);
  ASSERT_TRUE(room.Start(GAMESERVERMSG_REPORT_HWND));
  ASSERT_TRUE(room.folder.WaitForTrace("IsPreparing 0 call=2", 15s));
  ASSERT_TRUE(room.manager->Post(room.window, kWmGameServer, GAMESERVERMSG_TERMINATE, 0));
  ASSERT_TRUE(room.folder.WaitForHostLog(hosttest::TableText(43), 3s));
  // The update thread is still being waited for: the host is alive.
  ASSERT_EQ(-1000, room.WaitExit(0));
  ASSERT_TRUE(crs_test::FaultFromOutside(room.host->pid()));
  EXPECT_EQ(FaultExit(Fault::kAccessViolation), room.WaitExit(kCrashExitMs));
  EXPECT_TRUE(FindFiles(room.LogRoot(), ".dmp").empty());
  EXPECT_TRUE(room.services.Uploads().empty());
  EXPECT_EQ(std::string::npos, room.folder.HostLog().find("CRS Upload"));
}

// The start notice as the module received it through a real host (its
// fields as the module reads them, and the package list: tests/host).
TEST(ModuleStatus, ShowsTheStartNoticeAsReceived) {
  CrashRoom room;
  SKIP_WITHOUT_SERVICES(room);
  ASSERT_TRUE(room.Start());
  ASSERT_TRUE(room.Command("status"));
  // `status` ends with the messages received.
  std::string received;
  for (std::string line; room.host->ReadStdoutLine(&line, received.empty() ? 5000 : 300);) {
    if (line.rfind("received #", 0) == 0) received += line + "\n";
  }
  // Id 39, group 9, index 4, 32 bits each, little-endian.
  EXPECT_NE(std::string::npos, received.find(" id 39 (72 bits): 27 09 00 00 00 04 00 00 00"))
      << received;
}

}  // namespace

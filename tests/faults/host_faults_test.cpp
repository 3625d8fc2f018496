// A real ServerApp armed through SERVERAPP_FAULTS: the start-up failures the
// faults reach are logged as they should be, and the host either goes on
// serving or ends cleanly, never by a signal. (A crash report that cannot be
// uploaded: CrsFaultTest names each failed step, CrashHandlerTest carries the
// client's text into the crashed host's log and keeps the dump.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"
#include "logtestutil.h"
#include "platform/dialog.h"
#include "platform/fault_injection.h"
#include "protocol/gameservermsg.h"
#include "table_text.h"

namespace {

using namespace std::chrono_literals;
using hosttest::HostFolder;
using hosttest::TableText;

class HostFaultTest : public ::testing::Test {
 protected:
  // The variable is for the host only: this process reads its own first.
  void SetUp() override { platform::fault::Reset(); }
  void TearDown() override { ::unsetenv("SERVERAPP_FAULTS"); }

  // The hosts' own shared-memory namespace: a table published by another
  // host on this machine must not stand in for the one under test.
  logtest::ShmSession session_;

  std::unique_ptr<platform::Process> StartHost(const HostFolder& folder, const std::string& faults,
                                               platform::WindowHandle manager) {
    ::setenv("SERVERAPP_FAULTS", faults.c_str(), 1);
    auto host = folder.Start(hosttest::HostArgs(manager, "0"));
    ::unsetenv("SERVERAPP_FAULTS");
    return host;
  }
};

// Every shared-memory object refused: the message table falls back to a
// private copy and the room still comes up and answers.
TEST_F(HostFaultTest, MessageTableThatCannotBePublishedFallsBackToAPrivateCopy) {
  auto manager = gsmsim::ManagerPeer::Start();
  ASSERT_NE(manager, nullptr);
  HostFolder folder(hosttest::Switches{{"PreparingUpdates", "0"}});
  auto host = StartHost(folder, "shm_create:1+:12", manager->handle());
  ASSERT_NE(host, nullptr);
  ASSERT_TRUE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY), 15s));
  const std::string log = folder.HostLog();
  EXPECT_NE(log.find("[ERROR] Logger Init Failed : ErrCode[2] \r\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("[WARN_] Logger USAGE_NOUSE Setted. \r\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Log Msz File Load Failed"), std::string::npos) << log;
  ASSERT_TRUE(host->Terminate());
  EXPECT_EQ(hosttest::WaitExit(*host, 15000), platform::kIdOk);
  EXPECT_NE(hosttest::ReadAllStderr(*host).find(
                "SERVERAPP_FAULTS: fault injection armed: shm_create:1+:12"),
            std::string::npos);
}

// The module cannot be loaded, or has no entry point: the loader's failure
// is logged with its number, start-up stops there (message 5), and the
// window stays until it is told to end, without a module or a report.
TEST_F(HostFaultTest, ModuleLoadAndSymbolFailuresAreLoggedAndStopTheStartUp) {
  struct Case {
    std::string faults;
    std::string line;
  };
  const Case cases[] = {
      {"library_load:1:126",
       "[FATAL] CServerAppDlg::LoadServer(), Fail!!!, LoadFIle=server_d_x64.so, "
       "GetLastError=126, status=0, g_hServerDll=0 \r\r\n"},
      {"library_symbol:1:127", ", GetLastError=127, status=0, g_hServerDll="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    auto manager = gsmsim::ManagerPeer::Start();
    ASSERT_NE(manager, nullptr);
    HostFolder folder;
    auto host = StartHost(folder, c.faults, manager->handle());
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(folder.WaitForHostLog(TableText(5), 15s)) << folder.HostLog();
    const std::string log = folder.HostLog();
    EXPECT_NE(log.find(c.line), std::string::npos) << log;
    EXPECT_NE(log.find("[FATAL] CServerAppDlg::LoadServer(), loader: injected fault \r\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(folder.CountTrace("CreateServer"), 0u);
    ASSERT_TRUE(host->Terminate());
    EXPECT_EQ(hosttest::WaitExit(*host, 15000), platform::kIdOk);
    EXPECT_FALSE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 0ms));
  }
}

// A mistyped value arms nothing, says so, and the host runs as ever.
TEST_F(HostFaultTest, MalformedValueIsReportedAndIgnored) {
  auto manager = gsmsim::ManagerPeer::Start();
  ASSERT_NE(manager, nullptr);
  HostFolder folder(hosttest::Switches{{"PreparingUpdates", "0"}});
  auto host = StartHost(folder, "library_load:first", manager->handle());
  ASSERT_NE(host, nullptr);
  ASSERT_TRUE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY), 15s));
  EXPECT_EQ(folder.HostLog().find("Logger Init Failed"), std::string::npos);
  ASSERT_TRUE(host->Terminate());
  EXPECT_EQ(hosttest::WaitExit(*host, 15000), platform::kIdOk);
  EXPECT_NE(hosttest::ReadAllStderr(*host).find(
                "SERVERAPP_FAULTS: ignored, the call number of \"library_load\" must be 1 or "
                "more: library_load:first"),
            std::string::npos);
}

}  // namespace

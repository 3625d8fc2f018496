// A real ServerApp armed through SERVERAPP_FAULTS: the start-up failures the
// faults reach are logged, and the host goes on serving or ends cleanly when
// told, never by a signal.
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

TEST(HostFaultTest, ArmedHostsLogWhatFailedAndEndCleanly) {
  // The variable is for the host only: this process reads its own first.
  platform::fault::Reset();
  // The hosts' own shared-memory namespace: a table published by another
  // host on this machine must not stand in for the one under test.
  logtest::ShmSession session;
  const std::string injected = "[FATAL] CServerAppDlg::LoadServer(), loader: injected fault \r\r\n";
  struct Case {
    std::string faults;
    bool ready;  // the room comes up; otherwise start-up stops at message 5
    std::vector<std::string> lines;
    std::string absent;
    std::string stderr_line;
  };
  const Case cases[] = {
      // No shared memory: the message table falls back to a private copy.
      {"shm_create:1+:12",
       true,
       {"[ERROR] Logger Init Failed : ErrCode[2] \r\r\n",
        "[WARN_] Logger USAGE_NOUSE Setted. \r\r\n"},
       "Log Msz File Load Failed",
       "fault injection armed: shm_create:1+:12"},
      // No module, or no entry point: no module call, no report; the window
      // stays until it is told to end.
      {"library_load:1:126",
       false,
       {"[FATAL] CServerAppDlg::LoadServer(), Fail!!!, LoadFIle=server_d_x64.so, "
        "GetLastError=126, status=0, g_hServerDll=0 \r\r\n",
        injected},
       "",
       "fault injection armed: library_load:1:126"},
      {"library_symbol:1:127",
       false,
       {", GetLastError=127, status=0, g_hServerDll=", injected},
       "",
       "fault injection armed: library_symbol:1:127"},
      // A mistyped value arms nothing, says so, and the host runs as ever.
      {"library_load:first",
       true,
       {},
       "Logger Init Failed",
       "ignored, the call number of \"library_load\" must be 1 or more: library_load:first"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    auto manager = gsmsim::ManagerPeer::Start();
    ASSERT_NE(manager, nullptr);
    HostFolder folder(hosttest::Switches{{"PreparingUpdates", "0"}});
    ::setenv("SERVERAPP_FAULTS", c.faults.c_str(), 1);
    auto host = folder.Start(hosttest::HostArgs(manager->handle(), "0"));
    ::unsetenv("SERVERAPP_FAULTS");
    ASSERT_NE(host, nullptr);
    if (c.ready) {
      ASSERT_TRUE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY), 15s));
    } else {
      ASSERT_TRUE(folder.WaitForHostLog(TableText(5), 15s)) << folder.HostLog();
      EXPECT_EQ(folder.CountTrace("CreateServer"), 0u);
    }
    const std::string log = folder.HostLog();
    for (const std::string& line : c.lines) EXPECT_NE(log.find(line), std::string::npos) << log;
    if (!c.absent.empty()) {
      EXPECT_EQ(log.find(c.absent), std::string::npos) << log;
    }
    ASSERT_TRUE(host->Terminate());
    EXPECT_EQ(hosttest::WaitExit(*host, 15000), platform::kIdOk);
    if (!c.ready) {
      EXPECT_FALSE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 0ms));
    }
    EXPECT_NE(hosttest::ReadAllStderr(*host).find("SERVERAPP_FAULTS: " + c.stderr_line),
              std::string::npos);
  }
}

}  // namespace

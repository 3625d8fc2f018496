#include <gtest/gtest.h>

#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"
#include "platform/dialog.h"
#include "platform/library.h"
#include "protocol/gameservermsg.h"
#include "support/scratch.h"
#include "table_text.h"

namespace {

using namespace std::chrono_literals;
using hosttest::HostFolder;
using hosttest::TableText;

std::string LoadFailure(const std::string& rest) {
  return "LoadServer(), Fail!!!, LoadFIle=" + platform::LibraryFileName("server_d_x64") + ", " +
         rest;
}

// A failed step leaves the host idle, unreported; on the stop the module (if
// created) is deleted and the manager told. A failed probe is asked once
// more; a second answer of 80 is reported.
TEST(HostModule, EachLoadAndStartFailureLogsItsLine) {
  struct FailureCase {
    hosttest::Switches switches;
    std::string log_line;  // the step's own line
    bool object_created;   // the module must be deleted at the end
    size_t probes = 0;
    bool probe_reported = false;
    bool lone = false;  // a copy of the program alone, without the module
  };
  const std::vector<FailureCase> cases = {
      {{}, LoadFailure("GetLastError=126, status=0, g_hServerDll=0"), false, 0, false, true},
      {{{"CreateStatus", "5"}}, LoadFailure("GetLastError=0, status=5, g_hServerDll="), false},
      {{{"CreateNull", "1"}}, LoadFailure("GetLastError=0, status=0, g_hServerDll="), false},
      {{{"SetAppHandlerResult", "9"}}, TableText(13), true},
      {{{"SetRezFileListResult", "0"}}, TableText(14), true},
      {{{"OpenNetworkResult", "0"}}, TableText(15), true},
      {{{"ListServicesResult", "0"}}, TableText(15), true},
      {{{"ServiceCount", "0"}}, TableText(15), true},
      {{{"SelectedService", "0"}}, TableText(15), true},
      {{{"UseServiceResult", "0"}}, TableText(15), true},
      {{{"ProbeResults", "7,7"}}, TableText(16), true, 2, false},
      {{{"ProbeResults", "7,80"}}, TableText(16), true, 2, true},
      {{{"ProbeResults", "80,80"}}, TableText(16), true, 2, true},
      {{{"InitializeResult", "0"}}, TableText(17), true, 1},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.log_line);
    auto manager = gsmsim::ManagerPeer::Start();
    ASSERT_NE(manager, nullptr);
    HostFolder folder(c.switches);
    std::string program;
    if (c.lone) {
      // Nowhere the module could be found.
      const auto lone = folder.root() / "bin" / testsupport::ProgramFileName("ServerApp");
      hosttest::fs::create_directories(lone.parent_path());
      hosttest::fs::copy_file(hosttest::ServerAppPath(), lone);
      program = lone.string();
    }
    auto host = folder.Start(hosttest::HostArgs(manager->handle(), "2"), false, program);
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(folder.WaitForHostLog(TableText(5), 15s));
    std::string log = folder.HostLog();
    EXPECT_NE(log.find(c.log_line), std::string::npos) << log;
    EXPECT_LT(log.find(c.log_line), log.find(TableText(5)));
    EXPECT_EQ(folder.CountTrace("IsPreparing"), 0u);
    EXPECT_EQ(folder.CountTrace("SendToServerShell"), 0u);
    EXPECT_EQ(folder.CountTrace("ProbeServer"), c.probes);
    EXPECT_EQ(folder.CountTrace("ProbeServer call=2 port=5000 unused=0 value=128 text=HAHAHA"),
              c.probes == 2 ? 1u : 0u);

    ASSERT_TRUE(host->Terminate());
    EXPECT_EQ(hosttest::WaitExit(*host, 15000), platform::kIdOk);
    std::string err = hosttest::ReadAllStderr(*host);
    EXPECT_EQ(err.find("Resource Load Failed") != std::string::npos,
              c.switches.count("SetRezFileListResult") == 1)
        << err;
    EXPECT_FALSE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 0ms));
    EXPECT_EQ(folder.CountTrace("DeleteServer all=1"), c.object_created ? 1u : 0u);
    // The notice is posted just before the host exits.
    EXPECT_EQ(
        manager->WaitFor(gsmsim::IsManagerPost(20), c.object_created ? 3s : 300ms).has_value(),
        c.object_created);
    auto probe = manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_PROBE_NTY), 0ms);
    ASSERT_EQ(probe.has_value(), c.probe_reported);
    if (probe) {
      EXPECT_EQ(probe->w_param, (2u << 16) | GAMESERVERMSG_SERVER_PROBE_NTY);
      EXPECT_EQ(probe->l_param, 0);
    }
  }
}

}  // namespace

// Shutdown: message 20 (with log entry 18) only while the manager's window
// exists; the module is deleted either way; the supervisor's signals and
// the console's end finish the dialog as OK or Cancel.
#include <gtest/gtest.h>

#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"
#include "platform/dialog.h"
#include "protocol/gameservermsg.h"
#include "table_text.h"

namespace {

using namespace std::chrono_literals;
using hosttest::HostFolder;
using hosttest::TableText;

std::vector<std::string> Args(platform::WindowHandle manager) {
  return {std::to_string(manager), "5000", "5", "7", "9"};
}

TEST(HostShutdown, ModuleDeletedNoticeOnlyWhileTheManagerExists) {
  for (bool manager_alive : {true, false}) {
    SCOPED_TRACE(manager_alive ? "manager alive" : "manager gone");
    auto manager = gsmsim::ManagerPeer::Start();
    ASSERT_NE(manager, nullptr);
    HostFolder folder(hosttest::Switches{{"PreparingUpdates", "0"}});
    // Started outside the peer, so that the host outlives it.
    auto host = folder.Start(Args(manager->handle()));
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY), 15s));
    if (!manager_alive) manager.reset();

    ASSERT_TRUE(host->Terminate());
    EXPECT_EQ(hosttest::WaitExit(*host, 15000), platform::kIdOk);
    EXPECT_EQ(folder.CountTrace("DeleteServer all=1"), 1u);
    EXPECT_EQ(folder.HostLog().find(TableText(18)) != std::string::npos, manager_alive);
    if (manager_alive) {
      auto notice = manager->WaitFor(gsmsim::IsManagerPost(20), 2s);
      ASSERT_TRUE(notice);
      EXPECT_EQ(notice->w_param, (5u << 16) | 20u);
      EXPECT_EQ(notice->l_param, 0);
    }
  }
}

TEST(HostShutdown, InterruptEndsAsCancel) {
  auto manager = gsmsim::ManagerPeer::Start();
  ASSERT_NE(manager, nullptr);
  HostFolder folder(hosttest::Switches{{"PreparingUpdates", "0"}});
  auto host = folder.Start(Args(manager->handle()));
  ASSERT_NE(host, nullptr);
  ASSERT_TRUE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 15s));
  ASSERT_TRUE(host->Interrupt());
  EXPECT_EQ(hosttest::WaitExit(*host, 15000), platform::kIdCancel);
  EXPECT_EQ(folder.CountTrace("DeleteServer all=1"), 1u);
}

}  // namespace

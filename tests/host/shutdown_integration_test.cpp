// Shutdown: message 20 (with log entry 18) only while the manager's window
// exists; the module is deleted either way, also after a forced stop of the
// update thread; the window is gone as soon as the dialog ends; the
// supervisor's signals and the console's end finish the dialog as OK or
// Cancel.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"
#include "platform/dialog.h"
#include "protocol/gameservermsg.h"
#include "support/sanitizer_build.h"
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

// An update thread hung in its second IsPreparing and stopped by force
// after the grace. One that logs in a loop with the standard output's stream
// held keeps that lock (and likely a log lock) for good: the shutdown's own
// lines must not wait for it. One that cannot be stopped (every signal
// blocked; only POSIX has that) ends the process without touching the
// module, but the manager still gets its notice.
TEST(HostShutdown, ForcedStopStillFinishesTheShutdown) {
  struct Row {
    const char* hang_mode;
    bool stoppable;
  };
  const Row rows[] = {{"1", true}, {"2", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("HangMode=") + row.hang_mode);
    if (!row.stoppable && !hosttest::kThreadsCanBlockTheStop) continue;
    // TSan's exit flushes the standard output under its lock, which this
    // row's parked thread holds by design (the C library's own exit flushes
    // without taking it).
    if (row.stoppable && testsupport::kThreadSanitizer) continue;
    auto manager = gsmsim::ManagerPeer::Start();
    ASSERT_NE(manager, nullptr);
    HostFolder folder(hosttest::Switches{
        {"HangInIsPreparing", "2"}, {"PreparingUpdates", "5"}, {"HangMode", row.hang_mode}});
    auto host = folder.Start(Args(manager->handle()));
    ASSERT_NE(host, nullptr);
    auto report = manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 15s);
    ASSERT_TRUE(report);
    ASSERT_TRUE(folder.WaitForTrace("IsPreparing 0 call=2", 15s));

    ASSERT_TRUE(host->Terminate());
    // Within the grace the dialog has ended: its window is gone, and a
    // send to it returns at once instead of waiting out the shutdown.
    std::this_thread::sleep_for(1s);
    const auto send_start = std::chrono::steady_clock::now();
    EXPECT_EQ(manager->SendCopyData(static_cast<platform::WindowHandle>(report->l_param), 1, {}),
              0);
    EXPECT_LT(std::chrono::steady_clock::now() - send_start, 1500ms);
    EXPECT_EQ(hosttest::WaitExit(*host, 30000), platform::kIdOk);
    EXPECT_NE(folder.HostLog().find(TableText(18)), std::string::npos);
    auto notice = manager->WaitFor(gsmsim::IsManagerPost(20), 2s);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->w_param, (5u << 16) | 20u);
    EXPECT_EQ(folder.CountTrace("DeleteServer all=1"), row.stoppable ? 1u : 0u);
    if (!row.stoppable) {
      EXPECT_NE(folder.HostLog().find("could not be stopped"), std::string::npos);
    } else {
      EXPECT_NE(hosttest::ReadAllStdout(*host).find("did not end within 5000 ms"),
                std::string::npos);
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

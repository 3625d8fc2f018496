// The shutdown of a real host with a hung module call.
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
using Clock = std::chrono::steady_clock;

// A module hung in its second IsPreparing is stopped by force after the
// grace. One hung with the standard output's lock held must not hold up the
// shutdown's lines; one that cannot be stopped (every signal blocked, POSIX
// only) is left alone, but the manager still gets its notice.
TEST(HostShutdown, ForcedStopStillFinishesTheShutdown) {
  struct Row {
    const char* hang_mode;
    bool stoppable;
    bool line_on_stdout;  // where the stop's line is looked for
  };
  const Row rows[] = {{"0", true, false}, {"1", true, true}, {"2", false, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string("HangMode=") + row.hang_mode);
    if (!row.stoppable && !hosttest::kThreadsCanBlockTheStop) continue;
    // TSan's exit flushes the standard output under the lock this row's
    // parked thread holds by design.
    if (row.line_on_stdout && testsupport::kThreadSanitizer) continue;
    auto manager = gsmsim::ManagerPeer::Start();
    ASSERT_NE(manager, nullptr);
    HostFolder folder(hosttest::Switches{
        {"HangInIsPreparing", "2"}, {"PreparingUpdates", "5"}, {"HangMode", row.hang_mode}});
    auto host = folder.Start(hosttest::HostArgs(manager->handle(), "1"));
    ASSERT_NE(host, nullptr);
    auto report = manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 15s);
    ASSERT_TRUE(report);
    ASSERT_TRUE(folder.WaitForTrace("IsPreparing 0 call=2", 15s));

    auto stop = Clock::now();
    ASSERT_TRUE(host->Terminate());
    // Within the grace the window is gone: a send to it returns at once.
    std::this_thread::sleep_for(1s);
    const auto send_start = Clock::now();
    EXPECT_EQ(manager->SendCopyData(static_cast<platform::WindowHandle>(report->l_param), 1, {}),
              0);
    EXPECT_LT(Clock::now() - send_start, 1500ms);
    // A repeated stop must not cut the shutdown short.
    ASSERT_TRUE(host->Terminate());
    ASSERT_TRUE(host->Interrupt());
    EXPECT_EQ(hosttest::WaitExit(*host, 30000), platform::kIdOk);
    EXPECT_GE(Clock::now() - stop, 4900ms);
    EXPECT_NE(folder.HostLog().find(hosttest::TableText(18)), std::string::npos);
    auto notice = manager->WaitFor(gsmsim::IsManagerPost(20), 2s);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->w_param, (1u << 16) | 20u);
    EXPECT_FALSE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY), 0ms));
    EXPECT_EQ(folder.CountTrace("SetAppHandler detach"), row.stoppable ? 1u : 0u);
    EXPECT_EQ(folder.CountTrace("DeleteServer all=1"), row.stoppable ? 1u : 0u);
    const std::string stopped =
        row.stoppable ? "did not end within 5000 ms: terminated" : "could not be stopped";
    const std::string where =
        row.line_on_stdout ? hosttest::ReadAllStdout(*host) : folder.HostLog();
    EXPECT_NE(where.find(stopped), std::string::npos) << where;
  }
}

}  // namespace

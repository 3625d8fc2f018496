// The update thread in a real host: readiness asked until ready and never
// again, frames paced by the idle length, a stop that does not wait for the
// frame; and the shutdown with a hung module call, stopped after the grace
// period: the window is gone as soon as the dialog ends, the module is
// deleted and the manager told.
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

// One preparing update: asked at the first frame (true) and at the second,
// one idle frame later (false, ready). The third frame asks nothing. A stop
// in the middle of the next 10 s wait ends the host at once.
TEST(HostUpdate, ReadinessPacedByIdleFramesThenNeverAskedAgain) {
  auto manager = gsmsim::ManagerPeer::Start();
  ASSERT_NE(manager, nullptr);
  HostFolder folder(hosttest::Switches{{"PreparingUpdates", "1"}});
  auto host = folder.Start(hosttest::HostArgs(manager->handle(), "1"));
  ASSERT_NE(host, nullptr);

  ASSERT_TRUE(folder.WaitForTrace("IsPreparing 0 call=1", 15s));
  EXPECT_FALSE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY), 1s));
  auto ready = manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY), 15s);
  ASSERT_TRUE(ready);

  // The two frames lie one idle frame length apart: a wait happened, and
  // no single wait is longer than 10 s (scheduling adds a little).
  std::vector<uint32_t> asked = folder.TraceTimes("IsPreparing");
  ASSERT_EQ(asked.size(), 2u);
  uint32_t gap = asked[1] - asked[0];
  EXPECT_GE(gap, 9900u);
  EXPECT_LE(gap, 10900u);

  // Past the third frame: readiness is never asked again.
  std::this_thread::sleep_for(std::chrono::milliseconds(10000 - std::min<uint32_t>(gap, 10000)) +
                              11s);
  EXPECT_EQ(folder.CountTrace("IsPreparing"), 2u);
  EXPECT_EQ(folder.CountTrace("GetReadyText"), 1u);
  size_t ready_posts = 0;
  for (const auto& m : manager->Messages()) ready_posts += gsmsim::IsManagerPost(23)(m) ? 1 : 0;
  EXPECT_EQ(ready_posts, 1u);

  // The thread now sleeps in its 10 s wait: the stop ends it at once.
  auto stop = Clock::now();
  ASSERT_TRUE(host->Terminate());
  EXPECT_EQ(hosttest::WaitExit(*host, 15000), platform::kIdOk);
  EXPECT_LT(Clock::now() - stop, 4s);
  EXPECT_EQ(folder.CountTrace("DeleteServer all=1"), 1u);
  EXPECT_TRUE(manager->WaitFor(gsmsim::IsManagerPost(20), 2s));
}

// A module that never returns from its second IsPreparing (one idle frame
// after the first, when start-up is complete): the stop gives the thread its
// grace and stops it by force. One that logs in a loop with the standard
// output's stream held keeps that lock (and likely a log lock) for good: the
// shutdown's own lines must not wait for it. One that cannot be stopped
// (every signal blocked; only POSIX has that) ends the process without
// touching the module, but the manager still gets its notice.
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
    // TSan's exit flushes the standard output under its lock, which this
    // row's parked thread holds by design (the C library's own exit flushes
    // without taking it).
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
    // Within the grace the dialog has ended: its window is gone, and a
    // send to it returns at once instead of waiting out the shutdown.
    std::this_thread::sleep_for(1s);
    const auto send_start = Clock::now();
    EXPECT_EQ(manager->SendCopyData(static_cast<platform::WindowHandle>(report->l_param), 1, {}),
              0);
    EXPECT_LT(Clock::now() - send_start, 1500ms);
    // A supervisor that repeats its stop while the host waits out the stuck
    // thread must not cut the shutdown short.
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

// The dialog's POSIX face: result lines and the stop signals handed to a
// thread.
#include "platform/dialog.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

namespace {

TEST(Dialog, ResultLinesGoToTheSink) {
  std::vector<std::string> lines;
  platform::SetResultLineSink([&](std::string_view text) { lines.emplace_back(text); });
  platform::ClearResultLines();
  platform::AppendResultLine("status: ready");
  platform::AppendResultLine("");
  platform::SetResultLineSink(nullptr);
  EXPECT_EQ(lines, (std::vector<std::string>{"status: ready", ""}));
}

// (Which stop calls which handler: the hosts' exit codes.)
TEST(Dialog, OneFeedOwnsTheStopSignalsAndGivesThemBack) {
  auto feed = platform::StartDialogFeed({});
  ASSERT_NE(feed, nullptr);
  EXPECT_EQ(platform::StartDialogFeed({}), nullptr);
  feed.reset();

  // The previous handling is back: an ignored SIGTERM stays ignored.
  struct sigaction old {};
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGTERM, &ignore, &old);
  feed = platform::StartDialogFeed({});
  ASSERT_NE(feed, nullptr);
  feed.reset();
  struct sigaction now {};
  sigaction(SIGTERM, &old, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
}

}  // namespace

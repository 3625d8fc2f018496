// The dialog's POSIX face: message boxes, title, result lines, and the stop
// signals handed to a thread.
#include "platform/dialog.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/thread.h"

namespace {

TEST(Dialog, MessageBoxIsCountedAsOkAndTitleNamesTheProcess) {
  std::vector<std::string> boxes;
  platform::SetMessageBoxSink([&](std::string_view text) { boxes.emplace_back(text); });
  EXPECT_EQ(platform::ShowMessageBox("Invalid server index found. Terminating App"),
            platform::kIdOk);
  platform::SetMessageBoxSink(nullptr);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Invalid server index found. Terminating App");

  EXPECT_EQ(platform::DialogTitle(), "ServerApp");
  platform::SetDialogTitle("ServerApp (USN : 1234 5000 3 7 9)");
  EXPECT_EQ(platform::DialogTitle(), "ServerApp (USN : 1234 5000 3 7 9)");
  std::string comm;
  std::getline(std::ifstream("/proc/self/comm"), comm);
  EXPECT_EQ(comm, "ServerApp (USN ");  // the first 15 bytes
}

TEST(Dialog, ResultLinesGoToTheSink) {
  std::vector<std::string> lines;
  platform::SetResultLineSink([&](std::string_view text) { lines.emplace_back(text); });
  platform::ClearResultLines();
  platform::AppendResultLine("status: ready");
  platform::AppendResultLine("");
  platform::SetResultLineSink(nullptr);
  EXPECT_EQ(lines, (std::vector<std::string>{"status: ready", ""}));
}

TEST(Dialog, ConsoleIsEnabledByTheEnvironment) {
  setenv("SERVERAPP_CONSOLE", "1", 1);
  EXPECT_TRUE(platform::ConsoleInputEnabled());
  setenv("SERVERAPP_CONSOLE", "yes", 1);  // only "1" switches it on
  bool tty_only = platform::ConsoleInputEnabled();
  unsetenv("SERVERAPP_CONSOLE");
  EXPECT_EQ(tty_only, platform::ConsoleInputEnabled());
}

TEST(Dialog, StopSignalsReachTheFeedThread) {
  platform::ManualResetEvent terminated;
  platform::ManualResetEvent interrupted;
  platform::DialogFeedHandlers handlers;
  handlers.on_terminate = [&] { terminated.Set(); };
  handlers.on_interrupt = [&] { interrupted.Set(); };
  auto feed = platform::StartDialogFeed(handlers);
  ASSERT_NE(feed, nullptr);
  // Only one feed may own the signals at a time.
  EXPECT_EQ(platform::StartDialogFeed({}), nullptr);

  raise(SIGTERM);
  EXPECT_TRUE(terminated.Wait(5000));
  EXPECT_FALSE(interrupted.IsSet());
  raise(SIGINT);
  EXPECT_TRUE(interrupted.Wait(5000));
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

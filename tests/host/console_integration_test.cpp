// The console: lines from standard input run as module commands, their
// result lines on standard output; an empty line calls nothing; a failing
// command shows its box; the end of input ends the host as Cancel.
#include <gtest/gtest.h>

#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"
#include "platform/dialog.h"
#include "protocol/gameservermsg.h"

namespace {

using namespace std::chrono_literals;
using hosttest::HostFolder;

// The next stdout line that is a console result (the host logger echoes
// its lines to stdout too; those carry a time stamp and are skipped).
std::string NextResultLine(platform::Process& host) {
  std::string line;
  while (host.ReadStdoutLine(&line, 10000)) {
    bool log_line = line.size() > 12 && line[2] == ':' && line[5] == ':' && line[8] == '.';
    bool info_line = line.find(",info,") != std::string::npos;
    bool blank = line.find_first_not_of(" \r") == std::string::npos;
    if (!log_line && !info_line && !blank) return line;
  }
  return "<no line>";
}

TEST(HostConsole, CommandsRunThroughTheModule) {
  auto manager = gsmsim::ManagerPeer::Start();
  ASSERT_NE(manager, nullptr);
  HostFolder folder(hosttest::Switches{{"PreparingUpdates", "0"}});
  auto host = folder.Start({std::to_string(manager->handle()), "5000", "6", "7", "9"}, true);
  ASSERT_NE(host, nullptr);
  ASSERT_TRUE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY), 15s));

  ASSERT_TRUE(host->WriteStdin("\n"));
  ASSERT_TRUE(host->WriteStdin("status\n"));
  EXPECT_EQ(NextResultLine(*host), "status: ready, users 0, port 5000, group 9, index 6");
  std::string line = NextResultLine(*host);
  EXPECT_EQ(line.rfind("messages 1, packages 3, manager ", 0), 0u) << line;
  // The room's own lines follow, down to the one message received.
  while (line.rfind("received #1 id 39", 0) != 0 && line != "<no line>") {
    line = NextResultLine(*host);
  }
  EXPECT_NE(line, "<no line>");

  // The module's text is shown as written: a "%s" in it is no format.
  ASSERT_TRUE(host->WriteStdin("log hello %s 100%\n"));
  EXPECT_EQ(NextResultLine(*host), "hello %s 100%");

  ASSERT_TRUE(host->WriteStdin("bogus\n"));
  EXPECT_EQ(NextResultLine(*host), "unknown command: bogus (try help)");

  host->CloseStdin();
  EXPECT_EQ(hosttest::WaitExit(*host, 15000), platform::kIdCancel);
  std::string err = hosttest::ReadAllStderr(*host);
  EXPECT_NE(err.find("RunConsoleString error."), std::string::npos) << err;
  // The empty line reached nothing: three commands ran.
  EXPECT_EQ(folder.CountTrace("RunConsoleString"), 3u);
  // The module's console lines went to the list, not to the log.
  EXPECT_EQ(folder.HostLog().find("hello %s"), std::string::npos);
}

}  // namespace

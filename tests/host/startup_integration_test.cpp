// Start-up checks and the console of a real ServerApp process.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"
#include "platform/dialog.h"
#include "protocol/gameservermsg.h"
#include "support/scratch.h"
#include "table_text.h"

namespace {

using namespace std::chrono_literals;
using hosttest::HostArgs;
using hosttest::HostFolder;

constexpr int kExitTerminatingApp = platform::kIdAbort;

// Each check that ends in "Terminating App": its box text, the abort result,
// no module touched, nothing reported to the manager.
TEST(HostStartup, FailedChecksEndTheProcessWithoutLoadingTheModule) {
  auto manager = gsmsim::ManagerPeer::Start();
  ASSERT_NE(manager, nullptr);
  struct Case {
    std::vector<std::string> args;
    const char* text;
    const char* before = nullptr;  // a box that must come first
  };
  const Case cases[] = {
      {{},
       "Number of parameters is invalid. Terminating App",
       "GameServerManager has not been started"},
      {HostArgs(2147000001, "3"), "Invalid manager window handle found. Terminating App"},
      {HostArgs(0, "3"), "Invalid manager window handle found. Terminating App"},
      {HostArgs(manager->handle(), "200"), "Invalid server index found. Terminating App"},
      {HostArgs(manager->handle(), "-1"), "Invalid server index found. Terminating App"},
      // 16 bits would read it as slot 0.
      {HostArgs(manager->handle(), "65536"), "Invalid server index found. Terminating App"},
      {{std::to_string(manager->handle()), "5000", "3"},
       "Number of parameters is invalid. Terminating App"},
      {{std::to_string(manager->handle())}, "Number of parameters is invalid. Terminating App"},
  };
  for (const Case& c : cases) {
    HostFolder folder;
    auto host = folder.Start(c.args);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(hosttest::WaitExit(*host, 10000), kExitTerminatingApp) << c.text;
    const std::string err = hosttest::ReadAllStderr(*host);
    EXPECT_NE(err.find(c.text), std::string::npos) << c.text;
    if (c.before) {
      EXPECT_LT(err.find(c.before), err.find(c.text)) << err;
    }
    EXPECT_TRUE(folder.Trace().empty()) << c.text;
  }
  EXPECT_FALSE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 200ms));
}

// The parameter file: window 1234 taken without a check, the title and
// instance folder from its values. The interrupt ends it as Cancel; the
// manager, whose window does not exist, is told nothing.
TEST(HostStartup, ParameterFileStartsTheHostUnchecked) {
  HostFolder folder(hosttest::Switches{{"PreparingUpdates", "0"}});
  std::ofstream(folder.root() / "Parameter.txt") << "1234 5000 3 7 9\n";  // beside work/
  auto host = folder.Start({});
  ASSERT_NE(host, nullptr);
  ASSERT_TRUE(folder.WaitForTrace("IsPreparing", 15s));
  EXPECT_TRUE(folder.WaitForHostLog("ServerApp title: ServerApp (USN : 1234 5000 3 7 9)", 5s));

  // POSIX shows 15 bytes as the process name; Windows the whole caption, set
  // a moment after the log line.
  const std::string title =
      testsupport::OnWindows() ? "ServerApp (USN : 1234 5000 3 7 9)" : "ServerApp (USN ";
  std::string name;
  for (int i = 0; i < 250 && (name = testsupport::ProcessTitle(host->pid())) != title; ++i) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(name, title);

  bool instance_folder = false;
  for (const auto& entry : hosttest::fs::recursive_directory_iterator(folder.root() / "log")) {
    instance_folder |= entry.is_directory() && entry.path().filename() == "9_3";
  }
  EXPECT_TRUE(instance_folder);

  // The start notice may come after the update thread's first frame.
  EXPECT_TRUE(folder.WaitForTrace("SendToServerShell id=39 group=9 index=3", 5s));
  auto trace = folder.Trace();
  EXPECT_NE(std::find(trace.begin(), trace.end(), "SendToServerShell id=39 group=9 index=3"),
            trace.end());
  EXPECT_NE(std::find(trace.begin(), trace.end(), "SetManagerHandle 1234"), trace.end());

  ASSERT_TRUE(host->Interrupt());
  EXPECT_EQ(hosttest::WaitExit(*host, 15000), platform::kIdCancel);
  EXPECT_EQ(folder.CountTrace("DeleteServer all=1"), 1u);
  EXPECT_EQ(folder.HostLog().find(hosttest::TableText(18)), std::string::npos);
}

// The next console result on stdout, skipping the logger's echoed lines.
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

// A good start: the module started in order, the window reported; preparing
// at the first frame, ready one idle frame later, never asked again. Console
// lines run as module commands (an empty one calls nothing, a failing one
// shows its box); the end of input during a 10 s wait ends the host at once.
TEST(HostStartup, GoodStartReportsWindowAndReadinessAndRunsConsoleCommands) {
  auto manager = gsmsim::ManagerPeer::Start();
  ASSERT_NE(manager, nullptr);
  HostFolder folder(hosttest::Switches{
      {"ServiceCount", "5"}, {"SelectedService", "3"}, {"PreparingUpdates", "1"}});
  auto host = folder.Start(HostArgs(manager->handle(), "4"), true);
  ASSERT_NE(host, nullptr);

  auto report = manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 15s);
  ASSERT_TRUE(report);
  EXPECT_EQ(report->w_param, (4u << 16) | GAMESERVERMSG_REPORT_HWND);
  EXPECT_TRUE(platform::IsWindow(static_cast<platform::WindowHandle>(report->l_param)));
  EXPECT_EQ(platform::GetWindowProcessId(static_cast<platform::WindowHandle>(report->l_param)),
            host->pid());

  ASSERT_TRUE(folder.WaitForTrace("IsPreparing 0 call=1", 15s));
  EXPECT_FALSE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY), 1s));
  auto ready = manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY), 15s);
  ASSERT_TRUE(ready);
  EXPECT_EQ(ready->w_param, (4u << 16) | GAMESERVERMSG_SERVER_READY);
  EXPECT_EQ(ready->l_param, 0);

  const std::vector<std::string> expected = {
      "CreateServer",
      "SetAppHandler attach",
      "SetRezFileList count=3",
      "OpenNetwork null,null",
      "ListNetServices count=5 selected=3",
      "FreeNetServices nodes=5",
      "UseNetService position=3",
      "ProbeServer call=1 port=5000 unused=0 value=128 text=HAHAHA tail=0,0 result=0",
      "SetManagerHandle " + std::to_string(manager->handle()),
      "Initialize local=0",
  };
  auto trace = folder.Trace();
  ASSERT_GE(trace.size(), expected.size() + 3);
  EXPECT_EQ(std::vector<std::string>(trace.begin(), trace.begin() + expected.size()), expected);
  // The start notice and the first frame run side by side.
  auto rest = std::vector<std::string>(trace.begin() + expected.size(), trace.end());
  auto find = [&](const std::string& line) { return std::find(rest.begin(), rest.end(), line); };
  EXPECT_NE(find("SendToServerShell id=39 group=9 index=4"), rest.end());
  ASSERT_NE(find("IsPreparing 0 call=1"), rest.end());
  EXPECT_GT(find("GetReadyText size=255"), find("IsPreparing 0 call=1"));
  EXPECT_TRUE(folder.WaitForHostLog("ReadProcessMemory=0, WriteProcessMemory=0", 5s));
  const std::vector<uint32_t> asked = folder.TraceTimes("IsPreparing");
  ASSERT_EQ(asked.size(), 2u);
  const uint32_t gap = asked[1] - asked[0];  // scheduling adds a little
  EXPECT_GE(gap, 9900u);
  EXPECT_LE(gap, 10900u);

  ASSERT_TRUE(host->WriteStdin("\n"));
  ASSERT_TRUE(host->WriteStdin("status\n"));
  EXPECT_EQ(NextResultLine(*host), "status: ready, users 0, port 5000, group 9, index 4");
  std::string line = NextResultLine(*host);
  EXPECT_EQ(line.rfind("messages 1, packages 3, manager ", 0), 0u) << line;
  while (line.rfind("received #1 id 39", 0) != 0 && line != "<no line>") {
    line = NextResultLine(*host);
  }
  EXPECT_NE(line, "<no line>");
  // A "%s" in the module's text is no format.
  ASSERT_TRUE(host->WriteStdin("log hello %s 100%\n"));
  EXPECT_EQ(NextResultLine(*host), "hello %s 100%");
  ASSERT_TRUE(host->WriteStdin("bogus\n"));
  EXPECT_EQ(NextResultLine(*host), "unknown command: bogus (try help)");

  std::this_thread::sleep_for(std::chrono::milliseconds(10000 - std::min<uint32_t>(gap, 10000)) +
                              11s);
  EXPECT_EQ(folder.CountTrace("IsPreparing"), 2u);
  EXPECT_EQ(folder.CountTrace("GetReadyText"), 1u);
  EXPECT_EQ(
      std::ranges::count_if(manager->Messages(), gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY)),
      1);
  const auto stop = std::chrono::steady_clock::now();
  host->CloseStdin();
  EXPECT_EQ(hosttest::WaitExit(*host, 15000), platform::kIdCancel);
  EXPECT_LT(std::chrono::steady_clock::now() - stop, 4s);
  EXPECT_NE(hosttest::ReadAllStderr(*host).find("RunConsoleString error."), std::string::npos);
  // Three commands ran; their lines went to the list, not to the log.
  EXPECT_EQ(folder.CountTrace("RunConsoleString"), 3u);
  EXPECT_EQ(folder.HostLog().find("hello %s"), std::string::npos);
  EXPECT_EQ(folder.CountTrace("FreeNetServices"), 1u);
  EXPECT_EQ(folder.CountTrace("UseNetService"), 1u);
  EXPECT_EQ(folder.CountTrace("DeleteServer all=1"), 1u);
  EXPECT_NE(folder.HostLog().find(hosttest::TableText(18)), std::string::npos);
  auto notice = manager->WaitFor(gsmsim::IsManagerPost(20), 2s);
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->w_param, (4u << 16) | 20u);
  EXPECT_EQ(notice->l_param, 0);
}

}  // namespace

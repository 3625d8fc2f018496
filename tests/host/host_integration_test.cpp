// A real ServerApp process: start-up checks, module loading, the console,
// the update thread's pacing, the shutdown, the map package load and the
// game-info snapshot.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <span>
#include <thread>

#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"
#include "platform/dialog.h"
#include "platform/library.h"
#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "support/content_server.h"
#include "support/sanitizer_build.h"
#include "support/scratch.h"
#include "table_text.h"

namespace {

using namespace std::chrono_literals;
using namespace hosttest;
using Clock = std::chrono::steady_clock;

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
      {HostArgs(manager->handle(), "200"), "Invalid server index found. Terminating App"},
      {HostArgs(manager->handle(), "-1"), "Invalid server index found. Terminating App"},
      // 16 bits would read it as slot 0.
      {HostArgs(manager->handle(), "65536"), "Invalid server index found. Terminating App"},
      {{std::to_string(manager->handle()), "5000", "3"},
       "Number of parameters is invalid. Terminating App"},
  };
  for (const Case& c : cases) {
    HostFolder folder;
    auto host = folder.Start(c.args);
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(WaitExit(*host, 10000), kExitTerminatingApp) << c.text;
    const std::string err = ReadAllStderr(*host);
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
  HostFolder folder(Switches{{"PreparingUpdates", "0"}});
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
  for (const auto& entry : fs::recursive_directory_iterator(folder.root() / "log")) {
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
  EXPECT_EQ(WaitExit(*host, 15000), platform::kIdCancel);
  EXPECT_EQ(folder.CountTrace("DeleteServer all=1"), 1u);
  EXPECT_EQ(folder.HostLog().find(TableText(18)), std::string::npos);
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
  HostFolder folder(
      Switches{{"ServiceCount", "5"}, {"SelectedService", "3"}, {"PreparingUpdates", "1"}});
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
  const auto stop = Clock::now();
  host->CloseStdin();
  EXPECT_EQ(WaitExit(*host, 15000), platform::kIdCancel);
  EXPECT_LT(Clock::now() - stop, 4s);
  EXPECT_NE(ReadAllStderr(*host).find("RunConsoleString error."), std::string::npos);
  // Three commands ran; their lines went to the list, not to the log.
  EXPECT_EQ(folder.CountTrace("RunConsoleString"), 3u);
  EXPECT_EQ(folder.HostLog().find("hello %s"), std::string::npos);
  EXPECT_EQ(folder.CountTrace("FreeNetServices"), 1u);
  EXPECT_EQ(folder.CountTrace("UseNetService"), 1u);
  EXPECT_EQ(folder.CountTrace("DeleteServer all=1"), 1u);
  EXPECT_NE(folder.HostLog().find(TableText(18)), std::string::npos);
  auto notice = manager->WaitFor(gsmsim::IsManagerPost(20), 2s);
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->w_param, (4u << 16) | 20u);
  EXPECT_EQ(notice->l_param, 0);
}

std::string LoadFailure(const std::string& rest) {
  return "LoadServer(), Fail!!!, LoadFIle=" + platform::LibraryFileName("server_d_x64") + ", " +
         rest;
}

// A failed step leaves the host idle, unreported; on the stop the module (if
// created) is deleted and the manager told. A failed probe is asked once
// more; a second answer of 80 is reported.
TEST(HostModule, EachLoadAndStartFailureLogsItsLine) {
  struct FailureCase {
    Switches switches;
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
      fs::create_directories(lone.parent_path());
      fs::copy_file(ServerAppPath(), lone);
      program = lone.string();
    }
    auto host = folder.Start(HostArgs(manager->handle(), "2"), false, program);
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
    EXPECT_EQ(WaitExit(*host, 15000), platform::kIdOk);
    std::string err = ReadAllStderr(*host);
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
    if (!row.stoppable && !kThreadsCanBlockTheStop) continue;
    // TSan's exit flushes the standard output under the lock this row's
    // parked thread holds by design.
    if (row.line_on_stdout && testsupport::kThreadSanitizer) continue;
    auto manager = gsmsim::ManagerPeer::Start();
    ASSERT_NE(manager, nullptr);
    HostFolder folder(Switches{
        {"HangInIsPreparing", "2"}, {"PreparingUpdates", "5"}, {"HangMode", row.hang_mode}});
    auto host = folder.Start(HostArgs(manager->handle(), "1"));
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
    EXPECT_EQ(WaitExit(*host, 30000), platform::kIdOk);
    EXPECT_GE(Clock::now() - stop, 4900ms);
    EXPECT_NE(folder.HostLog().find(TableText(18)), std::string::npos);
    auto notice = manager->WaitFor(gsmsim::IsManagerPost(20), 2s);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->w_param, (1u << 16) | 20u);
    EXPECT_FALSE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY), 0ms));
    EXPECT_EQ(folder.CountTrace("SetAppHandler detach"), row.stoppable ? 1u : 0u);
    EXPECT_EQ(folder.CountTrace("DeleteServer all=1"), row.stoppable ? 1u : 0u);
    const std::string stopped =
        row.stoppable ? "did not end within 5000 ms: terminated" : "could not be stopped";
    const std::string where = row.line_on_stdout ? ReadAllStdout(*host) : folder.HostLog();
    EXPECT_NE(where.find(stopped), std::string::npos) << where;
  }
}

template <typename T>
std::span<const std::byte> Bytes(const T& value) {
  return {reinterpret_cast<const std::byte*>(&value), sizeof(T)};
}

stUCCGamePlay Play(uint32_t map, uint32_t round, uint32_t match, const std::string& name) {
  stUCCGamePlay play{};
  play.MapIndex = map;
  play.RoundType = round;
  play.MatchType = match;
  std::memcpy(play.MapName, name.data(), std::min(name.size(), sizeof(play.MapName) - 1));
  return play;
}

// A short or shifted copy of this body compares unequal.
std::string PackageBody(size_t size, char seed) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>(seed + i * 7 + i / 251);
  return body;
}

// LOADING_COMPLETE posts for `map`: lParam (map << 16) | low word.
gsmsim::MessagePredicate LoadingComplete(uint16_t map, uint16_t low) {
  return [map, low](const gsmsim::ReceivedMessage& m) {
    return gsmsim::IsManagerPost(GAMESERVERMSG_LOADING_COMPLETE)(m) &&
           static_cast<uint32_t>(m.l_param) == (uint32_t{map} << 16 | low);
  };
}

// A downloaded package and a queued game information both wait for the end
// of the first 10 s idle frame, so every case runs in one host, the quick
// ones first, and the test waits for that frame once.
TEST(ContentWire, PackagesAreLoadedAndTheGameInfoIsSaved) {
  HostFolder folder;
  testsupport::ContentServer services;
  std::string why;
  if (!services.Start(&why)) GTEST_SKIP() << why;
  fs::create_directories(folder.work() / "ucc");
  std::ofstream(folder.work() / "UCCSetting.ini", std::ios::binary)
      << "[rezrepositoryinfo]\nRezFilePath=ucc\n[fileserverurl]\nServerURL=" << services.Url()
      << "\n";
  const std::string present = PackageBody(12000, 'a');
  const std::string served = PackageBody(20000, 'k');
  std::ofstream(folder.work() / "ucc" / "present.rez", std::ios::binary) << present;
  std::ofstream(services.Root() / "served.rez", std::ios::binary) << served;
  // The key in capitals, the value in its own case (compared in the
  // folder's listing: Windows names are not case sensitive).
  const fs::path snapshot = folder.root() / "Snap.BIN";

  auto manager = gsmsim::ManagerPeer::Start();
  ASSERT_NE(manager, nullptr);
  auto host = folder.Start({std::to_string(manager->handle()), "5000", "1", "7", "9",
                            "-SAVEGAMEINFO=" + snapshot.string()});
  ASSERT_NE(host, nullptr);
  auto hwnd = manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 10s);
  ASSERT_TRUE(hwnd);
  const auto target = static_cast<platform::WindowHandle>(hwnd->l_param);

  // Queued now, delivered (and saved) at the end of the idle frame.
  auto info = std::make_unique<PROTO_START_HOST>();
  std::memcpy(info->GameLogSerial, "SNAP-1", 6);
  info->GameLogSerial[sizeof(info->GameLogSerial) - 1] = 'Z';  // a byte at the far end too
  manager->SendCopyData(target, GAMESERVERMSG_START_HOST, Bytes(*info));

  // 1. The package is already there.
  manager->SendCopyData(target, GAMESERVERMSG_UCC_MAP_LOAD, Bytes(Play(11, 1, 2, "present.rez")));
  ASSERT_TRUE(folder.WaitForTrace("SendToServerShell id=0 map=11 round=1 match=2 load=1", 3s));
  EXPECT_TRUE(manager->WaitFor(LoadingComplete(11, 0), 3s));
  EXPECT_TRUE(services.ContentRequests().empty());

  // 2. A name with a path is refused before any file or network access.
  manager->SendCopyData(target, GAMESERVERMSG_UCC_MAP_LOAD, Bytes(Play(12, 1, 2, "../evil.rez")));
  EXPECT_TRUE(manager->WaitFor(LoadingComplete(12, 0xFFFA), 3s));
  EXPECT_TRUE(folder.WaitForHostLog("[UCCLog] rez file name refused", 3s));
  EXPECT_TRUE(services.ContentRequests().empty());
  EXPECT_FALSE(fs::exists(folder.work() / "evil.rez"));

  // 3. Downloaded during the send, handed over by the next frame.
  manager->SendCopyData(target, GAMESERVERMSG_UCC_MAP_LOAD, Bytes(Play(13, 2, 3, "served.rez")));
  EXPECT_EQ(services.ContentRequests(), std::vector<std::string>{"served.rez"});
  EXPECT_EQ(testsupport::ReadFile(folder.work() / "ucc" / "served.rez"), served);
  EXPECT_NE(folder.HostLog().find("[UCCLog] start rez file download. filename : served.rez"),
            std::string::npos);
  EXPECT_FALSE(manager->WaitFor(LoadingComplete(13, 0xFFFA), 0ms));  // no failure report

  ASSERT_TRUE(folder.WaitForTrace("SendToServerShell id=0 map=13 round=2 match=3 load=1", 15s));
  EXPECT_TRUE(manager->WaitFor(LoadingComplete(13, 0), 3s));
  EXPECT_EQ(folder.CountTrace("SendToServerShell id=0 map=11"), 1u);
  EXPECT_EQ(folder.CountTrace("SendToServerShell id=0 map=13"), 1u);
  EXPECT_FALSE(manager->WaitFor(LoadingComplete(13, 0xFFF9), 0ms));

  // 4. The game information in the same frame; the file holds its record.
  ASSERT_TRUE(folder.WaitForTrace("SendToServerShell id=7", 5s));
  ASSERT_TRUE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_START_HOST_ACK), 5s));
  const std::string saved = testsupport::ReadFile(snapshot);
  ASSERT_EQ(saved.size(), 211406u);
  EXPECT_EQ(std::memcmp(saved.data(), info.get(), sizeof(PROTO_START_HOST)), 0);
  EXPECT_TRUE(std::ranges::any_of(fs::directory_iterator(folder.root()), [](const auto& entry) {
    return entry.path().filename() == "Snap.BIN";
  }));

  ASSERT_TRUE(host->Terminate());
  EXPECT_EQ(WaitExit(*host, 10000), platform::kIdOk);
}

}  // namespace

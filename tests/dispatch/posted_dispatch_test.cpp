// Posted manager messages acted on or forwarded by the dialog.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dispatch_fixture.h"
#include "gameserverapphandler.h"
#include "interface/hostltcommon.h"
#include "interface/interfacedatabase.h"
#include "interface/interfaceerror.h"
#include "interface/interfacestate.h"
#include "platform/dialog.h"
#include "platform/fault_injection.h"
#include "platform/files.h"
#include "platform/runtime.h"
#include "protocol/gameprotocommon.h"
#include "protocol/gameservermsg.h"
#include "protocol/serverappmsg.h"
#include "serverglobals.h"

namespace dispatchtest {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

TEST_F(DispatchTest, LoadMapUnpacksTheValueSetsTheFrameLengthAndForwardsInit) {
  Post(GAMESERVERMSG_LOAD_MAP, 0x2A010005);
  EXPECT_EQ(g_dwFrameInterval.load(), 50u);
  ASSERT_EQ(server_.ids.size(), 1u);
  EXPECT_EQ(server_.ids[0], SERVERAPPMSG_INIT);
  // Map 16 bits, round type 8, load 1, fixed -1 in 8, match type 8, second flag 1.
  for (const auto& [nBits, value] :
       {std::pair{16u, 5u}, {8u, 1u}, {1u, 1u}, {8u, 0xFFu}, {8u, 42u}, {1u, 0u}}) {
    EXPECT_EQ(server_.messages[0]->ReadBits(nBits), value);
  }
  EXPECT_EQ(server_.messages[0]->BitsLeft(), 0u);
  EXPECT_THAT(
      Log(),
      HasSubstr("GAMESERVERMSG_LOAD_MAP - tMapIndex[5] roundType[1] MatchType(diff_order)[42]"));

  // Round types of the short and the long frames; a negative map index.
  Post(GAMESERVERMSG_LOAD_MAP, 0x002AFFFF);
  EXPECT_EQ(g_dwFrameInterval.load(), 12u);
  EXPECT_EQ(dlg_->m_byCurrentRoundType.load(), 42);
  Post(GAMESERVERMSG_LOAD_MAP, 0x000B0001);
  EXPECT_EQ(g_dwFrameInterval.load(), 100u);
  ASSERT_EQ(server_.ids.size(), 3u);
  EXPECT_EQ(server_.messages[1]->ReadBits(16), 0xFFFFu);  // map -1
  for (uint8_t round : {43, 44}) EXPECT_EQ(FrameIntervalForRoundType(round), 12u);
  for (uint8_t round : {15, 24, 26, 41, 47}) EXPECT_EQ(FrameIntervalForRoundType(round), 100u);
  for (uint8_t round : {0, 2, 45, 255}) EXPECT_EQ(FrameIntervalForRoundType(round), 50u);
}

TEST_F(DispatchTest, HeartbeatAnswersAndTakesTheRoomIdleOnlyWhenEmpty) {
  Post(GAMESERVERMSG_LOAD_MAP, 0x00010001);
  Post(GAMESERVERMSG_RESET_ROOM, 0);
  EXPECT_EQ(dlg_->m_lPendingNotice.load(), 1);
  EXPECT_THAT(Log(), HasSubstr(Entry(42)));

  // Users in the room: the idle request stays, the interval too.
  server_.users = 2;
  dlg_->m_dwHeartbeatValue = 7;
  Post(GAMESERVERMSG_HOST_HEARTBEAT, 0);
  EXPECT_EQ(g_dwFrameInterval.load(), 50u);
  EXPECT_EQ(dlg_->m_lIdleRequest.load(), 1);
  auto ack = manager_->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_HOST_HEARTBEAT_ACK), 2s);
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->w_param, (3u << 16) | GAMESERVERMSG_HOST_HEARTBEAT_ACK);
  EXPECT_EQ(ack->l_param, 2 | (7 << 16));

  // The room emptied: idle frames, the request consumed.
  server_.users = 0;
  Post(GAMESERVERMSG_HOST_HEARTBEAT, 0);
  EXPECT_EQ(g_dwFrameInterval.load(), 10000u);
  EXPECT_EQ(dlg_->m_lIdleRequest.load(), 0);
  ASSERT_TRUE(manager_->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_HOST_HEARTBEAT_ACK), 2s,
                                ack->index + 1));

  // A ready room is not answered, but its miss counter is reset.
  dlg_->m_bServerReady = 1;
  dlg_->OnTimer(1);
  EXPECT_EQ(dlg_->m_nHeartbeatMisses, 1);
  const size_t before = manager_->MessageCount();
  Post(GAMESERVERMSG_HOST_HEARTBEAT, 0);
  EXPECT_EQ(dlg_->m_nHeartbeatMisses, 0);

  // Without a manager nothing is answered and the counter stays.
  dlg_->m_bServerReady = 0;
  dlg_->m_ManagerLink.Attach(0, 0, 3);
  dlg_->OnTimer(1);
  Post(GAMESERVERMSG_HOST_HEARTBEAT, 0);
  EXPECT_EQ(dlg_->m_nHeartbeatMisses, 1);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(manager_->MessageCount(), before);
}

TEST_F(DispatchTest, UnlistedPostedIdsAreNotSupported) {
  for (uint64_t id : {0ull, 1ull, 3ull, 12ull, 54ull, 60ull, 0x10004ull}) {
    Post(static_cast<uint32_t>(id), 0);
    const std::string line = "Not Supported Message!!!!! tIndex[3], msgID[" +
                             std::to_string(static_cast<int32_t>(id)) + "]";
    EXPECT_THAT(Log(), HasSubstr(line)) << line;
  }
  EXPECT_TRUE(server_.ids.empty());
  EXPECT_EQ(g_dwFrameInterval.load(), 10000u);
}

// The module's side: a message shorter than its 8-bit id would read as id 0
// (map loaded: game-ended flag cleared, the manager told) and is ignored
// with one line; ids without a row produce nothing, not even a line.
TEST_F(DispatchTest, ModuleMessagesWithoutAnIdOrARowProduceNothing) {
  auto shell = [&](uint32_t bits, uint32_t value) {
    ILTMessage_Write* writer = nullptr;
    ASSERT_EQ(common_.NewMessage(&writer), 0);
    writer->Acquire();
    if (bits > 0) writer->WriteBits(value, bits);
    dlg_->OnShellMessage(writer->ToReadable());
    writer->Release();
  };
  dlg_->m_AppHandler.SetGameEnded(true);
  const struct {
    uint32_t bits, value;
    bool logged;
  } kMessages[] = {{0, 0, true}, {7, 0, true}, {8, 50, false}, {8, 52, false}, {8, 255, false}};
  for (const auto& m : kMessages) {
    SCOPED_TRACE(testing::Message() << m.bits << " bits, value " << m.value);
    const size_t logged = Log().size();
    shell(m.bits, m.value);
    const std::string line = Log().substr(logged);
    if (m.logged) {
      EXPECT_THAT(line, HasSubstr("OnShellMessage: message of " + std::to_string(m.bits) +
                                  " bits, shorter than its 8-bit id, ignored"));
      EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
    } else {
      EXPECT_EQ(line, "");
    }
  }
  EXPECT_TRUE(dlg_->m_AppHandler.IsGameEnded());
  EXPECT_FALSE(manager_->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_LOADING_COMPLETE), 200ms));
  EXPECT_EQ(manager_->MessageCount(), 0u);
}

// A console command taken while the update thread runs a frame (and holds
// the module lock) switches the capture on only once the frame is over: the
// frame's own log line goes to the log, not into the result list.
TEST_F(DispatchTest, ConsoleCaptureWaitsForTheFrameHoldingTheModuleLock) {
  std::atomic<bool> framing{false};
  std::thread frame([&] {
    platform::LockGuard lock(*g_csServer);
    framing = true;
    // Give the command every chance to switch the capture on meanwhile.
    for (int i = 0; i < 50 && !g_bConsoleCommand.load(); ++i) std::this_thread::sleep_for(10ms);
    dlg_->m_AppHandler.WriteLog(0, 4, "frame line written mid-frame\n");
  });
  while (!framing) std::this_thread::yield();
  dlg_->OnConsoleGo("status");
  frame.join();
  EXPECT_TRUE(dlg_->m_listConsole.empty());
  EXPECT_FALSE(g_bConsoleCommand.load());
  EXPECT_THAT(Log(), HasSubstr("frame line written mid-frame"));
}

// Once the host loads a module, a registration its interface database
// refuses (a module bringing "ILTCommon.Server" in another version) is a
// line of the host log. The load itself is failed at the seam: only the
// sink matters here, not a module.
TEST_F(DispatchTest, RefusedInterfaceRegistrationReachesTheHostLog) {
  dlg_->m_pServer = nullptr;
  platform::fault::Arm(platform::fault::Point::kLibraryLoad, 1, platform::fault::kDefaultError);
  EXPECT_FALSE(dlg_->LoadServer());
  platform::fault::Reset();
  struct Impl final : IInterfaceImpl {
    const char* GetImplName() const override { return "wrong version"; }
  } impl;
  EXPECT_FALSE(GetMasterDatabase()->AddImplementation(&impl, "ILTCommon.Server", 5));
  EXPECT_THAT(Log(), HasSubstr("Interface registration rejected: "));
  EXPECT_THAT(Log(), HasSubstr("\"ILTCommon.Server\" version 5"));
  SetInterfaceErrorSink(nullptr);
}

// Start-up raises the runtime's stream limit before anything can stop it
// (Windows; POSIX has no such limit, where the step does nothing).
TEST_F(DispatchTest, StartUpFirstRaisesTheOpenStreamLimit) {
  std::vector<std::string> boxes;
  platform::SetMessageBoxSink([&](std::string_view text) { boxes.emplace_back(text); });
  EXPECT_FALSE(dlg_->OnInitDialog());  // no command line and no parameter file
  platform::SetMessageBoxSink(nullptr);
  EXPECT_EQ(boxes, (std::vector<std::string>{"GameServerManager has not been started",
                                             "Number of parameters is invalid. Terminating App"}));
  const int limit = platform::MaxOpenStreams();
  EXPECT_TRUE(limit == -1 || limit == 768) << limit;
}

// The lines that print the system's error number take the one the failed
// call left: errno on POSIX, GetLastError on Windows (which never sets
// errno). The calls are failed at the seam with a number neither system
// gives them.
TEST_F(DispatchTest, SystemErrorNumbersComeFromTheFailedCall) {
  constexpr int kError = 1031;
  platform::fault::Arm(platform::fault::Point::kWindowPost, 1, kError);
  Post(GAMESERVERMSG_HOST_HEARTBEAT, 0);
  platform::fault::Reset();
  EXPECT_THAT(Log(), HasSubstr("S_P_F: HOST_HEARTBEAT : " + std::to_string(kError)));

  // The memory query's three steps, each failing through a faulted system
  // call, with the real "last error" behind the lines.
  static const auto failing_call = [] {
    platform::fault::Arm(platform::fault::Point::kFileOpen, 1, kError);
    platform::ScopedFile file(platform::OpenForReadExclusive("Setting.ini"));
    platform::fault::Reset();
    return file.valid();
  };
  const ProcessMemoryQuery& real = RealProcessMemoryQuery();
  const ProcessMemoryQuery kQueries[] = {
      {[]() -> uint32_t { return failing_call() ? 1 : 0; }, real.CanOpenProcess, real.PrivateBytes,
       real.LastError},
      {real.ProcessId, [](uint32_t) { return failing_call(); }, real.PrivateBytes, real.LastError},
      {real.ProcessId, real.CanOpenProcess, []() -> uint64_t { return failing_call() ? 1 : 0; },
       real.LastError},
  };
  const char* kLines[] = {"Get pid error.", "Open process error.", "GetProcessMemoryInfo error."};
  for (size_t i = 0; i < std::size(kQueries); ++i) {
    dlg_->m_AppHandler.SetProcessMemoryQuery(kQueries[i]);
    EXPECT_EQ(dlg_->m_AppHandler.GetProcessMemoryUsage(), 0u);
    EXPECT_THAT(Log(),
                HasSubstr(std::string("[ERROR] GetProcessMemoryUsage() ") + kLines[i] +
                          " (server index: 3, error number: " + std::to_string(kError) + ")"))
        << kLines[i];
  }
  dlg_->m_AppHandler.SetProcessMemoryQuery(real);
}

TEST_F(DispatchTest, SmallForwardsCarryTheirValuesAndLogTheirOwnFailures) {
  Post(GAMESERVERMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY, 0x1FF);
  Post(GAMESERVERMSG_ADDITIONAL_ROOM_INFO, 0x100000000LL);
  ASSERT_EQ(server_.ids.size(), 2u);
  EXPECT_EQ(server_.ids[0], SERVERAPPMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY);
  EXPECT_EQ(server_.messages[0]->ReadBits(8), 0xFFu);
  EXPECT_EQ(server_.ids[1], SERVERAPPMSG_ADDITIONAL_ROOM_INFO);
  EXPECT_EQ(server_.messages[1]->ReadBits(1), 1u);  // any non-zero value is true

  server_.answer = 1;
  Post(GAMESERVERMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY, 1);
  Post(GAMESERVERMSG_ADDITIONAL_ROOM_INFO, 0);
  Post(GAMESERVERMSG_LOAD_MAP, 1);
  const std::string log = Log();
  EXPECT_THAT(log, HasSubstr("Error while processing SendToServerShell() - "
                             "GAMESERVERMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY"));
  EXPECT_THAT(log, HasSubstr("Error while processing SendToServerShell() - "
                             "GAMESERVERMSG_ADDITIONAL_ROOM_INFO"));
  EXPECT_THAT(log, HasSubstr("[FATAL] " + Entry(41)));

  // No writer can be made: nothing is sent, nothing logged.
  g_pLTCommon = nullptr;
  const size_t delivered = server_.ids.size();
  const size_t logged = Log().size();
  Post(GAMESERVERMSG_ADDITIONAL_ROOM_INFO, 1);
  EXPECT_EQ(server_.ids.size(), delivered);
  EXPECT_EQ(Log().size(), logged);
}

TEST_F(DispatchTest, TimerZeroSendsAnEmptyGameEnd) {
  dlg_->OnTimer(0);
  auto end = manager_->WaitFor(gsmsim::IsCopyData(GAMESERVERMSG_GAMEEND), 2s);
  ASSERT_TRUE(end);
  ASSERT_EQ(end->data.size(), 109986u);
  EXPECT_EQ(end->data[0], std::byte{3});
  EXPECT_EQ(end->data[1], std::byte{0});
  EXPECT_EQ(std::count(end->data.begin() + 2, end->data.end(), std::byte{0}), 109984);
  EXPECT_THAT(Log(), HasSubstr("[ERROR] " + Entry(49)));
}

}  // namespace
}  // namespace dispatchtest

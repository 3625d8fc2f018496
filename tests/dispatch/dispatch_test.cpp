// The dialog without a window, driven by calling its handlers: a fake server
// keeps the (real) module messages, gsmsim's peer plays the manager in process.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "gameserverapphandler.h"
#include "gsmsim/peer/manager_peer.h"
#include "interface/hostltcommon.h"
#include "interface/igameserver.h"
#include "interface/interfacedatabase.h"
#include "interface/interfaceerror.h"
#include "interface/interfacestate.h"
#include "interface/ltmessage.h"
#include "logmsgmanager.h"
#include "ltcommon.h"
#include "manager_records.h"
#include "platform/dialog.h"
#include "platform/fault_injection.h"
#include "platform/files.h"
#include "platform/identity.h"
#include "platform/runtime.h"
#include "protocol/gameprotocommon.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "protocol/serverappmsg.h"
#include "queues.h"
#include "safeformat.h"
#include "serverappdlg.h"
#include "serverglobals.h"
#include "support/log_sandbox.h"
#include "support/null_game_server.h"

namespace dispatchtest {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

// Keeps the readers (with a reference) after their 8-bit id; answers `answer`.
class FakeServer final : public NullGameServer {
 public:
  ~FakeServer() {
    for (ILTMessage_Read* m : messages) m->Release();
  }
  int32_t SendToServerShell(ILTMessage_Read* pMessage) override {
    pMessage->Acquire();
    ids.push_back(pMessage->ReadBits(8));
    messages.push_back(pMessage);
    return answer;
  }
  int32_t GetUserCount() override { return users; }

  std::vector<ILTMessage_Read*> messages;
  std::vector<uint32_t> ids;
  int32_t users = 0;
  int32_t answer = 0;
};

class DispatchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    logs_ = std::make_unique<testsupport::LogSandbox>("dispatchtest-");
    fs::create_directories(logs_->dir() / "rez/NationMsz");
    fs::copy_file(fs::path(SERVERAPP_DIST_DIR) / "rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz",
                  logs_->dir() / "rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz");
    logs_->Start("LogLevel=5\n", "9_3", "dispatchhost");
  }
  static void TearDownTestSuite() { logs_.reset(); }
  void SetUp() override {
    ASSERT_TRUE(InitLogMsgManager(EUSAGE_NOUSE));
    manager_ = gsmsim::ManagerPeer::Start();
    ASSERT_NE(manager_, nullptr);
    dlg_ = std::make_unique<CServerAppDlg>(std::vector<std::string>{});
    dlg_->m_sServerIndex = 3;
    dlg_->m_pServer = &server_;
    dlg_->m_ManagerLink.Attach(manager_->handle(), 0, 3);
    g_pLTCommon = &common_;
    ClearQueues();
    log_start_ = logs_->Text("error_").size();
    etc_start_ = logs_->Text("etcinfo_").size();
  }
  void TearDown() override {
    dlg_.reset();  // deletes the locks; releases the message table
    g_pLTCommon = nullptr;
    manager_.reset();
  }

  // Main-log and etcinfo text written since SetUp.
  std::string Log() const { return logs_->Text("error_").substr(log_start_); }
  std::string EtcInfoLog() const { return logs_->Text("etcinfo_").substr(etc_start_); }
  // A text of the default message table.
  static std::string Entry(uint32_t id) { return GetLogMsg(id); }

  void Post(uint32_t msgID, int64_t lParam) { dlg_->OnPost(WM_GAMESERVER, msgID, lParam); }
  void CopyData(uint64_t dwData, const void* data, size_t size) {
    platform::CopyData copy;
    copy.dw_data = dwData;
    copy.data = std::span<const std::byte>(static_cast<const std::byte*>(data), size);
    EXPECT_EQ(dlg_->OnSend(platform::kWmCopyData, manager_->handle(), 0, copy), 0);
  }

  static inline std::unique_ptr<testsupport::LogSandbox> logs_;
  refmod::CLTCommon common_;
  FakeServer server_;
  std::unique_ptr<gsmsim::ManagerPeer> manager_;
  std::unique_ptr<CServerAppDlg> dlg_;
  size_t log_start_ = 0;
  size_t etc_start_ = 0;
};

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

// Shorter than its 8-bit id, a message would read as id 0 (map loaded, game end cleared).
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

// A console command taken mid-frame (the update thread holds the module
// lock) captures only once the frame is over: the frame's line stays a log line.
TEST_F(DispatchTest, ConsoleCaptureWaitsForTheFrameHoldingTheModuleLock) {
  std::atomic<bool> framing{false};
  std::thread frame([&] {
    platform::LockGuard lock(*g_csServer);
    framing = true;
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

// A refused registration (a module bringing "ILTCommon.Server" in another
// version) is a host log line once a load set the sink; the load fails at the seam.
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

// Before anything can stop it (Windows; POSIX has no such limit).
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

// The error number printed is the failed call's (errno, or GetLastError on
// Windows, which never sets errno), faulted with a number no system gives.
TEST_F(DispatchTest, SystemErrorNumbersComeFromTheFailedCall) {
  constexpr int kError = 1031;
  platform::fault::Arm(platform::fault::Point::kWindowPost, 1, kError);
  Post(GAMESERVERMSG_HOST_HEARTBEAT, 0);
  platform::fault::Reset();
  EXPECT_THAT(Log(), HasSubstr("S_P_F: HOST_HEARTBEAT : " + std::to_string(kError)));

  // The memory query's three steps, each failing through a faulted call.
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

TEST_F(DispatchTest, UserDisconnectedShortPayloadKeepsHighBytesAllOnes) {
  const uint8_t low[4] = {0x78, 0x56, 0x34, 0x12};
  CopyData(GAMESERVERMSG_USER_DISCONNECTED, low, sizeof(low));
  const uint64_t usn = 0x1122334455667788ull;
  CopyData(GAMESERVERMSG_USER_DISCONNECTED, &usn, sizeof(usn));
  ASSERT_EQ(server_.ids.size(), 2u);
  EXPECT_EQ(server_.ids[0], SERVERAPPMSG_USER_DISCONNECTED);
  EXPECT_EQ(server_.messages[0]->ReadBits64(64), 0xFFFFFFFF12345678ull);
  EXPECT_EQ(server_.messages[1]->ReadBits64(64), usn);

  server_.answer = 2;
  CopyData(GAMESERVERMSG_USER_DISCONNECTED, &usn, sizeof(usn));
  EXPECT_THAT(Log(), HasSubstr("[FATAL] " + Entry(44)));
}

// Forms the manager never uses: WM_USER+0x40 sent, not posted, is left alone;
// a record of another size raises the debug size assertion and is still taken.
TEST_F(DispatchTest, ManagerMessagesOfTheWrongFormAreReported) {
  std::vector<std::string> asserts;
  platform::SetAssertionSink([&](std::string_view text) { asserts.emplace_back(text); });
  EXPECT_EQ(dlg_->OnSend(WM_GAMESERVER, GAMESERVERMSG_LOAD_MAP, 0x00010001, {}), 0);
  EXPECT_TRUE(server_.ids.empty());
  EXPECT_THAT(Log(),
              HasSubstr("WM_USER+0x40 arrived by SendMessage, not posted: ignored. tIndex[3], "
                        "msgID[4], lParam[65537]"));

  const uint64_t usn = 7;
  CopyData(GAMESERVERMSG_USER_DISCONNECTED, &usn, sizeof(usn));
  EXPECT_TRUE(asserts.empty());
  const struct {
    uint64_t id;
    size_t size;
  } kWrongSizes[] = {
      {GAMESERVERMSG_USER_DISCONNECTED, 4},
      {GAMESERVERMSG_USER_DISCONNECTED, 9},
      {GAMESERVERMSG_UCC_MAP_LOAD, 1},
      {GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO, 16},
  };
  const std::vector<uint8_t> bytes(64, 0);
  for (const auto& row : kWrongSizes) {
    SCOPED_TRACE(testing::Message() << "id " << row.id << ", " << row.size << " bytes");
    asserts.clear();
    CopyData(row.id, bytes.data(), row.size);
    EXPECT_THAT(asserts, ElementsAre(HasSubstr("tSize == pCopyDataStruct->cbData")));
  }
  platform::SetAssertionSink(nullptr);
  EXPECT_EQ(server_.ids.size(), 3u);  // the two disconnections of the right form and the cut one
}

TEST_F(DispatchTest, AutoMatchUserBlockNeedsItsExactSize) {
  auto block = std::make_unique<PROTO_AUTO_MATCH_STARTING_USER_INFO>();
  block->Users[49].USN = 4242;
  CopyData(GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO, block.get(), sizeof(PROTO_GAME_USER_INFO));
  EXPECT_TRUE(server_.ids.empty());
  EXPECT_THAT(Log(), HasSubstr("[ERROR] SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO - Failed"));

  CopyData(GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO, block.get(), sizeof(*block));
  ASSERT_EQ(server_.ids.size(), 1u);
  EXPECT_EQ(server_.ids[0], SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO);
  auto got = std::make_unique<PROTO_AUTO_MATCH_STARTING_USER_INFO>();
  server_.messages[0]->ReadData(got.get(), sizeof(*got) * 8);
  const uint64_t last = got->Users[49].USN;
  EXPECT_EQ(last, 4242u);
  EXPECT_THAT(Log(), HasSubstr("[INFO_] SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO \r"));
}

TEST_F(DispatchTest, LogSerialStopsAtItsTerminatorOrThePayloadEnd) {
  const char with_nul[] = "SER-1\0junk";
  CopyData(GAMESERVERMSG_LOG_SERIAL, with_nul, sizeof(with_nul));
  const char no_nul[3] = {'A', 'B', 'C'};
  CopyData(GAMESERVERMSG_LOG_SERIAL, no_nul, 2);
  ASSERT_EQ(server_.ids.size(), 2u);
  char text[64];
  server_.messages[0]->ReadString(text, sizeof(text));
  EXPECT_STREQ(text, "SER-1");
  server_.messages[1]->ReadString(text, sizeof(text));
  EXPECT_STREQ(text, "AB");
}

TEST_F(DispatchTest, UnknownCopyDataIsIgnoredAndUccLoadIsReportedFailed) {
  const uint32_t value = 1;
  CopyData(GAMESERVERMSG_START_HOST_ACK, &value, sizeof(value));
  CopyData(999, &value, sizeof(value));
  EXPECT_TRUE(server_.ids.empty());
  EXPECT_EQ(g_iQueuedGameInfosNum, 0);
  EXPECT_THAT(Log(), HasSubstr("Not Supported CopyData!!!!! tIndex[3], dwData[7], cbData[4]"));
  EXPECT_THAT(Log(), HasSubstr("Not Supported CopyData!!!!! tIndex[3], dwData[999], cbData[4]"));

  stUCCGamePlay play;
  play.MapIndex = 77;
  std::strcpy(play.MapName, "custom.rez");
  CopyData(GAMESERVERMSG_UCC_MAP_LOAD, &play, sizeof(play));
  auto done = manager_->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_LOADING_COMPLETE), 2s);
  ASSERT_TRUE(done);
  EXPECT_EQ(static_cast<uint32_t>(done->l_param), (77u << 16) | 0xFFFAu);  // reason 5
}

TEST_F(DispatchTest, GameInfoStoreRefusesTheEleventhAndPopsNewestFirst) {
  for (int i = 0; i < 11; ++i) {
    auto info = GameInfo(("GI-" + std::to_string(i)).c_str());
    CopyData(GAMESERVERMSG_START_HOST, info.get(), sizeof(*info));
  }
  EXPECT_EQ(g_iQueuedGameInfosNum, 10);
  const std::string log = Log();
  EXPECT_THAT(log, HasSubstr("[INFO_] g_sGameInfos - Push GameInfo Succeeded : GameLogSerial GI-9, "
                             "ServerIdx 3, g_iQueuedGameInfosNum 10"));
  EXPECT_THAT(log, HasSubstr("[ERROR] g_sGameInfos - Push GameInfo Failed : GameLogSerial GI-10, "
                             "ServerIdx 3, g_iQueuedGameInfosNum 10"));

  auto out = std::make_unique<PROTO_START_HOST>();
  int hooked = 0;
  ASSERT_TRUE(PopGameInfo(*out, [&](const PROTO_START_HOST&) { ++hooked; }));
  EXPECT_STREQ(out->GameLogSerial, "GI-9");
  ASSERT_TRUE(PopGameInfo(*out));
  EXPECT_STREQ(out->GameLogSerial, "GI-8");
  EXPECT_EQ(hooked, 1);
  EXPECT_EQ(g_iQueuedGameInfosNum, 8);
  EXPECT_THAT(Log(), HasSubstr("SendGameInfo EnterCriticalSection - g_iQueuedGameInfosNum 10"));
  EXPECT_THAT(Log(), HasSubstr("SendGameInfo LeaveCriticalSection - g_iQueuedGameInfosNum 9"));

  // A serial without a terminator is logged within its 16 bytes.
  ClearQueues();
  auto full = GameInfo("0123456789ABCDEFGHIJ");
  CopyData(GAMESERVERMSG_START_HOST, full.get(), sizeof(*full));
  EXPECT_THAT(Log(), HasSubstr("GameLogSerial 0123456789ABCDEF, ServerIdx"));
  // A negative count counts as full.
  g_iQueuedGameInfosNum = -1;
  EXPECT_FALSE(PushGameInfo(*full, 3));
  EXPECT_FALSE(PopGameInfo(*out));
  g_iQueuedGameInfosNum = 0;
}

TEST_F(DispatchTest, UserStoreLogsBySourceAndRefusesTheFiftyFirst) {
  PROTO_GAME_USER_INFO first = User(1001, 4, 2);
  CopyData(GAMESERVERMSG_INSERTCHARACTER, &first, sizeof(first));
  // A short payload keeps the defaulted tail.
  PROTO_GAME_USER_INFO second = User(1002, 5);
  CopyData(GAMESERVERMSG_INSERTCHARACTER, &second, 17);
  EXPECT_EQ(g_iQueuedUserInfosNum, 2);
  EXPECT_THAT(Log(),
              HasSubstr("g_sUserInfos - Push UserInfo Succeeded : USN 1001, SlotIdx 4, ServerIdx "
                        "3, g_iQueuedUserInfosNum 1"));
  const std::string texts = hostlog::SafeFormat(Entry(39), 4, "first", "second", 2);
  const std::string etc = EtcInfoLog();
  EXPECT_THAT(etc, HasSubstr(texts));
  EXPECT_NE(etc.find(texts, etc.find(texts) + 1), std::string::npos);  // copy and received
  EXPECT_EQ(g_sUserInfos[1].FirstText[0], '\0');

  EXPECT_TRUE(PushUserInfo(User(1003, 6), UserInfoSource::kAddress, 3));
  EXPECT_THAT(Log(), HasSubstr("Recv GAMESERVERMSG_INSERTCHARACTER - USN 1003, SlotIdx 6"));
  EXPECT_THAT(EtcInfoLog(), HasSubstr(hostlog::SafeFormat(Entry(34), 3)));

  while (g_iQueuedUserInfosNum < kUserInfoStoreSize) {
    ASSERT_TRUE(PushUserInfo(User(2000, 1), UserInfoSource::kCopyData, 3));
  }
  EXPECT_FALSE(PushUserInfo(User(3000, 7), UserInfoSource::kCopyData, 3));
  EXPECT_FALSE(PushUserInfo(User(3001, 8), UserInfoSource::kAddress, 3));
  EXPECT_EQ(g_iQueuedUserInfosNum, 50);
  EXPECT_THAT(Log(), HasSubstr("[ERROR] g_sUserInfos - Push UserInfo Failed : USN 3000, SlotIdx 7, "
                               "ServerIdx 3, g_iQueuedUserInfosNum 50"));
  EXPECT_THAT(Log(), HasSubstr("[ERROR] " + Entry(47)));
}

TEST_F(DispatchTest, SendUserInfoDeliversTheLowSlotByteAndAcknowledgesTenBytes) {
  PROTO_GAME_USER_INFO user = User(0xFEDCBA9876543210ull, 300, 1);
  user.r4189[5] = 0xEE;  // the last byte travels too
  dlg_->SendUserInfo(user);
  ASSERT_EQ(server_.ids.size(), 1u);
  EXPECT_EQ(server_.ids[0], SERVERAPPMSG_INSERTCHARACTER);
  EXPECT_EQ(server_.messages[0]->ReadBits(8), 44u);
  PROTO_GAME_USER_INFO got;
  server_.messages[0]->ReadData(&got, sizeof(got) * 8);
  EXPECT_EQ(std::memcmp(&got, &user, sizeof(got)), 0);

  auto ack = manager_->WaitFor(gsmsim::IsCopyData(GAMESERVERMSG_INSERTCHARACTER_ACK), 2s);
  ASSERT_TRUE(ack);
  // tIndex 3, then the USN, little-endian; the log prints it signed.
  const uint8_t expected[] = {3, 0, 0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
  EXPECT_THAT(ack->data, ElementsAreArray(std::as_bytes(std::span(expected))));
  EXPECT_THAT(Log(), HasSubstr("GAMESERVERMSG_INSERTCHARACTER_ACK - USN -81985529216486896, "
                               "SlotIdx 300, TeamIdx 1"));

  server_.answer = 1;
  dlg_->SendUserInfo(user);
  EXPECT_THAT(Log(), HasSubstr("[FATAL] " + Entry(37)));
}

// A failed delivery is acknowledged all the same; once the manager's window
// is gone, records still reach the module and nothing is acknowledged.
TEST_F(DispatchTest, DeliveriesAreAcknowledgedWhileTheManagerLives) {
  server_.answer = 1;
  dlg_->SendGameInfo(*GameInfo("FAIL-1"));
  EXPECT_TRUE(manager_->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_START_HOST_ACK), 2s));
  const std::string log = Log();
  EXPECT_THAT(log, HasSubstr("[FATAL] " + Entry(30)));
  EXPECT_LT(log.find(Entry(31)), log.find(Entry(32)));
  EXPECT_LT(log.find(Entry(32)), log.find(Entry(33)));

  manager_.reset();
  server_.answer = 0;
  const size_t logged = Log().size();
  dlg_->SendGameInfo(*GameInfo("ALONE"));
  dlg_->SendUserInfo(User(5, 5));
  EXPECT_THAT(server_.ids, ElementsAre(SERVERAPPMSG_START_HOST, SERVERAPPMSG_START_HOST,
                                       SERVERAPPMSG_INSERTCHARACTER));
  const std::string alone = Log().substr(logged);
  EXPECT_THAT(alone, HasSubstr(Entry(29)));
  EXPECT_THAT(alone, HasSubstr(Entry(31)));
  EXPECT_THAT(alone, HasSubstr(Entry(33)));
  EXPECT_THAT(alone, Not(HasSubstr(Entry(30))));
  EXPECT_THAT(alone, Not(HasSubstr(Entry(32))));
  EXPECT_THAT(alone, Not(HasSubstr("GAMESERVERMSG_INSERTCHARACTER_ACK")));
}

}  // namespace
}  // namespace dispatchtest

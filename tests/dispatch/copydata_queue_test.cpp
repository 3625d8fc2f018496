// Copy-data messages from the manager, the two stores, and the deliveries
// of queued records with their acknowledgements.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "dispatch_fixture.h"
#include "manager_records.h"
#include "platform/identity.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "protocol/serverappmsg.h"
#include "queues.h"
#include "safeformat.h"
#include "serverglobals.h"

namespace dispatchtest {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

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

// Messages in a form the manager never uses: a WM_USER+0x40 sent instead of
// posted is left alone with one line; a record whose size differs from its
// type's raises the debug size assertion (and is still taken).
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
  // Neither vanishes without a trace.
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

TEST_F(DispatchTest, SendGameInfoAcknowledgesAfterAFailedDelivery) {
  server_.answer = 1;
  auto info = GameInfo("FAIL-1");
  dlg_->SendGameInfo(*info);
  EXPECT_TRUE(manager_->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_START_HOST_ACK), 2s));
  const std::string log = Log();
  EXPECT_THAT(log, HasSubstr("[FATAL] " + Entry(30)));
  EXPECT_LT(log.find(Entry(31)), log.find(Entry(32)));
  EXPECT_LT(log.find(Entry(32)), log.find(Entry(33)));
}

}  // namespace
}  // namespace dispatchtest

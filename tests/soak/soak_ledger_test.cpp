// The soak's message account: what counts as an answer, and when an
// account balances.
#include "soak_ledger.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/window.h"
#include "protocol/gameservermsg.h"

namespace soak {
namespace {

using namespace std::chrono_literals;

gsmsim::ReceivedMessage Post(int16_t tindex, uint16_t id, int64_t l_param = 0) {
  gsmsim::ReceivedMessage m;
  m.kind = gsmsim::ReceivedMessage::Kind::kPost;
  m.msg = WM_GAMESERVERMSG;
  m.w_param = static_cast<platform::WParam>(static_cast<uint16_t>(tindex)) << 16 | id;
  m.l_param = l_param;
  return m;
}

gsmsim::ReceivedMessage Send(int16_t tindex, uint16_t id, size_t size) {
  gsmsim::ReceivedMessage m;
  m.kind = gsmsim::ReceivedMessage::Kind::kSend;
  m.msg = platform::kWmCopyData;
  m.dw_data = id;
  m.data.resize(size);
  if (size >= 2) std::memcpy(m.data.data(), &tindex, 2);
  return m;
}

TEST(SoakLedger, AnswersAreReadByIdServerIndexAndMap) {
  auto heartbeat = Classify(Post(7, GAMESERVERMSG_HOST_HEARTBEAT_ACK), 900);
  ASSERT_TRUE(heartbeat && heartbeat->kind);
  EXPECT_EQ(heartbeat->tindex, 7);
  EXPECT_EQ(*heartbeat->kind, Kind::kHeartbeat);

  // LOADING_COMPLETE carries its map in the high half of lParam: a content
  // map (at or above the base) is told from a plain one, also when the low
  // half reports a failure.
  auto plain = Classify(Post(3, GAMESERVERMSG_LOADING_COMPLETE, 899 << 16 | 0xFFFA), 900);
  auto content = Classify(Post(3, GAMESERVERMSG_LOADING_COMPLETE, 900 << 16 | 0xFFFA), 900);
  auto waited = Classify(Post(3, GAMESERVERMSG_LOADING_COMPLETE, 901 << 16 | 0xFFF9), 900);
  ASSERT_TRUE(plain && plain->kind && content && content->kind && waited && waited->kind);
  EXPECT_EQ(*plain->kind, Kind::kLoadMap);
  EXPECT_EQ(*content->kind, Kind::kUccLoad);
  EXPECT_EQ(*waited->kind, Kind::kUccWait);

  auto ack = Classify(Send(199, GAMESERVERMSG_INSERTCHARACTER_ACK, 10), 900);
  ASSERT_TRUE(ack && ack->kind);
  EXPECT_EQ(ack->tindex, 199);
  EXPECT_EQ(*ack->kind, Kind::kUserJoin);
  auto removed = Classify(Send(2, GAMESERVERMSG_REMOVECLIENT, 60), 900);
  ASSERT_TRUE(removed && removed->kind);
  EXPECT_EQ(*removed->kind, Kind::kUserLeave);

  // No server index in a one-byte payload; other window messages are not
  // the manager's; an id the soak never causes answers nothing.
  EXPECT_FALSE(Classify(Send(2, GAMESERVERMSG_REMOVECLIENT, 1), 900));
  auto timer = Post(1, 1);
  timer.msg = platform::kWmTimer;
  EXPECT_FALSE(Classify(timer, 900));
  auto ready = Classify(Post(1, GAMESERVERMSG_REPORT_HWND), 900);
  ASSERT_TRUE(ready);
  EXPECT_FALSE(ready->kind);
}

TEST(SoakLedger, AccountsBalanceOnlyWhenEveryMessageIsAnsweredOnce) {
  Ledger ledger(2);
  ledger.Sent(0, Kind::kLoadMap);
  ledger.Sent(0, Kind::kLoadMap);
  ledger.NotPosted(0, Kind::kLoadMap);
  ledger.Sent(1, Kind::kUnsupported);
  EXPECT_EQ(ledger.Problems().size(), 2u);

  EXPECT_TRUE(ledger.Record({0, Kind::kLoadMap, GAMESERVERMSG_LOADING_COMPLETE}));
  EXPECT_EQ(ledger.Get(0, Kind::kLoadMap).Unaccounted(), 1);
  // An answer from a server index outside the run, or one that answers
  // nothing, is a stray, not an acknowledgement.
  EXPECT_FALSE(ledger.Record({2, Kind::kLoadMap, GAMESERVERMSG_LOADING_COMPLETE}));
  EXPECT_FALSE(ledger.Record({-1, Kind::kLoadMap, GAMESERVERMSG_LOADING_COMPLETE}));
  EXPECT_FALSE(ledger.Record({1, std::nullopt, 42}));
  EXPECT_EQ(ledger.Strays().size(), 3u);
  EXPECT_EQ(ledger.Get(0, Kind::kLoadMap).acknowledged, 1u);

  EXPECT_TRUE(ledger.Record({0, Kind::kLoadMap, GAMESERVERMSG_LOADING_COMPLETE}));
  ledger.SetRefusedLogged(1, Kind::kUnsupported, 1);
  EXPECT_TRUE(ledger.Problems().empty());
  const Tally total = ledger.Total(Kind::kLoadMap);
  EXPECT_EQ(total.sent, 2u);
  EXPECT_EQ(total.not_posted, 1u);

  // One answer too many shows as well.
  EXPECT_TRUE(ledger.Record({0, Kind::kLoadMap, GAMESERVERMSG_LOADING_COMPLETE}));
  ASSERT_EQ(ledger.Problems().size(), 1u);
  EXPECT_NE(ledger.Problems()[0].find("1 answers too many"), std::string::npos);
}

TEST(SoakLedger, WaitSettledEndsWhenTheLastAnswerArrives) {
  Ledger ledger(1);
  constexpr std::array kinds{Kind::kUserJoin, Kind::kUserJoinRoom};
  ledger.Sent(0, Kind::kUserJoin);
  ledger.Sent(0, Kind::kUserJoinRoom);
  EXPECT_FALSE(ledger.WaitSettled(0, kinds, 20ms));
  std::thread answers([&] {
    std::this_thread::sleep_for(20ms);
    ledger.Record({0, Kind::kUserJoin, GAMESERVERMSG_INSERTCHARACTER_ACK});
    std::this_thread::sleep_for(20ms);
    ledger.Record({0, Kind::kUserJoinRoom, GAMESERVERMSG_ADDCLIENT});
  });
  EXPECT_TRUE(ledger.WaitSettled(0, kinds, 5s));
  answers.join();
  EXPECT_EQ(ledger.Get(0, Kind::kUserJoinRoom).acknowledged, 1u);
}

}  // namespace
}  // namespace soak

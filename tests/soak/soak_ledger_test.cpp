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
  gsmsim::ReceivedMessage timer = Post(1, 1);
  timer.msg = platform::kWmTimer;
  // A content map (at or above 900 in lParam's high half) is told from a
  // plain one, also when the low half reports a failure (0xFFF9: the
  // package wait's end). Rows without a server index are no answer at all.
  const struct {
    const char* name;
    gsmsim::ReceivedMessage message;
    std::optional<int16_t> tindex;
    std::optional<Kind> kind;
  } rows[] = {
      {"heartbeat", Post(7, GAMESERVERMSG_HOST_HEARTBEAT_ACK), 7, Kind::kHeartbeat},
      {"plain map", Post(3, GAMESERVERMSG_LOADING_COMPLETE, 899 << 16 | 0xFFFA), 3, Kind::kLoadMap},
      {"content map", Post(3, GAMESERVERMSG_LOADING_COMPLETE, 900 << 16 | 0xFFFA), 3,
       Kind::kUccLoad},
      {"wait over", Post(4, GAMESERVERMSG_LOADING_COMPLETE, 901 << 16 | 0xFFF9), 4, Kind::kUccWait},
      {"join ack", Send(199, GAMESERVERMSG_INSERTCHARACTER_ACK, 10), 199, Kind::kUserJoin},
      {"leave", Send(2, GAMESERVERMSG_REMOVECLIENT, 60), 2, Kind::kUserLeave},
      {"window report", Post(1, GAMESERVERMSG_REPORT_HWND), 1, std::nullopt},
      {"one-byte payload", Send(2, GAMESERVERMSG_REMOVECLIENT, 1), std::nullopt, std::nullopt},
      {"timer", timer, std::nullopt, std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::optional<Answer> answer = Classify(row.message, 900);
    ASSERT_EQ(answer.has_value(), row.tindex.has_value());
    if (!answer) continue;
    EXPECT_EQ(answer->tindex, *row.tindex);
    EXPECT_EQ(answer->kind, row.kind);
  }
}

TEST(SoakLedger, AccountsBalanceOnlyWhenEveryMessageIsAnsweredOnce) {
  Ledger ledger(2);
  ledger.Add(0, Kind::kLoadMap, &Tally::sent);
  ledger.Add(0, Kind::kLoadMap, &Tally::sent);
  ledger.Add(0, Kind::kLoadMap, &Tally::not_posted);
  ledger.Add(1, Kind::kUnsupported, &Tally::sent);
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
  ledger.Add(1, Kind::kUnsupported, &Tally::refused_logged);
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
  ledger.Add(0, Kind::kUserJoin, &Tally::sent);
  ledger.Add(0, Kind::kUserJoinRoom, &Tally::sent);
  EXPECT_FALSE(ledger.WaitSettled(0, {Kind::kUserJoin, Kind::kUserJoinRoom}, 20ms));
  std::thread answers([&] {
    std::this_thread::sleep_for(20ms);
    ledger.Record({0, Kind::kUserJoin, GAMESERVERMSG_INSERTCHARACTER_ACK});
    std::this_thread::sleep_for(20ms);
    ledger.Record({0, Kind::kUserJoinRoom, GAMESERVERMSG_ADDCLIENT});
  });
  EXPECT_TRUE(ledger.WaitSettled(0, {Kind::kUserJoin, Kind::kUserJoinRoom}, 5s));
  answers.join();
  EXPECT_EQ(ledger.Get(0, Kind::kUserJoinRoom).acknowledged, 1u);
}

}  // namespace
}  // namespace soak

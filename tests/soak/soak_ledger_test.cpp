// The soak's message account: that it can fail. (Which message answers
// which is read by the soak itself, whose accounts would not balance if a
// message were misread.)
#include "soak_ledger.h"

#include <gtest/gtest.h>

#include "protocol/gameservermsg.h"

namespace soak {
namespace {

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

}  // namespace
}  // namespace soak

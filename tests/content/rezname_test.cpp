#include "content/rezname.h"

#include <gtest/gtest.h>

#include "content/rezdownload.h"

namespace {

TEST(RezName, OnlyPlainFileNamesPass) {
  EXPECT_EQ(CheckRezFileName("maps.rez"), RezNameCheck::kOk);
  EXPECT_EQ(CheckRezFileName("my map (2).rez"), RezNameCheck::kOk);
  EXPECT_EQ(CheckRezFileName("\xEB\xA7\xB5.rez"), RezNameCheck::kOk);  // UTF-8
  EXPECT_EQ(CheckRezFileName(".hidden.rez"), RezNameCheck::kOk);

  EXPECT_EQ(CheckRezFileName(""), RezNameCheck::kEmpty);
  EXPECT_EQ(CheckRezFileName("a/b.rez"), RezNameCheck::kSeparator);
  EXPECT_EQ(CheckRezFileName("a\\b.rez"), RezNameCheck::kSeparator);
  EXPECT_EQ(CheckRezFileName("c:b.rez"), RezNameCheck::kSeparator);
  EXPECT_EQ(CheckRezFileName(".."), RezNameCheck::kDotDot);
  EXPECT_EQ(CheckRezFileName("."), RezNameCheck::kDotDot);
  EXPECT_EQ(CheckRezFileName("x..rez"), RezNameCheck::kDotDot);
  EXPECT_EQ(CheckRezFileName("tab\there.rez"), RezNameCheck::kControl);
  EXPECT_EQ(CheckRezFileName("del\x7F.rez"), RezNameCheck::kControl);
  EXPECT_EQ(CheckRezFileName("x.rez\n"), RezNameCheck::kControl);
  EXPECT_EQ(CheckRezFileName("a?.rez"), RezNameCheck::kWildcard);
  EXPECT_EQ(CheckRezFileName("*.rez"), RezNameCheck::kWildcard);
}

TEST(RezName, FieldIsCutAtItsTerminatorOrRefused) {
  char field[8] = {'a', '.', 'r', 'e', 'z', '\0', 'x', 'y'};
  EXPECT_EQ(NameFromField(field, sizeof(field)), "a.rez");
  char full[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(NameFromField(full, sizeof(full)), std::nullopt);
  char empty[4] = {};
  EXPECT_EQ(NameFromField(empty, sizeof(empty)), "");
}

TEST(RezName, TemporaryNameCarriesMinuteSecondAndMilliseconds) {
  EXPECT_EQ(RezTempFileName({2026, 12, 5, 12, 34, 56, 789}, "abc.rez"), "3456789_abc.rez.log");
  EXPECT_EQ(RezTempFileName({2026, 12, 5, 12, 3, 4, 5}, "abc.rez"), "30405_abc.rez.log");
}

}  // namespace

#include "logline.h"

#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using hostlog::LineForm;

namespace {
platform::LocalTime At(int h, int mi, int s, int ms) {
  platform::LocalTime t;
  t.year = 2026;
  t.month = 12;
  t.day = 5;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  t.millisecond = ms;
  return t;
}
}  // namespace

TEST(LogLine, PrefixesAndSuffixesOfTheThreeForms) {
  const platform::LocalTime t = At(14, 3, 7, 15);
  EXPECT_EQ(hostlog::LinePrefix(LineForm::kLevel, t, 4, "M", "P"), "14:03:07.015 [INFO_] ");
  EXPECT_EQ(hostlog::LinePrefix(LineForm::kLevel, t, 1, "M", "P"), "14:03:07.015 [FATAL] ");
  EXPECT_EQ(hostlog::LinePrefix(LineForm::kLevel, t, 2, "M", "P"), "14:03:07.015 [ERROR] ");
  EXPECT_EQ(hostlog::LinePrefix(LineForm::kLevel, t, 3, "M", "P"), "14:03:07.015 [WARN_] ");
  EXPECT_EQ(hostlog::LinePrefix(LineForm::kLevel, t, 5, "M", "P"), "14:03:07.015 [LOW__] ");
  EXPECT_EQ(hostlog::LinePrefix(LineForm::kLevel, t, 0, "M", "P"), "14:03:07.015 ");
  EXPECT_EQ(hostlog::LinePrefix(LineForm::kInfo, t, 0, "ROOMPC01", "ServerApp"),
            "ROOMPC01,ServerApp,2026.12.05 14:03:07.015,info,");
  EXPECT_EQ(hostlog::LinePrefix(LineForm::kIpc, t, 0, "M", "P"), "2026-12-05-14:03:07.015, ");
  EXPECT_EQ(hostlog::LineSuffix(LineForm::kLevel), " \r\n");
  EXPECT_EQ(hostlog::LineSuffix(LineForm::kInfo), " \r\n");
  EXPECT_EQ(hostlog::LineSuffix(LineForm::kIpc), " \n");
}

// The crash path writes into fixed buffers with the same helpers: the same
// bytes, cut (and NUL-terminated) where the buffer ends.
TEST(LogLine, TextModeTurnsEachLfIntoCrLfAlsoIntoAFixedBuffer) {
  std::string out;
  hostlog::AppendTextMode("a\nb \r\n", &out);
  EXPECT_EQ(out, "a\r\nb \r\r\n");
  char buffer[6];
  hostlog::FixedText fixed(buffer, sizeof(buffer));
  hostlog::AppendTextMode("a\nb \r\n", &fixed);
  EXPECT_STREQ("a\r\nb ", buffer);
  EXPECT_TRUE(fixed.truncated());
}

TEST(LogLine, LogPathsOfBothFileKinds) {
  const platform::LocalTime t = At(23, 0, 0, 0);
  std::string eighth;
  hostlog::AppendLogPath("/l/quellmark/ServerApp", "9_4", "error", "ServerApp", "GS01", t, false,
                         &eighth);
  // The system's separator joins what the function adds (the root is the caller's).
  std::string expected = "/l/quellmark/ServerApp/20261205/9_4/error_ServerApp_GS01_20261205_07.log";
  std::replace(expected.begin() + 22, expected.end(), '/', platform::PathSeparator());
  EXPECT_EQ(expected, eighth);
  char buffer[128];
  hostlog::FixedText daily(buffer, sizeof(buffer));
  hostlog::AppendLogPath("/l", "", "packet", "ServerApp", "GS01", t, true, &daily);
  EXPECT_EQ(std::string("/l") + platform::PathSeparator() + "packet_ServerApp_GS01_20261205.log",
            buffer);
  EXPECT_FALSE(daily.truncated());
}

TEST(LogLine, CutKeepsConversionsAndCharactersWhole) {
  EXPECT_EQ(hostlog::CutLength("short", 10, true), 5u);
  EXPECT_EQ(hostlog::CutLength("abcdefgh", 4, false), 4u);
  // "%08.3f" straddles the cut at 6: it goes whole.
  EXPECT_EQ(hostlog::CutLength("ab%08.3fcd", 6, true), 2u);
  EXPECT_EQ(hostlog::CutLength("ab%08.3fcd", 8, true), 8u);
  // "%%" is one conversion too; a verbatim text ignores conversions.
  EXPECT_EQ(hostlog::CutLength("abc%%", 4, true), 3u);
  EXPECT_EQ(hostlog::CutLength("abc%%", 4, false), 4u);
  // A lone '%' at the cut would leave a cut-off conversion.
  EXPECT_EQ(hostlog::CutLength("abc%d", 4, true), 3u);
  // "\xEA\xB0\x80" is one three-byte character.
  EXPECT_EQ(hostlog::CutLength("a\xEA\xB0\x80z", 2, false), 1u);
  EXPECT_EQ(hostlog::CutLength("a\xEA\xB0\x80z", 4, false), 4u);
}

#include "logline.h"

#include <gtest/gtest.h>

#include <string>

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

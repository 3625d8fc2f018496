// The log line's format check, cut and line ends.
#include "safeformat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "logline.h"

using hostlog::SafeFormat;

TEST(SafeFormat, FormatsWhenEveryConversionFits) {
  EXPECT_EQ(SafeFormat("Slot %d, [%s], [%s], Team %d", 3, "alpha", std::string("beta"), 1),
            "Slot 3, [alpha], [beta], Team 1");
  EXPECT_EQ(SafeFormat("%05.1f|%-4d|%x|%c|%%", 2.25, 7, 255u, 'A'), "002.2|7   |ff|A|%");
  // char, short and bool promote to int; signedness is not held against a text.
  EXPECT_EQ(SafeFormat("%d %d %u %hhd", static_cast<short>(-2), true, -1, static_cast<char>(65)),
            "-2 1 4294967295 65");
  EXPECT_EQ(SafeFormat("%lld %llu %zu", std::int64_t{-5}, std::uint64_t{5}, std::size_t{9}),
            "-5 5 9");
  EXPECT_EQ(SafeFormat("USN %I64u slot %I32d", std::uint64_t{123456789012ULL}, 4),
            "USN 123456789012 slot 4");
  EXPECT_EQ(SafeFormat("[%*d] [%.*s]", 4, 7, 2, "abcdef"), "[   7] [ab]");
  const char* none = nullptr;
  EXPECT_EQ(SafeFormat("%s", none), "(null)");
  // Extra arguments are harmless to printf and allowed.
  EXPECT_EQ(SafeFormat("no conversions", 1, 2), "no conversions");
  // A long expansion is not cut.
  EXPECT_EQ(SafeFormat("%s", std::string(2000, 'x')).size(), 2000u);
}

TEST(SafeFormat, MismatchWritesRawTextAndArguments) {
  // Too few arguments: printf would read garbage from the stack.
  EXPECT_EQ(SafeFormat("Slot %d, name %s", 3), "Slot %d, name %s [3]");
  // A number where a string is expected: printf would dereference it.
  EXPECT_EQ(SafeFormat("name %s", 42), "name %s [42]");
  // A string where a number is expected, and a pointer-sized integer for %d.
  EXPECT_EQ(SafeFormat("%d", "x"), "%d [x]");
  EXPECT_EQ(SafeFormat("%d", std::int64_t{-1}), "%d [-1]");
  EXPECT_EQ(SafeFormat("%lld", 5), "%lld [5]");
  EXPECT_EQ(SafeFormat("%f", 1), "%f [1]");
  EXPECT_EQ(SafeFormat("%d", 1.5), "%d [1.5]");
  // Never-fitting conversions: %n writes memory, wide and positional forms.
  int n = 0;
  EXPECT_EQ(SafeFormat("abc%n", &n), "abc%n [" + SafeFormat("%p", &n) + "]");
  EXPECT_EQ(n, 0);
  EXPECT_EQ(SafeFormat("%ls", "w"), "%ls [w]");
  EXPECT_EQ(SafeFormat("%1$d", 1), "%1$d [1]");
  EXPECT_EQ(SafeFormat("%Lf", 1.0), "%Lf [1]");
  // Cut off, unknown, or a '*' without its int.
  EXPECT_EQ(SafeFormat("100%", 1), "100% [1]");
  EXPECT_EQ(SafeFormat("%y", 1), "%y [1]");
  EXPECT_EQ(SafeFormat("%*d", 5), "%*d [5]");
  // No arguments at all: the text as it is.
  EXPECT_EQ(SafeFormat("rate 5%d"), "rate 5%d");
}

TEST(SafeFormat, HugeFieldWidthsAreRefusedNotBuilt) {
  // A gigabyte-wide field is not built; the text comes back raw.
  EXPECT_EQ(SafeFormat("%999999999d", 1), "%999999999d [1]");
  EXPECT_EQ(SafeFormat("%.999999999f", 1.0), "%.999999999f [1]");
  EXPECT_EQ(SafeFormat("[%*d]", 1000000000, 7), "[%*d] [1000000000, 7]");
  EXPECT_EQ(SafeFormat("[%*d]", -1000000000, 7), "[%*d] [-1000000000, 7]");
  EXPECT_EQ(SafeFormat("[%.*s]", 1000000000, "ab"), "[%.*s] [1000000000, ab]");
  // The limit itself still fits; a negative precision means none.
  EXPECT_EQ(SafeFormat("%4096d", 1).size(), 4096u);
  EXPECT_EQ(SafeFormat("%*d", -4096, 1).size(), 4096u);
  EXPECT_EQ(SafeFormat("[%.*s]", -5, "ab"), "[ab]");
}

// The crash path's fixed buffers get the same bytes, cut and NUL-terminated.
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

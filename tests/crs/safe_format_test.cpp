// The crash-path formatter must agree with the C library's printf for every
// form the crash code uses, and never overrun its buffer.
#include "crs/safe_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

template <typename... Args>
void ExpectSameAsPrintf(const char* format, Args... args) {
  char expected[512];
  char actual[512];
  std::snprintf(expected, sizeof(expected), format, args...);
  size_t n = crs::FormatTo(actual, sizeof(actual), format, args...);
  EXPECT_STREQ(expected, actual) << "format: " << format;
  EXPECT_EQ(std::string(expected).size(), n) << "format: " << format;
}

TEST(SafeFormat, AgreesWithPrintfOnTheCrashFormats) {
  ExpectSameAsPrintf("%04d%02d%02d-%02d%02d%02d%03d.dmp", 2021, 12, 2, 18, 59, 6, 123);
  ExpectSameAsPrintf("%d%02d%02d", 987, 1, 31);
  ExpectSameAsPrintf("# Address=0x%016llX", 0x7F00DEADBEEFull);
  ExpectSameAsPrintf("# ExceptionCode=0x%X", 0xC0000005u);
  ExpectSameAsPrintf("%2d 0x%08X 0x%08X 0x%08X (%s)", 3, 0x1234u, 0xFFFFFFFFu, 0u, "m+0x10");
  ExpectSameAsPrintf("%s+0x%llX", "libc", 0x1ABCDEFull);
  ExpectSameAsPrintf("%s_%lu_%s", "a", 4242ul, "crs.log");
  ExpectSameAsPrintf("[%d] %i %u %ld %lld %zu", -2112, INT32_MIN, UINT32_MAX, -5L, INT64_MIN,
                     size_t{77});
  ExpectSameAsPrintf("%x %X %hhx %hx", 255u, 3054u, 0x1FFu, 0x1FFFFu);
  ExpectSameAsPrintf("|%5s|%-5s|%.2s|%-4d|%5d|%05d|%c|%%|", "ab", "cd", "xyz", 7, -42, -42, 'q');
  ExpectSameAsPrintf("%*d|%-*d|%.*s", 6, 12, 4, 3, 2, "hello");
}

TEST(SafeFormat, CutsAtCapacityAndAppends) {
  char small[8];
  EXPECT_EQ(7u, crs::FormatTo(small, sizeof(small), "%s", "0123456789"));
  EXPECT_STREQ("0123456", small);

  char one[1] = {'x'};
  EXPECT_EQ(0u, crs::FormatTo(one, sizeof(one), "%d", 12345));
  EXPECT_EQ('\0', one[0]);

  char text[16] = "abc";
  EXPECT_EQ(6u, crs::AppendTo(text, sizeof(text), "%d", 123));
  EXPECT_EQ(15u, crs::AppendTo(text, sizeof(text), "%s", "0123456789abcdef"));
  EXPECT_STREQ("abc123012345678", text);
  // A full buffer stays as it is.
  EXPECT_EQ(15u, crs::AppendTo(text, sizeof(text), "%s", "zz"));
  EXPECT_STREQ("abc123012345678", text);

  char copy[4];
  EXPECT_EQ(3u, crs::CopyTo(copy, sizeof(copy), "long text"));
  EXPECT_STREQ("lon", copy);
}

TEST(SafeFormat, OddFormatsAreCopiedNotInterpreted) {
  char out[64];
  const char* volatile missing = nullptr;
  crs::FormatTo(out, sizeof(out), "%s", missing);
  EXPECT_STREQ("(null)", out);
  // A conversion this formatter does not know is kept as text, and a lone
  // '%' at the end is kept; neither consumes an argument.
  std::string unknown = "a%qb";
  crs::FormatTo(out, sizeof(out), unknown.c_str());
  EXPECT_STREQ("a%qb", out);
  std::string trailing = "50%";
  crs::FormatTo(out, sizeof(out), trailing.c_str());
  EXPECT_STREQ("50%", out);
}

}  // namespace

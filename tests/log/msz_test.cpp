#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "findxlsmsg.h"
#include "logtestutil.h"
#include "mszformat.h"
#include "msztool.h"
#include "platform/runtime.h"
#include "safeformat.h"

namespace {

constexpr std::uint32_t kUtf8 = 65001;

using Bytes = std::vector<std::uint8_t>;

bool Parses(const Bytes& image, std::vector<msz::Record>* records) {
  std::string problem;
  return msz::Parse(image.data(), image.size(), records, &problem);
}

}  // namespace

TEST(MszFormat, BuildsTheDocumentedLayout) {
  msz::Record r;
  r.id = -2;
  r.text = u"A\u00E9";
  const Bytes image = msz::Build({r});
  // count 1; area 12 + 3 units * 2 = 18; id -2; length 3 (NUL counted); text.
  EXPECT_EQ(image, (Bytes{1,    0,    0,    0, 18, 0, 0, 0,   0xFE, 0xFF, 0xFF, 0xFF, 0xFF,
                          0xFF, 0xFF, 0xFF, 3, 0,  0, 0, 'A', 0,    0xE9, 0,    0,    0}));
  std::vector<msz::Record> back;
  ASSERT_TRUE(Parses(image, &back));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].id, -2);
  EXPECT_EQ(back[0].text, u"A\u00E9");
  EXPECT_TRUE(back[0].had_nul);
}

TEST(MszFormat, MalformedFilesAreRefusedOrReadWithinBounds) {
  std::vector<msz::Record> records;
  msz::Record r;
  r.id = 1;
  r.text = u"hello";
  const Bytes good = msz::Build({r, r});

  // Shorter than the head, and an area that runs past the end of the file.
  EXPECT_FALSE(Parses(Bytes{1, 0, 0}, &records));
  EXPECT_FALSE(Parses(Bytes(good.begin(), good.end() - 1), &records));
  // A count above what the area holds: the next record runs past the area.
  Bytes more = good;
  more[0] = 3;
  EXPECT_FALSE(Parses(more, &records));
  // A text length beyond the area (a huge one must not wrap around).
  Bytes longer = good;
  std::fill(longer.begin() + 16, longer.begin() + 20, 0xFF);
  EXPECT_FALSE(Parses(longer, &records));
  // Bytes after the records are ignored; a count of 0 is an empty table.
  Bytes trailing = good;
  trailing.insert(trailing.end(), {9, 9, 9});
  ASSERT_TRUE(Parses(trailing, &records));
  EXPECT_EQ(records.size(), 2u);
  ASSERT_TRUE(Parses(Bytes{0, 0, 0, 0, 0, 0, 0, 0}, &records));
  EXPECT_TRUE(records.empty());

  // A text with no NUL unit in its length keeps all its units: count 1,
  // area 16, id 5, length 2.
  ASSERT_TRUE(
      Parses(Bytes{1, 0, 0, 0, 16, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 'o', 0, 'k', 0},
             &records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, u"ok");
  EXPECT_FALSE(records[0].had_nul);
}

TEST(MszFormat, Utf8ConversionsBothWays) {
  // Korean, a surrogate pair (U+1F600) and an unpaired surrogate.
  const std::u16string text = u"\uD55C\uAE00 \U0001F600 \xD800!";
  EXPECT_EQ(msz::Utf16ToUtf8(text), "\xED\x95\x9C\xEA\xB8\x80 \xF0\x9F\x98\x80 \xEF\xBF\xBD!");
  if (platform::AnsiCodePage() == kUtf8) {
    EXPECT_EQ(msz::Utf16ToAnsi(text, 511), msz::Utf16ToUtf8(text));
  }
  std::u16string back;
  EXPECT_TRUE(msz::Utf8ToUtf16("\xED\x95\x9C \xF0\x9F\x98\x80", &back));
  EXPECT_EQ(back, u"\uD55C \U0001F600");
  EXPECT_FALSE(msz::Utf8ToUtf16("bad \xC0\xAF", &back));  // overlong '/'
  EXPECT_FALSE(msz::Utf8ToUtf16("\xED\xA0\x80", &back));  // encoded surrogate
}

class FindXlsMsgTest : public ::testing::Test {
 protected:
  std::string File() const { return (dir_.dir() / "table.msz").string(); }
  testsupport::LogSandbox dir_{"msz-"};
};

// (Escapes, the cut to 511 bytes and unknown ids: LogMsgManagerTest.)
TEST_F(FindXlsMsgTest, LaterDuplicatesReplaceEarlierOnes) {
  logtest::WriteFile(File(), logtest::MszOf({{1, "first"}, {1, "replaced"}, {-7, "negative"}}));
  FindXlsMsg table;
  ASSERT_TRUE(table.Load(File().c_str())) << table.Problem();
  EXPECT_EQ(table.Count(), 2u);
  EXPECT_EQ(table.Find(1), "replaced");
  EXPECT_EQ(table.Find(-7), "negative");
  EXPECT_EQ(table.Find(99), "");  // and does not grow the table
  EXPECT_EQ(table.Count(), 2u);
}

// UTF-8 on POSIX, the system's code page on Windows (the Windows stage runs
// this test a second time with code page 949, named by SERVERAPP_EXPECT_ACP).
TEST_F(FindXlsMsgTest, TextsTakeTheSystemCodePageInWholeCharacters) {
  if (const char* expected = std::getenv("SERVERAPP_EXPECT_ACP")) {
    ASSERT_EQ(platform::AnsiCodePage(), std::strtoul(expected, nullptr, 10));
  }
  const struct {
    std::uint32_t code_page;
    const char* hangul;  // U+D55C U+AE00 ("Hangul")
    const char* han;     // U+D55C alone
  } kCodePages[] = {
      {kUtf8, "\xED\x95\x9C\xEA\xB8\x80", "\xED\x95\x9C"},
      {949, "\xC7\xD1\xB1\xDB", "\xC7\xD1"},
      {1252, "??", "?"},  // no Hangul: the default character
  };
  const auto* row = std::find_if(std::begin(kCodePages), std::end(kCodePages), [](const auto& r) {
    return r.code_page == platform::AnsiCodePage();
  });
  if (row == std::end(kCodePages)) {
    GTEST_SKIP() << "no expected bytes for code page " << platform::AnsiCodePage();
  }
  std::string many;
  for (int i = 0; i < 300; ++i) many += "\xED\x95\x9C";
  logtest::WriteFile(File(), logtest::MszOf({{1, "\xED\x95\x9C\xEA\xB8\x80 ok"}, {2, many}}));
  FindXlsMsg table;
  ASSERT_TRUE(table.Load(File().c_str())) << table.Problem();
  EXPECT_EQ(table.Find(1), std::string(row->hangul) + " ok");
  // As many whole characters as 511 bytes hold, never a split one.
  std::string cut;
  const std::size_t width = std::strlen(row->han);
  for (std::size_t i = 0; i < std::min<std::size_t>(300, 511 / width); ++i) cut += row->han;
  EXPECT_EQ(table.Find(2), cut);
}

TEST_F(FindXlsMsgTest, RefusesMissingAndMalformedFiles) {
  FindXlsMsg table;
  EXPECT_FALSE(table.Load(File().c_str()));
  EXPECT_TRUE(table.OpenFailed());
  std::string truncated = logtest::MszOf({{0, "zero"}});
  truncated.resize(truncated.size() - 3);
  logtest::WriteFile(File(), truncated);
  EXPECT_FALSE(table.Load(File().c_str()));
  EXPECT_FALSE(table.OpenFailed());
  EXPECT_FALSE(table.Problem().empty());
  EXPECT_EQ(table.Count(), 0u);
}

TEST(MszTool, SourceRoundTripsThroughBuildAndDump) {
  testsupport::LogSandbox dir("msztool-");
  const std::string source =
      "# a comment\n"
      "\n"
      "# args: int, str\n"
      "1 Slot %d name %s\r\n"
      "2 two\\nlines and 100%% \xED\x95\x9C\n"
      "-5 negative id\n"
      "3 \n";
  logtest::WriteFile(dir.dir() / "in.txt", source);
  const std::string in = (dir.dir() / "in.txt").string();
  const std::string out = (dir.dir() / "out.msz").string();
  std::ostringstream o;
  std::ostringstream e;
  const char* build[] = {"msz", "build", in.c_str(), out.c_str()};
  ASSERT_EQ(msztool::Main(4, build, o, e), 0) << e.str();
  const char* dump[] = {"msz", "dump", out.c_str()};
  ASSERT_EQ(msztool::Main(3, dump, o, e), 0) << e.str();
  EXPECT_EQ(o.str(),
            "1 Slot %d name %s\n"
            "2 two\\nlines and 100%% \xED\x95\x9C\n"
            "-5 negative id\n"
            "3 \n");
  EXPECT_EQ(e.str(), "");
}

TEST(MszTool, ReportsBadSourcesAndDuplicates) {
  std::vector<msztool::SourceEntry> entries;
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
  EXPECT_TRUE(msztool::ParseSource("7 a\n7 b\n", &entries, &errors, &warnings));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("id 7 repeats line 1"), std::string::npos);

  // Conversions that do not fit the declared arguments fail the build.
  for (const char* bad : {"# args: int\n8 value %s\n", "# args: none\n8 value %d\n",
                          "# args: quux\n8 value\n", "x8 no id\n", "8 bad \xFF utf8\n"}) {
    EXPECT_FALSE(msztool::ParseSource(bad, &entries, &errors, &warnings)) << bad;
  }
  errors.clear();
  EXPECT_TRUE(msztool::ParseSource("# args: u64, size\n8 %llu %zu\n", &entries, &errors, &warnings))
      << errors[0];

  testsupport::LogSandbox dir("msztool-");
  logtest::WriteFile(dir.dir() / "bad.msz", std::string("\x05\x00\x00", 3));
  const std::string bad = (dir.dir() / "bad.msz").string();
  std::ostringstream o;
  std::ostringstream e;
  const char* dump[] = {"msz", "dump", bad.c_str()};
  EXPECT_EQ(msztool::Main(3, dump, o, e), 1);
  EXPECT_NE(e.str().find("refused"), std::string::npos);
  const char* usage[] = {"msz", "frobnicate"};
  EXPECT_EQ(msztool::Main(2, usage, o, e), 2);
}

// The table the build puts into the deployment folder: every id the host
// asks for is there, and each text fits the arguments its users pass.
TEST(DefaultTable, CoversEveryHostIdWithFittingTexts) {
  const std::string path =
      std::string(SERVERAPP_DIST_DIR) + "/rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz";
  FindXlsMsg table;
  ASSERT_TRUE(table.Load(path.c_str())) << path << ": " << table.Problem();
  const int ids[] = {1,  2,  3,  4,  5,  6,  7,  10, 11, 13, 14, 15, 16, 17, 18,
                     29, 30, 31, 32, 33, 34, 37, 39, 40, 41, 42, 43, 44, 47, 49};
  for (int id : ids) EXPECT_FALSE(table.Find(id).empty()) << "id " << id;

  // The arguments of the using code.
  const auto fits = [&](int id, auto... args) {
    const hostlog::FormatArg list[] = {hostlog::MakeFormatArg(args)..., hostlog::FormatArg()};
    return hostlog::FormatFits(table.Find(id), list, sizeof...(args));
  };
  EXPECT_TRUE(fits(2, std::uint32_t{4242}));                      // process id
  EXPECT_TRUE(fits(3, int{7777}, static_cast<std::int16_t>(3)));  // port, server index
  EXPECT_TRUE(fits(4, int{7777}));                                // port
  EXPECT_TRUE(fits(34, int{2}));                                  // queued count
  EXPECT_TRUE(fits(39, int{5}, "first", "second", static_cast<std::int8_t>(1)));
  for (int id : {1,  5,  6,  7,  10, 11, 13, 14, 15, 16, 17, 18, 29,
                 30, 31, 32, 33, 37, 40, 41, 42, 43, 44, 47, 49}) {
    EXPECT_TRUE(fits(id)) << "id " << id << " must need no arguments";
  }
  // Entry 7 is used unchanged: it must hold no '%' at all, nor the "!err:"
  // head that would turn every failed download into a fatal line.
  EXPECT_EQ(table.Find(7).find('%'), std::string::npos);
  EXPECT_NE(table.Find(7).rfind("!err:", 0), 0u);
}

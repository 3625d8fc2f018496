// Start parameters: the command line, the parameter file, the title and the
// instance folder.
#include "startparams.h"
#include "platform/identity.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

TEST(StartParams, CommandLineIsParsedAsTheRuntimeDoes) {
  StartParams p = ParseCommandLineParams({"123456789012", "5000", "3", "7", "9"});
  EXPECT_EQ(p.hManagerWnd, 123456789012u);
  EXPECT_EQ(p.nPort, 5000);
  EXPECT_EQ(p.sServerIndex, 3);
  EXPECT_EQ(p.nServerIndexArg, 3);
  EXPECT_EQ(p.nReserved, 7);
  EXPECT_EQ(p.nGroupNumber, 9);

  // The index is cut to 16 bits, but the value as written is kept for the
  // range check: 65536 must not pass as slot 0.
  // Neither may 2^32 and above, which a 32-bit read wraps to 0 or 3; the
  // range check refuses them all.
  const struct {
    const char* arg;
    int64_t written;
    int16_t cut;
    bool in_range;
  } kIndexes[] = {
      {"0", 0, 0, true},
      {"199", 199, 199, true},
      {"200", 200, 200, false},
      {"-1", -1, -1, false},
      {"65536", 65536, 0, false},
      {"4294967296", 4294967296, 0, false},
      {"4294967299", 4294967299, 3, false},
      {"99999999999999999999999", INT64_MAX, -1, false},
  };
  for (const auto& row : kIndexes) {
    SCOPED_TRACE(row.arg);
    p = ParseCommandLineParams({"1", "2", row.arg, "4", "5"});
    EXPECT_EQ(p.sServerIndex, row.cut);
    EXPECT_EQ(p.nServerIndexArg, row.written);
    EXPECT_EQ(ServerIndexInRange(p), row.in_range);
  }

  // Text that is no number reads as 0, as atoi reads it.
  p = ParseCommandLineParams({"x", "12abc", "-1", "", "7"});
  EXPECT_EQ(p.hManagerWnd, 0u);
  EXPECT_EQ(p.nPort, 12);
  EXPECT_EQ(p.sServerIndex, -1);

  // Missing arguments are never read.
  p = ParseCommandLineParams({"42", "5000"});
  EXPECT_EQ(p.hManagerWnd, 42u);
  EXPECT_EQ(p.nPort, 5000);
  const StartParams initial;
  EXPECT_EQ(p.sServerIndex, initial.sServerIndex);
  EXPECT_EQ(p.nReserved, initial.nReserved);
  EXPECT_EQ(p.nGroupNumber, initial.nGroupNumber);

  // A title with a longer command line shows it whole.
  std::vector<std::string> args{"99", "5000", "0", "1", "2", "-SaveGameInfo=last.bin"};
  EXPECT_EQ(FormatTitle("ServerApp", args, ParseCommandLineParams(args)),
            "ServerApp (USN : 99 5000 0 1 2 -SaveGameInfo=last.bin)");
  EXPECT_EQ(InstanceFolderName(-4, -1), "-4_-1");
}

// A whole line is read by HostStartup.ParameterFileStartsTheHostUnchecked
// (the title, the instance folder), a missing file by its FailedChecks; a
// short line fills what it has.
TEST(StartParams, ParameterFileShortLine) {
  fs::path file = fs::temp_directory_path() /
                  ("params-" + std::to_string(platform::CurrentProcessId()) + ".txt");
  std::ofstream(file) << "77 8000\n";
  StartParams q;
  ASSERT_TRUE(ReadParameterFile(file.string().c_str(), &q));
  fs::remove(file);
  EXPECT_EQ(q.hManagerWnd, 77u);
  EXPECT_EQ(q.nPort, 8000);
  EXPECT_EQ(q.sServerIndex, -1);
}

}  // namespace

// The host shell's own pieces without a process: start parameters, frame
// pacing across the 32-bit clock wrap, the service selection walk.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "framepacing.h"
#include "netservice.h"
#include "platform/identity.h"
#include "startparams.h"

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

  // The index is cut to 16 bits, but the value as written, never wrapped
  // at 2^32, is kept for the range check: 65536 must not pass as slot 0.
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

  // A short parameter file fills what it has (a whole one: HostStartup).
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

TEST(FramePacing, WaitIsTheRestOfTheFrameAndAnOversleepDoesNotShiftTheNext) {
  EXPECT_EQ(FrameWait(1000, 50, 1010), 40u);
  EXPECT_EQ(FrameWait(1000, 50, 1000), 50u);
  // Deadline reached or passed (a frame that overran): no wait.
  EXPECT_EQ(FrameWait(1000, 50, 1050), 0u);
  EXPECT_EQ(FrameWait(1000, 50, 1080), 0u);
  // The idle length waits the full 10 s, a larger one is cut.
  EXPECT_EQ(FrameWait(0, 10000, 0), 10000u);
  EXPECT_EQ(FrameWait(5, 60000, 5), kMaxFrameWait);
  EXPECT_EQ(FrameWait(0x20, 0xFFFFFFF0u, 0x30), 0u);  // the deadline wrapped past 2^32
  // Now has wrapped past 2^32 and reads earlier than the start.
  EXPECT_EQ(FrameWait(0xFFFFFFF0u, 100, 0x00000010u), 0u);
  // A clock that stepped back: no wait either.
  EXPECT_EQ(FrameWait(5000, 100, 4990), 0u);

  // Waited 40 ms from 1010 but woke at 1065: the next frame starts at 1050.
  EXPECT_EQ(NextFrameStart(1010, 40, 1065), 1050u);
  // Woke in time: the next frame starts when the thread woke.
  EXPECT_EQ(NextFrameStart(1010, 40, 1049), 1049u);
  EXPECT_EQ(NextFrameStart(1010, 40, 1050), 1050u);
  EXPECT_EQ(NextFrameStart(1080, 0, 1095), 1095u);  // no wait
  EXPECT_EQ(NextFrameStart(0xFFFFFFF0u, 0x20, 0x00000040u), 0x00000010u);
}

// (The probe block's bytes: the module's trace in HostStartup.)
TEST(NetService, FirstFlaggedNodeIsSelectedFromTheHead) {
  NET_SERVICE_NODE nodes[4] = {};
  for (int i = 0; i < 4; ++i) {
    nodes[i].hService = 100 + i;
    nodes[i].pNext = i < 3 ? &nodes[i + 1] : nullptr;
  }
  EXPECT_FALSE(FindSelectedService(&nodes[0]).has_value());
  EXPECT_FALSE(FindSelectedService(nullptr).has_value());

  nodes[2].dwFlags = NET_SERVICE_SELECTED | 0x10;
  nodes[3].dwFlags = NET_SERVICE_SELECTED;
  ASSERT_TRUE(FindSelectedService(&nodes[0]).has_value());
  EXPECT_EQ(*FindSelectedService(&nodes[0]), 102u);

  // Other flag bits do not select.
  nodes[2].dwFlags = 0x2;
  EXPECT_EQ(*FindSelectedService(&nodes[0]), 103u);

  // A list that loops back on itself ends the walk instead of hanging.
  nodes[3].dwFlags = 0;
  nodes[3].pNext = &nodes[0];
  EXPECT_FALSE(FindSelectedService(&nodes[0], 1000).has_value());
}

}  // namespace

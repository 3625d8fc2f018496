// Frame pacing of the update thread across the 32-bit clock wrap.
#include "framepacing.h"

#include <gtest/gtest.h>

namespace {

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
  // Now is before the start (a clock that stepped back): no wait either.
  EXPECT_EQ(FrameWait(5000, 100, 4990), 0u);

  // Waited 40 ms from 1010 but woke at 1065: the next frame starts at 1050.
  EXPECT_EQ(NextFrameStart(1010, 40, 1065), 1050u);
  // Woke in time: the next frame starts when the thread woke.
  EXPECT_EQ(NextFrameStart(1010, 40, 1049), 1049u);
  EXPECT_EQ(NextFrameStart(1010, 40, 1050), 1050u);
  // No wait: the frame starts when it starts.
  EXPECT_EQ(NextFrameStart(1080, 0, 1095), 1095u);
  // Across the wrap, in 32-bit arithmetic.
  EXPECT_EQ(NextFrameStart(0xFFFFFFF0u, 0x20, 0x00000040u), 0x00000010u);
}

}  // namespace

// Pacing of the update thread's frames, in wrapping 32-bit milliseconds.
#pragma once

#include <cstdint>

// No single wait of the update thread is longer than this.
inline constexpr uint32_t kMaxFrameWait = 10000;

// How long to wait before the next frame: the rest of the frame when its
// deadline (frame_start + frame_length) is later than now and now is not
// earlier than the frame start, else 0; never above kMaxFrameWait. When the
// clock wrapped past 2^32 since the frame start, now is earlier than the
// start and no wait is computed for that frame.
uint32_t FrameWait(uint32_t frame_start, uint32_t frame_length, uint32_t now);

// The next frame's start, read as `woke` after waiting `wait` from `now`.
// A frame that overslept its wait starts at now + wait instead, so that the
// oversleep does not shift the following deadlines.
uint32_t NextFrameStart(uint32_t now, uint32_t wait, uint32_t woke);

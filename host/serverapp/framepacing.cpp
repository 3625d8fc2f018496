// Frame pacing arithmetic, kept apart from the thread so that it can be
// tested across the clock's wrap.
#include "framepacing.h"

uint32_t FrameWait(uint32_t frame_start, uint32_t frame_length, uint32_t now) {
  uint32_t deadline = frame_start + frame_length;
  uint32_t wait = 0;
  if (deadline > now && now >= frame_start) wait = deadline - now;
  return wait > kMaxFrameWait ? kMaxFrameWait : wait;
}

uint32_t NextFrameStart(uint32_t now, uint32_t wait, uint32_t woke) {
  if (wait != 0 && woke - now > wait) return now + wait;
  return woke;
}

// The memory figures of the relay benchmark, read for this process through
// its pid as the benchmark reads a host's.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "platform/identity.h"
#include "relay_memory.h"
#include "support/scratch.h"

namespace {

TEST(RelayMemory, FollowsTouchedPagesAndIsMinusOneWithoutAProcess) {
  const uint32_t self = platform::CurrentProcessId();
  const relaybench::Memory before = relaybench::MemoryOf(self);
  ASSERT_GT(before.resident_kib, 0);
  ASSERT_GT(before.own_kib, 0);

  constexpr size_t kSize = 64u << 20;
  auto block = std::make_unique<char[]>(kSize);
  std::memset(block.get(), 0x5A, kSize);  // every page resident and private
  const relaybench::Memory during = relaybench::MemoryOf(self);
  constexpr long kThreeQuartersKib = static_cast<long>(kSize * 3 / 4 / 1024);
  EXPECT_GE(during.resident_kib, before.resident_kib + kThreeQuartersKib)
      << "before " << before.resident_kib << " KiB";
  if (!testsupport::UnderWine()) {
    // Wine's commit charge does not follow allocations (docs/windows.md).
    EXPECT_GE(during.own_kib, before.own_kib + kThreeQuartersKib)
        << "before " << before.own_kib << " KiB";
  }
  EXPECT_EQ(block[kSize - 1], 0x5A);

  // No process has pid 0 on Linux (/proc/0), and Windows' idle process
  // cannot be opened.
  const relaybench::Memory none = relaybench::MemoryOf(0);
  EXPECT_EQ(none.resident_kib, -1);
  EXPECT_EQ(none.own_kib, -1);
  EXPECT_EQ(relaybench::RunQueueWaitMs(0), -1);
}

}  // namespace

// The local-time source: the system's clock unless a test put its own in.
#include <atomic>

#include "platform/clock.h"

namespace platform {
namespace {
std::atomic<LocalTimeSource> g_source{nullptr};
}  // namespace

LocalTime GetLocalTime() {
  const LocalTimeSource source = g_source.load(std::memory_order_acquire);
  return source ? source() : SystemLocalTime();
}

void SetLocalTimeSource(LocalTimeSource source) {
  g_source.store(source, std::memory_order_release);
}

}  // namespace platform

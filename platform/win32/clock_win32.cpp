// Local time from GetLocalTime: the SYSTEMTIME fields map one to one.
#include <atomic>

#include "platform/clock.h"
#include "win32_text.h"

namespace platform {
namespace {
std::atomic<LocalTimeSource> g_source{nullptr};
}  // namespace

LocalTime SystemLocalTime() {
  SYSTEMTIME st{};
  ::GetLocalTime(&st);
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.millisecond = st.wMilliseconds;
  return t;
}

LocalTime GetLocalTime() {
  const LocalTimeSource source = g_source.load(std::memory_order_acquire);
  return source ? source() : SystemLocalTime();
}

void SetLocalTimeSource(LocalTimeSource source) {
  g_source.store(source, std::memory_order_release);
}

}  // namespace platform

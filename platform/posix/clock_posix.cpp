#include <sys/time.h>
#include <time.h>

#include "platform/clock.h"

namespace platform {
LocalTime SystemLocalTime() {
  LocalTime t;
  timespec ts{};
  if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return t;
  const time_t secs = ts.tv_sec;
  tm parts{};
  if (localtime_r(&secs, &parts) == nullptr && gmtime_r(&secs, &parts) == nullptr) return t;
  t.year = parts.tm_year + 1900;
  t.month = parts.tm_mon + 1;
  t.day = parts.tm_mday;
  t.hour = parts.tm_hour;
  t.minute = parts.tm_min;
  t.second = parts.tm_sec;
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return t;
}

}  // namespace platform

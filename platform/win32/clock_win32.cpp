// Local time from GetLocalTime: the SYSTEMTIME fields map one to one.
#include "platform/clock.h"
#include "win32_text.h"

namespace platform {
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

}  // namespace platform

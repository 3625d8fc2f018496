// Local calendar time with milliseconds.
//
// Stands in for GetLocalTime. The logger picks its files from this time and
// the crash handler names its dump folder with it, so tests can replace the
// source to place a line at 02:59:59.999 or just after midnight.
#pragma once

#include <cstdint>

namespace platform {

// A broken-down local time, as SYSTEMTIME carries it.
struct LocalTime {
  int year = 1970;      // four digits, e.g. 2026
  int month = 1;        // 1..12
  int day = 1;          // 1..31
  int hour = 0;         // 0..23
  int minute = 0;       // 0..59
  int second = 0;       // 0..59 (60 only on a leap second)
  int millisecond = 0;  // 0..999
};

// The current local time from the installed source (the system clock by
// default). Never fails: if the system cannot convert the time, it answers
// the UTC time instead, and failing that the fields' defaults.
LocalTime GetLocalTime();

// Replaces the time source for the whole process; nullptr restores the system
// clock. Meant for tests; the source must be callable from any thread.
using LocalTimeSource = LocalTime (*)();
void SetLocalTimeSource(LocalTimeSource source);

// The local time of the system clock, whatever source is installed.
LocalTime SystemLocalTime();

}  // namespace platform

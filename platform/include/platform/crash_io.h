// Files, folders and the clock for the crash path.
//
// Every function here is safe inside a dying process (on POSIX: in a signal
// handler): no allocation, no lock, raw system calls on caller buffers. File
// handles are plain integers; kNoCrashFile means "none".
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

inline constexpr intptr_t kNoCrashFile = -1;

// Creates (or empties) path for writing, no sharing where the system has it.
// Answers the handle, or kNoCrashFile.
intptr_t CrashFileCreate(const char* path);

// Opens an existing file for reading. Answers the handle, or kNoCrashFile.
intptr_t CrashFileOpenRead(const char* path);

// Opens path for appending, creating it when missing. Answers the handle,
// or kNoCrashFile.
intptr_t CrashFileOpenAppend(const char* path);

// Writes all size bytes; answers false on any failure.
bool CrashFileWrite(intptr_t file, const void* data, size_t size);

// Reads up to size bytes; answers the count (0 at the end), or -1 on failure.
int64_t CrashFileRead(intptr_t file, void* data, size_t size);

// Size of an open file, or -1 when it cannot be told.
int64_t CrashFileSize(intptr_t file);

// Closes a handle; kNoCrashFile is ignored.
void CrashFileClose(intptr_t file);

// The process's standard output, for echoing a line.
intptr_t CrashStandardOutput();

// True when a file (not a folder) exists at path.
bool CrashFileExists(const char* path);

// Creates one folder; answers true when it exists afterwards.
bool CrashMakeFolder(const char* path);

// The last system error code of the calling thread (errno on POSIX).
uint32_t CrashLastError();

// Local date and time, as the system's local clock gives them.
struct CrashTime {
  int year;
  int month;  // 1..12
  int day;    // 1..31
  int hour;
  int minute;
  int second;
  int millisecond;
};

// Captures what the crash path needs to tell local time (on POSIX the
// offset of local time from UTC, which localtime_r computes but which is not
// safe to compute in a signal handler). Not for the crash path; call it at
// installation and whenever the offset may have changed.
void PrepareCrashClock();

// Crash path. The local time now: the system clock, the offset captured by
// PrepareCrashClock, and the offset set by SetCrashClockShift.
void CrashLocalTime(CrashTime* out);

// Shifts the clock the crash path reads by the given milliseconds (tests
// use it to stand on another day). 0 restores the real clock.
void SetCrashClockShift(int64_t milliseconds);

}  // namespace platform

// Crash-path files and clock over raw system calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "fault_posix.h"
#include "platform/crash_io.h"

namespace platform {
namespace {

std::atomic<int64_t> g_utc_offset_ms{0};
std::atomic<int64_t> g_shift_ms{0};

// Civil date of a day count since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
  *m = static_cast<int>(month);
  *d = static_cast<int>(day);
}

}  // namespace

intptr_t CrashFileCreate(const char* path) {
  if (posix::Faulted(fault::Point::kFileOpen)) return kNoCrashFile;
  int fd;
  do {
    fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? kNoCrashFile : fd;
}

intptr_t CrashFileOpenRead(const char* path) {
  if (posix::Faulted(fault::Point::kFileOpen)) return kNoCrashFile;
  int fd;
  do {
    fd = open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? kNoCrashFile : fd;
}

intptr_t CrashFileOpenAppend(const char* path) {
  if (posix::Faulted(fault::Point::kFileOpen)) return kNoCrashFile;
  int fd;
  do {
    fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? kNoCrashFile : fd;
}

bool CrashFileWrite(intptr_t file, const void* data, size_t size) {
  if (posix::Faulted(fault::Point::kFileWrite)) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(static_cast<int>(file), p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

int64_t CrashFileRead(intptr_t file, void* data, size_t size) {
  for (;;) {
    ssize_t n = read(static_cast<int>(file), data, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

int64_t CrashFileSize(intptr_t file) {
  struct stat st;
  if (fstat(static_cast<int>(file), &st) != 0) return -1;
  return st.st_size;
}

void CrashFileClose(intptr_t file) {
  if (file != kNoCrashFile) close(static_cast<int>(file));
}

intptr_t CrashStandardOutput() {
  return STDOUT_FILENO;
}

bool CrashFileExists(const char* path) {
  struct stat st;
  return path != nullptr && stat(path, &st) == 0 && !S_ISDIR(st.st_mode);
}

bool CrashMakeFolder(const char* path) {
  if (posix::Faulted(fault::Point::kMkdir)) return false;
  if (mkdir(path, 0755) == 0) return true;
  struct stat st;
  return errno == EEXIST && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

uint32_t CrashLastError() {
  return static_cast<uint32_t>(errno);
}

void PrepareCrashClock() {
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) != nullptr) {
    g_utc_offset_ms.store(static_cast<int64_t>(local.tm_gmtoff) * 1000);
  }
}

void CrashLocalTime(CrashTime* out) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  int64_t ms = static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000 +
               g_utc_offset_ms.load() + g_shift_ms.load();
  int64_t days = ms >= 0 ? ms / 86400000 : (ms - 86399999) / 86400000;
  int64_t rest = ms - days * 86400000;
  CivilFromDays(days, &out->year, &out->month, &out->day);
  out->hour = static_cast<int>(rest / 3600000);
  out->minute = static_cast<int>(rest / 60000 % 60);
  out->second = static_cast<int>(rest / 1000 % 60);
  out->millisecond = static_cast<int>(rest % 1000);
}

void SetCrashClockShift(int64_t milliseconds) {
  g_shift_ms.store(milliseconds);
}

}  // namespace platform

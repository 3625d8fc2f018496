// Crash-path files and clock over kernel32. None of these allocates; a
// HANDLE travels as the intptr_t of the seam (INVALID_HANDLE_VALUE is -1,
// the seam's kNoCrashFile).
#include <atomic>

#include "platform/crash_io.h"
#include "platform/fault_injection.h"
#include "win32_text.h"

namespace platform {
namespace {

std::atomic<int64_t> g_shift_ms{0};

HANDLE AsHandle(intptr_t file) {
  return reinterpret_cast<HANDLE>(file);
}

intptr_t Open(const char* path, DWORD access, DWORD share, DWORD disposition) {
  if (int e = fault::Check(fault::Point::kFileOpen)) {
    SetLastError(static_cast<DWORD>(e));
    return kNoCrashFile;
  }
  HANDLE h = CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? kNoCrashFile : reinterpret_cast<intptr_t>(h);
}

}  // namespace

intptr_t CrashFileCreate(const char* path) {
  // Readable too: the dump writer reads its module list back to complete it.
  return Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
}

intptr_t CrashFileOpenRead(const char* path) {
  // Others may hold a settings file open for writing; reading it is still
  // safe for a one-shot read.
  return Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
}

intptr_t CrashFileOpenAppend(const char* path) {
  return Open(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
}

bool CrashFileWrite(intptr_t file, const void* data, size_t size) {
  if (int e = fault::Check(fault::Point::kFileWrite)) {
    SetLastError(static_cast<DWORD>(e));
    return false;
  }
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(AsHandle(file), p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

int64_t CrashFileRead(intptr_t file, void* data, size_t size) {
  DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD read = 0;
  if (!ReadFile(AsHandle(file), data, chunk, &read, nullptr)) return -1;
  return read;
}

int64_t CrashFileSize(intptr_t file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(AsHandle(file), &size)) return -1;
  return size.QuadPart;
}

void CrashFileClose(intptr_t file) {
  if (file != kNoCrashFile && file != 0) CloseHandle(AsHandle(file));
}

intptr_t CrashStandardOutput() {
  HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
  // A GUI program may have none; writes to kNoCrashFile fail quietly.
  return h == nullptr || h == INVALID_HANDLE_VALUE ? kNoCrashFile : reinterpret_cast<intptr_t>(h);
}

bool CrashFileExists(const char* path) {
  if (path == nullptr) return false;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool CrashMakeFolder(const char* path) {
  if (int e = fault::Check(fault::Point::kMkdir)) {
    SetLastError(static_cast<DWORD>(e));
    return false;
  }
  if (CreateDirectoryA(path, nullptr)) return true;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint32_t CrashLastError() {
  return GetLastError();
}

void PrepareCrashClock() {
  // GetLocalTime is safe in a dying process; nothing to capture.
}

void CrashLocalTime(CrashTime* out) {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  const int64_t shift = g_shift_ms.load();
  if (shift != 0) {
    FILETIME ft{};
    SystemTimeToFileTime(&st, &ft);
    ULARGE_INTEGER ticks{};
    ticks.LowPart = ft.dwLowDateTime;
    ticks.HighPart = ft.dwHighDateTime;
    ticks.QuadPart += static_cast<uint64_t>(shift * 10000);  // 100 ns units
    ft.dwLowDateTime = ticks.LowPart;
    ft.dwHighDateTime = ticks.HighPart;
    FileTimeToSystemTime(&ft, &st);
  }
  out->year = st.wYear;
  out->month = st.wMonth;
  out->day = st.wDay;
  out->hour = st.wHour;
  out->minute = st.wMinute;
  out->second = st.wSecond;
  out->millisecond = st.wMilliseconds;
}

void SetCrashClockShift(int64_t milliseconds) {
  g_shift_ms.store(milliseconds);
}

}  // namespace platform

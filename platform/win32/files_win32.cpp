// Files and folders on kernel32 (and SHCreateDirectoryExA for chains).
// A FileHandle holds the HANDLE; INVALID_HANDLE_VALUE is kInvalidFile.

#include <cstdlib>
#include <string>

#include "platform/fault_injection.h"
#include "platform/files.h"
#include "win32_text.h"

#include <shlobj.h>

namespace platform {
namespace {

HANDLE Native(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

FileHandle Open(const char* path, DWORD access, DWORD share, DWORD disposition) {
  if (int e = fault::Check(fault::Point::kFileOpen)) {
    SetLastError(static_cast<DWORD>(e));
    return kInvalidFile;
  }
  if (!path) return kInvalidFile;
  // Not inherited: a child process must not keep a log file or a locked
  // message table open.
  HANDLE h = CreateFileA(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(h);
}

}  // namespace

bool CreateFolder(const char* path) {
  if (int e = fault::Check(fault::Point::kMkdir)) {
    SetLastError(static_cast<DWORD>(e));
    return false;
  }
  if (!path) return false;
  if (CreateDirectoryA(path, nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS && IsFolder(path);
}

bool CreateFolderChain(const char* path) {
  if (int e = fault::Check(fault::Point::kMkdir)) {
    SetLastError(static_cast<DWORD>(e));
    return false;
  }
  if (!path || !*path) return false;
  // SHCreateDirectoryExA takes only a full path with backslashes.
  const std::string native = win32::NativePath(path);
  char full[MAX_PATH];
  const DWORD n = GetFullPathNameA(native.c_str(), MAX_PATH, full, nullptr);
  if (n == 0 || n >= MAX_PATH) return false;
  SHCreateDirectoryExA(nullptr, full, nullptr);
  return IsFolder(full);
}

bool PathExists(const char* path) {
  return path && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const char* path) {
  if (!path) return false;
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RenamePath(const char* from, const char* to) {
  if (int e = fault::Check(fault::Point::kFileRename)) {
    SetLastError(static_cast<DWORD>(e));
    return false;
  }
  return from && to && MoveFileA(from, to);
}

bool DeleteFilePath(const char* path) {
  if (int e = fault::Check(fault::Point::kFileDelete)) {
    SetLastError(static_cast<DWORD>(e));
    return false;
  }
  return path && DeleteFileA(path);
}

FileHandle OpenForAppend(const char* path) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of
  // the file in one piece, whoever else appends.
  return Open(path, FILE_APPEND_DATA | SYNCHRONIZE,
              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_ALWAYS);
}

FileHandle OpenForRead(const char* path) {
  return Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
              OPEN_EXISTING);
}

FileHandle OpenForReadExclusive(const char* path, bool* held_by_another) {
  // No sharing at all: every other opener fails while this one is open.
  const FileHandle file = Open(path, GENERIC_READ, 0, OPEN_EXISTING);
  if (held_by_another) {
    *held_by_another = file == kInvalidFile && GetLastError() == ERROR_SHARING_VIOLATION;
  }
  return file;
}

FileHandle OpenForWrite(const char* path) {
  return Open(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
}

std::int64_t ReadFromFile(FileHandle file, void* buffer, std::size_t size) {
  if (file == kInvalidFile) return -1;
  const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(Native(file), buffer, want, &got, nullptr)) {
    // The write end of a pipe was closed: the end of the stream.
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return got;
}

bool WriteToFile(FileHandle file, const void* data, std::size_t size) {
  if (int e = fault::Check(fault::Point::kFileWrite)) {
    SetLastError(static_cast<DWORD>(e));
    return false;
  }
  if (file == kInvalidFile) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(Native(file), p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

bool WriteToStandardOutput(const char* text, std::size_t size) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  std::string bytes;
  bytes.reserve(size + 8);
  for (std::size_t i = 0; i < size; ++i) {
    if (text[i] == '\n') bytes.push_back('\r');
    bytes.push_back(text[i]);
  }
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    if (!WriteFile(out, p, chunk, &written, nullptr) || written == 0) return false;
    p += written;
    left -= written;
  }
  return true;
}

std::int64_t FileSizeOf(FileHandle file) {
  LARGE_INTEGER size{};
  if (file == kInvalidFile || !GetFileSizeEx(Native(file), &size)) return -1;
  return size.QuadPart;
}

void CloseFile(FileHandle file) {
  if (file != kInvalidFile) CloseHandle(Native(file));
}

std::vector<FoundFile> FindFiles(const char* pattern) {
  std::vector<FoundFile> found;
  if (!pattern || !*pattern) return found;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    FoundFile f;
    f.name = name;
    f.is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    found.push_back(std::move(f));
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return found;
}

// A deployment writes under C:\log. Tests (and an operator who wants the
// logs elsewhere) name another base in SERVERAPP_LOG_BASE, as on POSIX.
std::string LogBaseFolder() {
  const char* base = std::getenv("SERVERAPP_LOG_BASE");
  std::string folder = base && *base ? std::string(base) : std::string("C:\\log");
  for (char& c : folder) {
    if (c == '/') c = '\\';
  }
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\') &&
         !(folder.size() == 3 && folder[1] == ':'))
    folder.pop_back();
  return folder;
}

char PathSeparator() {
  return '\\';
}

}  // namespace platform

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "fault_posix.h"
#include "platform/files.h"
#include "posixpath.h"

namespace platform {
namespace {

int Fd(FileHandle file) {
  return static_cast<int>(file);
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// FindFirstFile's wildcards: '*' any run, '?' one character, no case, and
// nothing else special ('[' is an ordinary character on Windows).
bool WildcardMatch(const char* mask, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*mask == '*') {
      star = mask++;
      resume = name;
    } else if (*mask == '?' || (*mask && Lower(*mask) == Lower(*name))) {
      ++mask;
      ++name;
    } else if (star) {
      mask = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*mask == '*') ++mask;
  return *mask == '\0';
}

FileHandle OpenWith(const char* path, int flags) {
  if (posix::Faulted(fault::Point::kFileOpen)) return kInvalidFile;
  // Most paths are already in POSIX spelling: no copy for those.
  std::string copy;
  if (path && std::strchr(path, '\\')) copy = posix::NativePath(path);
  const char* p = copy.empty() ? path : copy.c_str();
  if (!p) return kInvalidFile;
  int fd;
  do {
    fd = ::open(p, flags | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? kInvalidFile : static_cast<FileHandle>(fd);
}

}  // namespace

bool CreateFolder(const char* path) {
  if (posix::Faulted(fault::Point::kMkdir)) return false;
  const std::string p = posix::NativePath(path);
  if (::mkdir(p.c_str(), 0755) == 0) return true;
  return errno == EEXIST && IsFolder(p.c_str());
}

bool CreateFolderChain(const char* path) {
  if (posix::Faulted(fault::Point::kMkdir)) return false;
  std::string p = posix::NativePath(path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty()) return false;
  // Each component in turn, from the root down; the last one included.
  for (size_t pos = p.find('/', 1);; pos = p.find('/', pos + 1)) {
    const std::string part = p.substr(0, pos);
    if (!part.empty() && part.back() != '/' && !IsFolder(part.c_str()) &&
        ::mkdir(part.c_str(), 0755) != 0 && !(errno == EEXIST && IsFolder(part.c_str()))) {
      return false;
    }
    if (pos == std::string::npos) break;
  }
  return IsFolder(p.c_str());
}

bool PathExists(const char* path) {
  struct stat st;
  return ::stat(posix::NativePath(path).c_str(), &st) == 0;
}

bool IsFolder(const char* path) {
  struct stat st;
  return ::stat(posix::NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RenamePath(const char* from, const char* to) {
  if (posix::Faulted(fault::Point::kFileRename)) return false;
  const std::string f = posix::NativePath(from);
  const std::string t = posix::NativePath(to);
  // link-then-unlink would not work for folders; renameat2(RENAME_NOREPLACE)
  // is not everywhere. A check first is enough for the host's own files.
  struct stat st;
  if (::lstat(t.c_str(), &st) == 0) return false;
  return ::rename(f.c_str(), t.c_str()) == 0;
}

bool DeleteFilePath(const char* path) {
  if (posix::Faulted(fault::Point::kFileDelete)) return false;
  const std::string p = posix::NativePath(path);
  struct stat st;
  if (::lstat(p.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(p.c_str()) == 0;
}

FileHandle OpenForAppend(const char* path) {
  return OpenWith(path, O_WRONLY | O_APPEND | O_CREAT);
}

FileHandle OpenForRead(const char* path) {
  return OpenWith(path, O_RDONLY);
}

FileHandle OpenForReadExclusive(const char* path, bool* held_by_another) {
  if (held_by_another) *held_by_another = false;
  const FileHandle file = OpenWith(path, O_RDONLY);
  if (file == kInvalidFile) return kInvalidFile;
  int rc;
  do {
    rc = ::flock(Fd(file), LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int error = errno;
    ::close(Fd(file));
    if (held_by_another) *held_by_another = error == EWOULDBLOCK;
    errno = error;
    return kInvalidFile;
  }
  return file;
}

FileHandle OpenForWrite(const char* path) {
  return OpenWith(path, O_WRONLY | O_CREAT | O_TRUNC);
}

std::int64_t ReadFromFile(FileHandle file, void* buffer, std::size_t size) {
  if (file == kInvalidFile) return -1;
  ssize_t n;
  do {
    n = ::read(Fd(file), buffer, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool WriteToFile(FileHandle file, const void* data, std::size_t size) {
  if (file == kInvalidFile) return false;
  if (posix::Faulted(fault::Point::kFileWrite)) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(Fd(file), p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteToStandardOutput(const char* text, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(STDOUT_FILENO, text, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::int64_t FileSizeOf(FileHandle file) {
  struct stat st;
  if (file == kInvalidFile || ::fstat(Fd(file), &st) != 0) return -1;
  return st.st_size;
}

void CloseFile(FileHandle file) {
  if (file != kInvalidFile) ::close(Fd(file));
}

std::vector<FoundFile> FindFiles(const char* pattern) {
  std::vector<FoundFile> found;
  const std::string p = posix::NativePath(pattern);
  const size_t slash = p.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : p.substr(0, slash == 0 ? 1 : slash);
  const std::string mask = slash == std::string::npos ? p : p.substr(slash + 1);
  if (mask.empty()) return found;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (!WildcardMatch(mask.c_str(), name.c_str())) continue;
    FoundFile f;
    f.name = name;
    f.is_folder = IsFolder((folder + "/" + name).c_str());
    found.push_back(std::move(f));
  }
  ::closedir(dir);
  return found;
}

std::string LogBaseFolder() {
  const char* base = ::getenv("SERVERAPP_LOG_BASE");
  std::string folder = base && *base ? posix::NativePath(base) : std::string("/var/log");
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

char PathSeparator() {
  return '/';
}

}  // namespace platform

#include "crash_maps_posix.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace platform::crash_posix {
namespace {

// Large enough for a host with its module and a few hundred libraries.
constexpr size_t kMapsTextSize = 1 << 20;
constexpr size_t kMaxEntries = 8192;
char g_maps_text[kMapsTextSize];
MapEntry g_entries[kMaxEntries];

uint64_t ParseHex(const char*& p, const char* end) {
  uint64_t v = 0;
  for (; p < end; ++p) {
    char c = *p;
    unsigned d;
    if (c >= '0' && c <= '9') {
      d = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      d = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      d = static_cast<unsigned>(c - 'A' + 10);
    } else {
      break;
    }
    v = (v << 4) | d;
  }
  return v;
}

void SkipSpaces(const char*& p, const char* end) {
  while (p < end && *p == ' ') ++p;
}

void SkipField(const char*& p, const char* end) {
  while (p < end && *p != ' ') ++p;
  SkipSpaces(p, end);
}

// Parses one line "start-end perms offset dev inode [path]".
bool ParseLine(const char* p, const char* end, MapEntry* e) {
  e->start = ParseHex(p, end);
  if (p >= end || *p != '-') return false;
  ++p;
  e->end = ParseHex(p, end);
  SkipSpaces(p, end);
  if (end - p < 4) return false;
  e->readable = p[0] == 'r';
  e->writable = p[1] == 'w';
  e->executable = p[2] == 'x';
  e->shared = p[3] == 's';
  SkipField(p, end);
  e->offset = ParseHex(p, end);
  SkipSpaces(p, end);
  SkipField(p, end);  // device
  SkipField(p, end);  // inode
  e->path = p;
  e->path_size = static_cast<uint32_t>(end - p);
  return e->end > e->start;
}

}  // namespace

size_t ReadWholeFile(const char* path, char* buffer, size_t capacity) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  size_t used = 0;
  while (used < capacity) {
    ssize_t n = read(fd, buffer + used, capacity - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    used += static_cast<size_t>(n);
  }
  close(fd);
  return used;
}

bool ReadMaps(MapsSnapshot* out) {
  size_t size = ReadWholeFile("/proc/self/maps", g_maps_text, kMapsTextSize);
  out->text = g_maps_text;
  out->text_size = size;
  out->entries = g_entries;
  out->count = 0;
  out->truncated = size == kMapsTextSize;
  const char* p = g_maps_text;
  const char* end = g_maps_text + size;
  while (p < end) {
    const char* eol = p;
    while (eol < end && *eol != '\n') ++eol;
    if (eol == end && out->truncated) break;  // a cut last line is not trusted
    if (out->count == kMaxEntries) {
      out->truncated = true;
      break;
    }
    if (ParseLine(p, eol, &g_entries[out->count])) ++out->count;
    p = eol + 1;
  }
  return size != 0;
}

const MapEntry* FindReadable(const MapsSnapshot& maps, uint64_t address) {
  for (size_t i = 0; i < maps.count; ++i) {
    const MapEntry& e = maps.entries[i];
    if (address >= e.start && address < e.end) return e.readable ? &e : nullptr;
  }
  return nullptr;
}

bool IsReadable(const MapsSnapshot& maps, uint64_t address, uint64_t size) {
  uint64_t at = address;
  uint64_t end = address + size;
  if (end < address) return false;
  while (at < end) {
    const MapEntry* e = FindReadable(maps, at);
    if (e == nullptr) return false;
    at = e->end;
  }
  return true;
}

uint32_t CurrentThreadId() {
  return static_cast<uint32_t>(syscall(SYS_gettid));
}

}  // namespace platform::crash_posix

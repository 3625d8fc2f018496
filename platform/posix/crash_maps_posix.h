// The process's memory map (/proc/self/maps) read and parsed without
// allocation, for the crash path. Private to the POSIX crash backend.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::crash_posix {

struct MapEntry {
  uint64_t start;
  uint64_t end;
  uint64_t offset;
  bool readable;
  bool writable;
  bool executable;
  bool shared;
  const char* path;  // into the maps text; not NUL-terminated
  uint32_t path_size;
};

// A snapshot of the map over fixed buffers (static storage: one per
// process, used only by the thread that writes the crash report).
struct MapsSnapshot {
  const char* text;
  size_t text_size;
  const MapEntry* entries;
  size_t count;
  bool truncated;  // the map did not fit the buffers; the rest is missing
};

// Reads and parses /proc/self/maps. Answers false when it cannot be read.
bool ReadMaps(MapsSnapshot* out);

// The readable entry holding address, or null.
const MapEntry* FindReadable(const MapsSnapshot& maps, uint64_t address);

// True when [address, address + size) lies in readable entries.
bool IsReadable(const MapsSnapshot& maps, uint64_t address, uint64_t size);

// Reads a whole /proc (or other) file into buffer; answers the bytes read
// (a /proc file reports size 0, so it is read in a loop to its end).
size_t ReadWholeFile(const char* path, char* buffer, size_t capacity);

// The calling thread's kernel id.
uint32_t CurrentThreadId();

}  // namespace platform::crash_posix

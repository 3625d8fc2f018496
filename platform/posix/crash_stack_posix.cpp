// The stack text's walk: a frame-pointer (RBP chain) walk with every read
// checked against the memory map, so a broken chain ends the walk instead
// of faulting again. The project builds with frame pointers. A fault inside
// a library built without them (the C library's abort, for one) leaves RBP
// holding anything: the walk then ends at the faulting frame. libunwind
// would see further, but its lookup of unwind tables takes the dynamic
// loader's lock, which the crash path must not take; the minidump carries
// the whole stack for the debugger to unwind properly.
#include <cstring>

#include "crash_maps_posix.h"
#include "crash_posix_internal.h"
#include "platform/crash.h"

namespace platform {
namespace {

using crash_posix::MapEntry;
using crash_posix::MapsSnapshot;

// Names the module holding pc: the file name of its mapping without folder
// and last extension, and its base (the file's mapping at offset 0).
void DescribeModule(const MapsSnapshot& maps, uint64_t pc, CrashFrame* frame) {
  frame->module[0] = '\0';
  frame->module_base = 0;
  for (size_t i = 0; i < maps.count; ++i) {
    const MapEntry& e = maps.entries[i];
    if (pc < e.start || pc >= e.end) continue;
    if (e.path_size == 0 || e.path[0] != '/') return;
    uint64_t base = e.start;
    for (size_t j = i + 1; j-- > 0;) {
      const MapEntry& b = maps.entries[j];
      if (b.path_size == e.path_size && std::memcmp(b.path, e.path, e.path_size) == 0 &&
          b.offset == 0) {
        base = b.start;
        break;
      }
    }
    frame->module_base = base;
    const char* name = e.path;
    const char* end = e.path + e.path_size;
    for (const char* p = e.path; p < end; ++p) {
      if (*p == '/') name = p + 1;
    }
    const char* dot = end;
    for (const char* p = name; p < end; ++p) {
      if (*p == '.') dot = p;
    }
    if (dot == name) dot = end;  // a hidden file's name is all name
    size_t n = static_cast<size_t>(dot - name);
    if (n >= sizeof(frame->module)) n = sizeof(frame->module) - 1;
    std::memcpy(frame->module, name, n);
    frame->module[n] = '\0';
    return;
  }
}

// A frame record (saved frame pointer, return address) at fp, on the stack
// at or above sp.
bool IsLink(const MapEntry& stack, uint64_t sp, uint64_t fp) {
  return (fp & 7) == 0 && fp >= sp && fp >= stack.start && fp + 16 <= stack.end && fp + 16 > fp;
}

}  // namespace

// Reads stack words the program never handed out: not for a sanitizer to check.
__attribute__((no_sanitize("address"))) size_t WalkCrashStack(const CrashInfo* info,
                                                              CrashFrame* frames,
                                                              size_t max_frames) {
  if (info == nullptr || frames == nullptr || max_frames == 0) return 0;
  MapsSnapshot maps;
  if (!crash_posix::ReadMaps(&maps)) return 0;

  uint64_t pc = info->pc;
  uint64_t sp = info->sp;
  uint64_t fp = info->fp;
  const MapEntry* stack = crash_posix::FindReadable(maps, sp);
  if (stack == nullptr) stack = crash_posix::FindReadable(maps, (sp | 4095) + 1);
  size_t count = 0;
  while (count < max_frames) {
    CrashFrame& f = frames[count++];
    f.pc = pc;
    f.sp = sp;
    f.fp = fp;
    DescribeModule(maps, pc, &f);
    if (fp == 0 || stack == nullptr || !IsLink(*stack, sp, fp)) break;
    const auto* link = reinterpret_cast<const uint64_t*>(fp);
    uint64_t next_fp = link[0];
    if (link[1] == 0) break;
    pc = link[1];
    sp = fp + 16;
    // A chain that does not climb ends after the next frame.
    fp = next_fp > fp ? next_fp : 0;
  }
  return count;
}

}  // namespace platform

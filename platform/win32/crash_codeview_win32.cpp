// The module list of a dump patched in place: each record missing its
// CodeView record gets it from the image's debug directory, read from this
// process's own memory (the dumped process), appended at the end of the file.
#include "crash_codeview_win32.h"

#include <cstdint>
#include <cstring>
// After windows.h, which it needs.
#include <dbghelp.h>

namespace platform::crash_win32 {
namespace {

static_assert(sizeof(MINIDUMP_MODULE) == 108);

bool ReadAt(HANDLE file, uint64_t offset, void* data, DWORD size) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  return ReadFile(file, data, size, &read, &at) != FALSE && read == size;
}

bool WriteAt(HANDLE file, uint64_t offset, const void* data, DWORD size) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD written = 0;
  return WriteFile(file, data, size, &written, &at) != FALSE && written == size;
}

// The RSDS record of the image loaded at base, or null; *size its length.
const BYTE* CodeViewOf(uint64_t base, DWORD* size) {
  HMODULE module = nullptr;
  // Only an image this process has loaded is read.
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(base), &module) ||
      reinterpret_cast<uint64_t>(module) != base) {
    return nullptr;
  }
  const auto* image = reinterpret_cast<const BYTE*>(base);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE ||
      nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC ||
      nt->OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_DEBUG) {
    return nullptr;
  }
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG];
  const auto* entries = reinterpret_cast<const IMAGE_DEBUG_DIRECTORY*>(image + dir.VirtualAddress);
  for (DWORD i = 0; dir.VirtualAddress != 0 && i < dir.Size / sizeof(IMAGE_DEBUG_DIRECTORY); ++i) {
    const IMAGE_DEBUG_DIRECTORY& e = entries[i];
    if (e.Type != IMAGE_DEBUG_TYPE_CODEVIEW || e.AddressOfRawData == 0 || e.SizeOfData < 24 ||
        e.AddressOfRawData + uint64_t{e.SizeOfData} > nt->OptionalHeader.SizeOfImage) {
      continue;
    }
    const BYTE* record = image + e.AddressOfRawData;
    if (std::memcmp(record, "RSDS", 4) != 0) continue;
    *size = e.SizeOfData;
    return record;
  }
  return nullptr;
}

}  // namespace

bool FillCodeViewRecords(HANDLE file) {
  MINIDUMP_HEADER header{};
  if (!ReadAt(file, 0, &header, sizeof(header)) || header.Signature != 0x504D444Du) {  // "MDMP"
    return false;
  }
  LARGE_INTEGER end{};
  if (!GetFileSizeEx(file, &end)) return false;
  uint64_t tail = static_cast<uint64_t>(end.QuadPart);
  for (ULONG s = 0; s < header.NumberOfStreams; ++s) {
    MINIDUMP_DIRECTORY entry{};
    if (!ReadAt(file, header.StreamDirectoryRva + uint64_t{s} * sizeof(entry), &entry,
                sizeof(entry)) ||
        entry.StreamType != ModuleListStream) {
      continue;
    }
    ULONG count = 0;
    ReadAt(file, entry.Location.Rva, &count, sizeof(count));
    for (ULONG m = 0; m < count; ++m) {
      const uint64_t at = entry.Location.Rva + 4 + uint64_t{m} * sizeof(MINIDUMP_MODULE);
      MINIDUMP_MODULE module{};
      if (!ReadAt(file, at, &module, sizeof(module))) break;
      DWORD size = 0;
      const BYTE* record =
          module.CvRecord.DataSize == 0 ? CodeViewOf(module.BaseOfImage, &size) : nullptr;
      if (record == nullptr || tail > 0xFFFFFFFFull - size) continue;
      if (!WriteAt(file, tail, record, size)) continue;
      module.CvRecord.DataSize = size;
      module.CvRecord.Rva = static_cast<RVA>(tail);
      tail += size;
      WriteAt(file, at, &module, sizeof(module));
    }
  }
  return true;
}

}  // namespace platform::crash_win32

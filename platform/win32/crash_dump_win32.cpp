// The minidump and the stack text through DbgHelp: MiniDumpWriteDump and
// StackWalk64 with the loaded modules' unwind tables.
//
// DbgHelp is single-threaded; only the one reporting thread calls it.
#include <cstring>

#include "crash_codeview_win32.h"
#include "platform/crash.h"
#include "platform/fault_injection.h"
#include "win32_text.h"
// After windows.h, which it needs.
#include <dbghelp.h>

namespace platform {
namespace {

// The module of one address, found by EnumerateLoadedModules64.
struct ModuleSearch {
  DWORD64 pc;
  DWORD64 base;
  char* stem;  // receives the module's name
  size_t stem_size;
};

// The file name of path without folder and last extension, into out.
void ModuleStem(const char* path, char* out, size_t size) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '\\' || *p == '/') name = p + 1;
  }
  const char* dot = std::strrchr(name, '.');
  size_t n = dot != nullptr ? static_cast<size_t>(dot - name) : std::strlen(name);
  if (n >= size) n = size - 1;
  std::memcpy(out, name, n);
  out[n] = '\0';
}

BOOL CALLBACK FindModule(PCSTR name, DWORD64 base, ULONG size, PVOID context) {
  auto* search = static_cast<ModuleSearch*>(context);
  if (base < search->pc && search->pc < base + size) {
    search->base = base;
    // The name lives only as long as the call.
    ModuleStem(name != nullptr ? name : "", search->stem, search->stem_size);
    return FALSE;  // found: stop
  }
  return TRUE;
}

// The unwind tables come from the loaded images themselves (.pdata), as the
// system's own unwinder finds them: nothing has to be loaded into the
// symbol handler, and no debug information is read inside the dying
// process (Wine's DbgHelp would parse a -g build's DWARF, seconds per
// module).
PVOID CALLBACK FunctionTable(HANDLE, DWORD64 pc) {
  DWORD64 base = 0;
  return RtlLookupFunctionEntry(pc, &base, nullptr);
}

DWORD64 CALLBACK ModuleBase(HANDLE, DWORD64 pc) {
  void* base = nullptr;
  return RtlPcToFileHeader(reinterpret_cast<void*>(pc), &base) != nullptr
             ? reinterpret_cast<DWORD64>(base)
             : 0;
}

}  // namespace

bool WriteMinidump(intptr_t file, const CrashInfo* info, bool full_memory) {
  auto* pointers =
      info != nullptr ? static_cast<EXCEPTION_POINTERS*>(const_cast<void*>(info->native)) : nullptr;
  MINIDUMP_EXCEPTION_INFORMATION exception{};
  // The faulting thread, which after a stack overflow is not the one that
  // writes the dump.
  exception.ThreadId = info != nullptr ? info->thread_id : GetCurrentThreadId();
  exception.ExceptionPointers = pointers;
  exception.ClientPointers = FALSE;
  const MINIDUMP_TYPE type = full_memory ? MiniDumpWithFullMemory : MiniDumpNormal;
  // A symbol handler without the modules loaded: Wine's writer would
  // otherwise start one that loads every module's debug information, which
  // the dump does not hold anyway.
  HANDLE process = GetCurrentProcess();
  SymSetOptions(SYMOPT_DEFERRED_LOADS);
  const bool symbols = SymInitialize(process, nullptr, FALSE) != FALSE;
  const bool written =
      MiniDumpWriteDump(process, GetCurrentProcessId(), reinterpret_cast<HANDLE>(file), type,
                        pointers != nullptr ? &exception : nullptr, nullptr, nullptr) != FALSE;
  if (symbols) SymCleanup(process);
  return written && crash_win32::FillCodeViewRecords(reinterpret_cast<HANDLE>(file));
}

size_t WalkCrashStack(const CrashInfo* info, CrashFrame* frames, size_t max_frames) {
  if (info == nullptr || info->native == nullptr || max_frames == 0) return 0;
  const auto* pointers = static_cast<const EXCEPTION_POINTERS*>(info->native);
  if (pointers->ContextRecord == nullptr) return 0;

  HANDLE process = GetCurrentProcess();
  // StackWalk64 rewrites the context as it unwinds.
  CONTEXT context = *pointers->ContextRecord;
  STACKFRAME64 frame{};
  frame.AddrPC.Offset = context.Rip;
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrFrame.Offset = context.Rbp;
  frame.AddrFrame.Mode = AddrModeFlat;
  frame.AddrStack.Offset = context.Rsp;
  frame.AddrStack.Mode = AddrModeFlat;

  size_t count = 0;
  while (count < max_frames) {
    if (!StackWalk64(IMAGE_FILE_MACHINE_AMD64, process, GetCurrentThread(), &frame, &context,
                     nullptr, &FunctionTable, &ModuleBase, nullptr)) {
      break;
    }
    if (frame.AddrFrame.Offset == 0) break;
    CrashFrame& out = frames[count++];
    out.pc = frame.AddrPC.Offset;
    out.sp = frame.AddrStack.Offset;
    out.fp = frame.AddrFrame.Offset;
    out.module_base = 0;
    out.module[0] = '\0';
    ModuleSearch search{out.pc, 0, out.module, sizeof(out.module)};
    EnumerateLoadedModules64(process, &FindModule, &search);
    out.module_base = search.base;
  }
  return count;
}

uint32_t StartCrashSymbols() {
  // The fault seam's "symbol" calls cover the symbol handler's start too.
  if (int e = fault::Check(fault::Point::kLibrarySymbol)) return static_cast<uint32_t>(e);
  SymSetOptions(SYMOPT_DEFERRED_LOADS | SYMOPT_LOAD_LINES);
  if (!SymInitialize(GetCurrentProcess(), nullptr, FALSE)) {
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;
  }
  return 0;
}

void StopCrashSymbols() {
  SymCleanup(GetCurrentProcess());
}

}  // namespace platform

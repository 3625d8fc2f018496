// The minidump writer of the POSIX crash backend. It runs in the signal
// handler, or in the dump helper cloned from it: raw writes of the
// process's memory into the dump file, fixed static buffers, no
// allocation. The helper (crash_threads_posix.cpp) adds every other thread
// with the registers it read by ptrace; when it cannot run, the faulting
// thread alone is dumped from inside the process.
#include <cpuid.h>
#include <elf.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "crash_maps_posix.h"
#include "crash_posix_internal.h"
#include "crash_threads_posix.h"
#include "minidump_format_posix.h"
#include "platform/crash.h"

namespace platform {
namespace {

using namespace minidump;
using crash_posix::CapturedThread;
using crash_posix::MapEntry;
using crash_posix::MapsSnapshot;
using crash_posix::ThreadCapture;

constexpr size_t kMaxStreams = 16;
constexpr size_t kMaxModules = 1024;
constexpr uint64_t kStackCapture = 256 * 1024;  // bytes above the stack pointer
constexpr uint64_t kRedZone = 128;
constexpr uint64_t kPcWindow = 128;  // bytes each side of the pc
// Mappings larger than this are left out of a full dump: they are
// reservations (sanitizer shadow, heaps reserved but never touched).
constexpr uint64_t kMaxFullRegion = 1ull << 30;
constexpr size_t kMaxFullRegions = 8192;
constexpr size_t kProcFileSize = 64 * 1024;

constexpr size_t kMaxThreads = crash_posix::kMaxDumpThreads + 1;
constexpr size_t kNameSize = 16;  // a Linux thread name and its NUL

Module g_modules[kMaxModules];
Memory64Descriptor g_regions[kMaxFullRegions];
char g_proc_buffer[kProcFileSize];
const uint8_t kZeros[4096] = {};
uint8_t g_copy[64 * 1024];  // another process's memory on its way to the file
Thread g_thread_entries[kMaxThreads];
MemoryDescriptor g_memory[2 * kMaxThreads];
ThreadName g_names[kMaxThreads];

// Sequential writer that remembers where each piece went and whether any
// write failed.
class DumpFile {
 public:
  explicit DumpFile(int fd) : fd_(fd) {}

  uint64_t position() const { return position_; }
  bool ok() const { return ok_; }

  uint32_t Append(const void* data, size_t size) {
    uint32_t rva = static_cast<uint32_t>(position_);
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      ssize_t n = write(fd_, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok_ = false;
        return rva;
      }
      p += n;
      size -= static_cast<size_t>(n);
      position_ += static_cast<uint64_t>(n);
    }
    return rva;
  }

  uint32_t AppendZeros(uint64_t size) {
    uint32_t rva = static_cast<uint32_t>(position_);
    while (size > 0 && ok_) {
      size_t chunk = size < sizeof(kZeros) ? static_cast<size_t>(size) : sizeof(kZeros);
      Append(kZeros, chunk);
      size -= chunk;
    }
    return rva;
  }

  // Copies this process's memory into the file. A page the kernel cannot
  // read (unmapped since the map was read) becomes zeros, so the layout of
  // the file stays as announced.
  uint32_t AppendMemory(uint64_t address, uint64_t size) {
    uint32_t rva = static_cast<uint32_t>(position_);
    uint64_t at = address;
    uint64_t end = address + size;
    while (at < end && ok_) {
      // The system call itself, not the libc wrapper: a sanitizer's wrapper
      // would check (and refuse) memory the program never handed out.
      auto n = static_cast<ssize_t>(syscall(SYS_write, fd_, reinterpret_cast<const void*>(at),
                                            static_cast<size_t>(end - at)));
      if (n > 0) {
        at += static_cast<uint64_t>(n);
        position_ += static_cast<uint64_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EFAULT) {
        uint64_t next = (at | 4095) + 1;
        if (next > end) next = end;
        AppendZeros(next - at);
        at = next;
        continue;
      }
      ok_ = false;
    }
    return rva;
  }

  // Copies the memory of process pid (the helper's crashed parent, whose
  // threads it holds stopped) into the file, unreadable pages as zeros.
  uint32_t AppendRemote(uint32_t pid, uint64_t address, uint64_t size) {
    uint32_t rva = static_cast<uint32_t>(position_);
    uint64_t at = address;
    uint64_t end = address + size;
    while (at < end && ok_) {
      uint64_t want = end - at < sizeof(g_copy) ? end - at : sizeof(g_copy);
      struct iovec local {
        g_copy, static_cast<size_t>(want)
      };
      struct iovec remote {
        reinterpret_cast<void*>(at), static_cast<size_t>(want)
      };
      auto n = static_cast<ssize_t>(syscall(SYS_process_vm_readv, pid, &local, 1, &remote, 1, 0));
      if (n > 0) {
        Append(g_copy, static_cast<size_t>(n));
        at += static_cast<uint64_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      uint64_t next = (at | 4095) + 1;
      if (next > end) next = end;
      AppendZeros(next - at);
      at = next;
    }
    return rva;
  }

  void Patch(uint64_t offset, const void* data, size_t size) {
    if (pwrite(fd_, data, size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size)) {
      ok_ = false;
    }
  }

  void AddStream(uint32_t type, uint32_t rva, uint32_t size) {
    if (count_ < kMaxStreams) directory_[count_++] = Directory{type, {size, rva}};
  }

  void WriteHeader(uint32_t time_stamp) {
    Header header{};
    header.signature = kSignature;
    header.version = kVersion;
    header.stream_count = static_cast<uint32_t>(count_);
    header.directory_rva = sizeof(Header);
    header.time_date_stamp = time_stamp;
    Patch(0, &header, sizeof(header));
    Patch(sizeof(Header), directory_, sizeof(directory_));
  }

 private:
  int fd_;
  uint64_t position_ = 0;
  bool ok_ = true;
  Directory directory_[kMaxStreams] = {};
  size_t count_ = 0;
};

// A MINIDUMP_STRING: byte length, UTF-16LE text, a 0 terminator.
uint32_t AppendString(DumpFile& file, const char* text, size_t size) {
  uint16_t units[1024];
  size_t n = 0;
  for (size_t i = 0; i < size && n + 2 < sizeof(units) / sizeof(units[0]);) {
    auto c = static_cast<uint8_t>(text[i]);
    uint32_t cp = c;
    size_t extra = 0;
    if (c >= 0xF0) {
      cp = c & 0x07u;
      extra = 3;
    } else if (c >= 0xE0) {
      cp = c & 0x0Fu;
      extra = 2;
    } else if (c >= 0xC0) {
      cp = c & 0x1Fu;
      extra = 1;
    }
    ++i;
    for (size_t k = 0; k < extra && i < size; ++k, ++i) {
      cp = (cp << 6) | (static_cast<uint8_t>(text[i]) & 0x3Fu);
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units[n++] = static_cast<uint16_t>(0xD800 + (cp >> 10));
      units[n++] = static_cast<uint16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      units[n++] = static_cast<uint16_t>(cp);
    }
  }
  uint32_t bytes = static_cast<uint32_t>(n * 2);
  uint32_t rva = file.Append(&bytes, sizeof(bytes));
  units[n] = 0;
  file.Append(units, (n + 1) * 2);
  return rva;
}

void FillContext(const ucontext_t& uc, ContextAmd64* c) {
  std::memset(c, 0, sizeof(*c));
  const greg_t* g = uc.uc_mcontext.gregs;
  c->context_flags = kContextFlagsAmd64;
  auto csgsfs = static_cast<uint64_t>(g[REG_CSGSFS]);
  c->seg_cs = static_cast<uint16_t>(csgsfs & 0xFFFF);
  c->seg_gs = static_cast<uint16_t>((csgsfs >> 16) & 0xFFFF);
  c->seg_fs = static_cast<uint16_t>((csgsfs >> 32) & 0xFFFF);
  c->seg_ss = static_cast<uint16_t>((csgsfs >> 48) & 0xFFFF);
  c->eflags = static_cast<uint32_t>(g[REG_EFL]);
  c->rax = static_cast<uint64_t>(g[REG_RAX]);
  c->rcx = static_cast<uint64_t>(g[REG_RCX]);
  c->rdx = static_cast<uint64_t>(g[REG_RDX]);
  c->rbx = static_cast<uint64_t>(g[REG_RBX]);
  c->rsp = static_cast<uint64_t>(g[REG_RSP]);
  c->rbp = static_cast<uint64_t>(g[REG_RBP]);
  c->rsi = static_cast<uint64_t>(g[REG_RSI]);
  c->rdi = static_cast<uint64_t>(g[REG_RDI]);
  c->r8 = static_cast<uint64_t>(g[REG_R8]);
  c->r9 = static_cast<uint64_t>(g[REG_R9]);
  c->r10 = static_cast<uint64_t>(g[REG_R10]);
  c->r11 = static_cast<uint64_t>(g[REG_R11]);
  c->r12 = static_cast<uint64_t>(g[REG_R12]);
  c->r13 = static_cast<uint64_t>(g[REG_R13]);
  c->r14 = static_cast<uint64_t>(g[REG_R14]);
  c->r15 = static_cast<uint64_t>(g[REG_R15]);
  c->rip = static_cast<uint64_t>(g[REG_RIP]);
  if (uc.uc_mcontext.fpregs != nullptr) {
    static_assert(sizeof(*uc.uc_mcontext.fpregs) == sizeof(c->flt_save));
    std::memcpy(c->flt_save, uc.uc_mcontext.fpregs, sizeof(c->flt_save));
    c->mx_csr = uc.uc_mcontext.fpregs->mxcsr;
  }
}

// The stack bytes to keep: from just below the stack pointer (the red zone)
// up the readable mapping that holds it, at most kStackCapture. After a
// stack overflow the pointer may sit in the guard page: then the mapping
// just above it is taken.
bool StackRange(const MapsSnapshot& maps, uint64_t sp, uint64_t* start, uint64_t* size) {
  const MapEntry* m = crash_posix::FindReadable(maps, sp);
  if (m == nullptr) m = crash_posix::FindReadable(maps, (sp | 4095) + 1);
  if (m == nullptr) return false;
  uint64_t from = sp >= kRedZone ? sp - kRedZone : 0;
  if (from < m->start) from = m->start;
  uint64_t to = from + kStackCapture;
  if (to > m->end) to = m->end;
  *start = from;
  *size = to - from;
  return to > from;
}

bool SamePath(const MapEntry& a, const MapEntry& b) {
  return a.path_size == b.path_size && std::memcmp(a.path, b.path, a.path_size) == 0;
}

// The GNU build id of the ELF image loaded at base, read from its notes in
// memory; answers its length (0 when none).
size_t ReadBuildId(const MapsSnapshot& maps, uint64_t base, uint8_t* id, size_t capacity) {
  if (!crash_posix::IsReadable(maps, base, sizeof(Elf64_Ehdr))) return 0;
  const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(base);
  if (std::memcmp(eh->e_ident, ELFMAG, SELFMAG) != 0 || eh->e_ident[EI_CLASS] != ELFCLASS64 ||
      eh->e_phentsize != sizeof(Elf64_Phdr)) {
    return 0;
  }
  uint64_t ph_address = base + eh->e_phoff;
  if (!crash_posix::IsReadable(maps, ph_address, uint64_t{eh->e_phnum} * sizeof(Elf64_Phdr))) {
    return 0;
  }
  const auto* ph = reinterpret_cast<const Elf64_Phdr*>(ph_address);
  uint64_t bias = base;
  for (int i = 0; i < eh->e_phnum; ++i) {
    if (ph[i].p_type == PT_LOAD) {
      bias = base - (ph[i].p_vaddr - ph[i].p_offset);
      break;
    }
  }
  for (int i = 0; i < eh->e_phnum; ++i) {
    if (ph[i].p_type != PT_NOTE) continue;
    uint64_t at = bias + ph[i].p_vaddr;
    uint64_t end = at + ph[i].p_memsz;
    if (!crash_posix::IsReadable(maps, at, ph[i].p_memsz)) continue;
    while (at + sizeof(Elf64_Nhdr) <= end) {
      const auto* note = reinterpret_cast<const Elf64_Nhdr*>(at);
      uint64_t name = at + sizeof(Elf64_Nhdr);
      uint64_t desc = name + ((note->n_namesz + 3u) & ~3u);
      uint64_t next = desc + ((note->n_descsz + 3u) & ~3u);
      if (next > end) break;
      if (note->n_type == NT_GNU_BUILD_ID && note->n_namesz == 4 &&
          std::memcmp(reinterpret_cast<const void*>(name), "GNU", 4) == 0) {
        size_t n = note->n_descsz < capacity ? note->n_descsz : capacity;
        std::memcpy(id, reinterpret_cast<const void*>(desc), n);
        return n;
      }
      at = next;
    }
  }
  return 0;
}

// Module list: every ELF file mapped from offset 0, spanning its mappings.
void WriteModules(DumpFile& file, const MapsSnapshot& maps) {
  size_t count = 0;
  for (size_t i = 0; i < maps.count && count < kMaxModules; ++i) {
    const MapEntry& e = maps.entries[i];
    if (e.path_size == 0 || e.path[0] != '/' || e.offset != 0 || !e.readable) continue;
    if (e.end - e.start < SELFMAG ||
        std::memcmp(reinterpret_cast<const void*>(e.start), ELFMAG, SELFMAG) != 0) {
      continue;
    }
    uint64_t end = e.end;
    for (size_t j = i + 1; j < maps.count; ++j) {
      const MapEntry& n = maps.entries[j];
      if (SamePath(n, e)) {
        if (n.offset == 0) break;  // the same file mapped again
        end = n.end;
      } else if (n.path_size != 0) {
        break;
      }
    }
    Module& m = g_modules[count];
    std::memset(&m, 0, sizeof(m));
    m.base_of_image = e.start;
    m.size_of_image = static_cast<uint32_t>(end - e.start);
    m.module_name_rva = AppendString(file, e.path, e.path_size);
    uint8_t cv[4 + 32];
    uint32_t signature = kCvSignatureElf;
    std::memcpy(cv, &signature, 4);
    size_t id_size = ReadBuildId(maps, e.start, cv + 4, 32);
    if (id_size != 0) {
      m.cv_record.rva = file.Append(cv, 4 + id_size);
      m.cv_record.data_size = static_cast<uint32_t>(4 + id_size);
    }
    ++count;
  }
  uint32_t n = static_cast<uint32_t>(count);
  uint32_t rva = file.Append(&n, sizeof(n));
  file.Append(g_modules, count * sizeof(Module));
  file.AddStream(kModuleList, rva, static_cast<uint32_t>(4 + count * sizeof(Module)));
}

void WriteSystemInfo(DumpFile& file) {
  struct utsname uts;
  char csd[512];
  size_t csd_size = 0;
  if (uname(&uts) == 0) {
    const char* parts[] = {uts.sysname, uts.release, uts.version, uts.machine};
    for (const char* part : parts) {
      for (const char* p = part; *p != '\0' && csd_size + 1 < sizeof(csd); ++p) {
        csd[csd_size++] = *p;
      }
      if (csd_size + 1 < sizeof(csd)) csd[csd_size++] = ' ';
    }
    if (csd_size > 0) --csd_size;
  }
  SystemInfo si{};
  si.processor_architecture = 9;
  si.platform_id = 0x8201;
  si.csd_version_rva = AppendString(file, csd, csd_size);
  cpu_set_t cpus;
  int cpu_count = sched_getaffinity(0, sizeof(cpus), &cpus) == 0 ? CPU_COUNT(&cpus) : 1;
  si.number_of_processors = static_cast<uint8_t>(cpu_count > 0 && cpu_count < 256 ? cpu_count : 1);
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(0, &a, &b, &c, &d)) {
    si.vendor_id[0] = b;
    si.vendor_id[1] = d;
    si.vendor_id[2] = c;
  }
  if (__get_cpuid(1, &a, &b, &c, &d)) {
    si.version_information = a;
    si.feature_information = d;
    si.processor_level = static_cast<uint16_t>((a >> 8) & 0xF);
    si.processor_revision = static_cast<uint16_t>(a & 0xFF);
  }
  uint32_t rva = file.Append(&si, sizeof(si));
  file.AddStream(kSystemInfo, rva, sizeof(si));
}

void WriteProcFile(DumpFile& file, uint32_t type, const char* path) {
  size_t size = crash_posix::ReadWholeFile(path, g_proc_buffer, sizeof(g_proc_buffer));
  if (size == 0) return;
  uint32_t rva = file.Append(g_proc_buffer, size);
  file.AddStream(type, rva, static_cast<uint32_t>(size));
}

// Every readable mapping but the left-out one (and reservations, [vvar],
// devices), as one Memory64List at the end of the file: its base offset is
// 64-bit, so the file may pass 4 GiB.
void WriteFullMemory(DumpFile& file, const MapsSnapshot& maps, const MapEntry* left_out) {
  size_t count = 0;
  for (size_t i = 0; i < maps.count && count < kMaxFullRegions; ++i) {
    const MapEntry& e = maps.entries[i];
    if (!e.readable || e.end - e.start > kMaxFullRegion || &e == left_out) continue;
    bool is_vvar = e.path_size >= 6 && std::memcmp(e.path, "[vvar]", 6) == 0;
    bool is_device = e.path_size >= 5 && std::memcmp(e.path, "/dev/", 5) == 0;
    if (is_vvar || is_device) continue;
    g_regions[count++] = Memory64Descriptor{e.start, e.end - e.start};
  }
  uint64_t list_size = 16 + count * sizeof(Memory64Descriptor);
  uint64_t header[2] = {count, file.position() + list_size};
  uint32_t rva = file.Append(header, sizeof(header));
  file.Append(g_regions, count * sizeof(Memory64Descriptor));
  file.AddStream(kMemory64List, rva, static_cast<uint32_t>(list_size));
  for (size_t i = 0; i < count && file.ok(); ++i) {
    file.AppendMemory(g_regions[i].start, g_regions[i].size);
  }
}

// The thread's name as the system keeps it (its "comm"); answers its length.
size_t ReadThreadName(uint32_t pid, uint32_t tid, char* name) {
  char path[crash_posix::kProcPathSize];
  crash_posix::ProcPath(pid, "task/", path);
  size_t at = crash_posix::AppendDecimal(tid, path, std::strlen(path));
  std::memcpy(path + at, "/comm", 6);
  size_t size = crash_posix::ReadWholeFile(path, name, kNameSize - 1);
  while (size > 0 && (name[size - 1] == '\n' || name[size - 1] == '\0')) --size;
  name[size] = '\0';
  return size;
}

// One thread's stack (and the bytes around its pc) into the file and the
// memory list; from the helper's stopped parent when pid is set, else from
// this process. Answers the stack's descriptor (size 0 when none).
MemoryDescriptor AppendThreadMemory(DumpFile& file, const MapsSnapshot& maps,
                                    const ContextAmd64& context, uint32_t remote_pid,
                                    uint32_t* memory_count) {
  MemoryDescriptor stack{};
  uint64_t start = 0;
  uint64_t size = 0;
  if (StackRange(maps, context.rsp, &start, &size)) {
    uint32_t rva = remote_pid != 0 ? file.AppendRemote(remote_pid, start, size)
                                   : file.AppendMemory(start, size);
    stack = MemoryDescriptor{start, {static_cast<uint32_t>(size), rva}};
    g_memory[(*memory_count)++] = stack;
  }
  if (const MapEntry* m = crash_posix::FindReadable(maps, context.rip)) {
    uint64_t from = context.rip - kPcWindow < m->start ? m->start : context.rip - kPcWindow;
    uint64_t to = context.rip + kPcWindow > m->end ? m->end : context.rip + kPcWindow;
    // Threads waiting in the same function share their code bytes: readers
    // reject a memory list whose ranges overlap, so the bytes go in once.
    bool overlaps = false;
    for (uint32_t i = 0; i < *memory_count && !overlaps; ++i) {
      const MemoryDescriptor& d = g_memory[i];
      overlaps = from < d.start + d.memory.data_size && d.start < to;
    }
    if (!overlaps) {
      g_memory[(*memory_count)++] = MemoryDescriptor{
          from, {static_cast<uint32_t>(to - from), file.AppendMemory(from, to - from)}};
    }
  }
  return stack;
}

// The dump of the fault's (or the caller's own) thread context uc on
// thread tid, with the other threads of capture when the helper writes it.
bool WriteDump(intptr_t handle, const CrashInfo* info, bool full_memory, const ucontext_t* uc,
               uint32_t tid, const ThreadCapture* capture) {
  DumpFile file(static_cast<int>(handle));
  file.AppendZeros(sizeof(Header) + kMaxStreams * sizeof(Directory));
  MapsSnapshot maps;
  crash_posix::ReadMaps(&maps);
  uint32_t remote_pid = capture != nullptr ? capture->pid : 0;
  uint32_t pid = capture != nullptr ? capture->pid : static_cast<uint32_t>(getpid());

  // The faulting thread first, as debuggers pick the first thread when the
  // exception names none they know.
  ContextAmd64 context;
  FillContext(*uc, &context);
  uint32_t context_rva = file.Append(&context, sizeof(context));
  size_t thread_count = 0;
  uint32_t memory_count = 0;
  Thread& first = g_thread_entries[thread_count++];
  first = Thread{};
  first.thread_id = tid;
  first.thread_context = LocationDescriptor{sizeof(context), context_rva};
  first.stack = AppendThreadMemory(file, maps, context, remote_pid, &memory_count);
  MemoryDescriptor faulting_stack = first.stack;
  for (size_t i = 0; capture != nullptr && i < capture->count && thread_count < kMaxThreads; ++i) {
    const CapturedThread& c = capture->threads[i];
    Thread& t = g_thread_entries[thread_count++];
    t = Thread{};
    t.thread_id = c.tid;
    t.thread_context =
        LocationDescriptor{sizeof(c.context), file.Append(&c.context, sizeof(c.context))};
    t.stack = AppendThreadMemory(file, maps, c.context, remote_pid, &memory_count);
  }

  auto n = static_cast<uint32_t>(thread_count);
  uint32_t rva = file.Append(&n, sizeof(n));
  file.Append(g_thread_entries, thread_count * sizeof(Thread));
  file.AddStream(kThreadList, rva, static_cast<uint32_t>(4 + thread_count * sizeof(Thread)));

  rva = file.Append(&memory_count, sizeof(memory_count));
  file.Append(g_memory, memory_count * sizeof(MemoryDescriptor));
  file.AddStream(kMemoryList, rva, 4 + memory_count * sizeof(MemoryDescriptor));

  for (size_t i = 0; i < thread_count; ++i) {
    char name[kNameSize];
    size_t size = ReadThreadName(pid, g_thread_entries[i].thread_id, name);
    g_names[i] = ThreadName{g_thread_entries[i].thread_id, AppendString(file, name, size)};
  }
  rva = file.Append(&n, sizeof(n));
  file.Append(g_names, thread_count * sizeof(ThreadName));
  file.AddStream(kThreadNames, rva, static_cast<uint32_t>(4 + thread_count * sizeof(ThreadName)));

  if (info != nullptr) {
    Exception ex{};
    ex.thread_id = tid;
    ex.exception_code = info->code;
    ex.exception_flags = static_cast<uint32_t>(info->subcode);
    ex.exception_address = info->address;
    ex.thread_context = LocationDescriptor{sizeof(context), context_rva};
    rva = file.Append(&ex, sizeof(ex));
    file.AddStream(kException, rva, sizeof(ex));
  }

  WriteSystemInfo(file);

  MiscInfo misc{};
  misc.size_of_info = sizeof(misc);
  misc.flags1 = 1;
  misc.process_id = pid;
  rva = file.Append(&misc, sizeof(misc));
  file.AddStream(kMiscInfo, rva, sizeof(misc));

  WriteModules(file, maps);
  char path[64];
  crash_posix::ProcPath(pid, "status", path);
  WriteProcFile(file, kLinuxProcStatus, path);
  crash_posix::ProcPath(pid, "cmdline", path);
  WriteProcFile(file, kLinuxCmdLine, path);
  crash_posix::ProcPath(pid, "auxv", path);
  WriteProcFile(file, kLinuxAuxv, path);
  rva = file.Append(maps.text, maps.text_size);
  file.AddStream(kLinuxMaps, rva, static_cast<uint32_t>(maps.text_size));

  if (full_memory) {
    // After a stack overflow the stack holds thousands of frames, which
    // debuggers fail to walk (LLDB 14 recurses per frame and dies): the
    // faulting stack is then kept only as far as the normal dump keeps it.
    const MapEntry* left_out = nullptr;
    if (info != nullptr && info->stack_overflow && faulting_stack.memory.data_size != 0) {
      left_out = crash_posix::FindReadable(maps, faulting_stack.start);
    }
    WriteFullMemory(file, maps, left_out);
  }

  file.WriteHeader(static_cast<uint32_t>(time(nullptr)));
  return file.ok();
}

// What the helper needs to write the dump.
struct HelperArgs {
  intptr_t handle;
  const CrashInfo* info;
  bool full_memory;
  const ucontext_t* uc;
  uint32_t tid;
};

bool WriteInHelper(const ThreadCapture* capture, void* arg) {
  const auto* a = static_cast<const HelperArgs*>(arg);
  return WriteDump(a->handle, a->info, a->full_memory, a->uc, a->tid, capture);
}

// Every thread through the helper; the dumping thread alone when the
// helper cannot run. A helper that failed half-way leaves its part of the
// file (and the shared file offset) behind: both are reset first.
bool WriteAllThreads(intptr_t handle, const CrashInfo* info, bool full_memory,
                     const ucontext_t* uc) {
  uint32_t tid = info != nullptr ? info->thread_id : crash_posix::CurrentThreadId();
  HelperArgs args{handle, info, full_memory, uc, tid};
  int fd = static_cast<int>(handle);
  if (crash_posix::RunDumpHelper(fd, tid, &WriteInHelper, &args)) return true;
  if (syscall(SYS_ftruncate, fd, 0) != 0 || syscall(SYS_lseek, fd, 0, SEEK_SET) != 0) return false;
  return WriteDump(handle, info, full_memory, uc, tid, nullptr);
}

// Without a fault record the calling thread is dumped where it stands.
// Apart, because getcontext returns twice.
__attribute__((noinline)) bool WriteOwnContext(intptr_t handle, const CrashInfo* info,
                                               bool full_memory) {
  ucontext_t own;
  getcontext(&own);
  return WriteAllThreads(handle, info, full_memory, &own);
}

}  // namespace

bool WriteMinidump(intptr_t handle, const CrashInfo* info, bool full_memory) {
  if (handle < 0) return false;
  if (info != nullptr && info->native != nullptr) {
    const auto* fault = static_cast<const crash_posix::NativeFault*>(info->native);
    if (fault->context != nullptr)
      return WriteAllThreads(handle, info, full_memory, fault->context);
  }
  return WriteOwnContext(handle, info, full_memory);
}

}  // namespace platform

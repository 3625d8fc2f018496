// The minidump writer and the stack walk, in-process: the dump's layout is
// what readers require, and its content is this process.
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crs_test_support.h"
#include "platform/crash.h"
#include "platform/crash_io.h"

namespace {

template <typename T>
T At(const std::string& dump, uint64_t offset) {
  T value{};
  if (offset + sizeof(T) <= dump.size()) std::memcpy(&value, dump.data() + offset, sizeof(T));
  return value;
}

struct Stream {
  uint32_t type;
  uint32_t size;
  uint32_t rva;
};

// Parses the directory and checks the rules LLVM's reader enforces.
std::vector<Stream> CheckLayout(const std::string& dump) {
  std::vector<Stream> streams;
  EXPECT_GE(dump.size(), 32u);
  EXPECT_EQ(0x504D444Du, At<uint32_t>(dump, 0));
  EXPECT_EQ(0xA793u, At<uint32_t>(dump, 4) & 0xFFFF);
  uint32_t count = At<uint32_t>(dump, 8);
  uint32_t directory = At<uint32_t>(dump, 12);
  std::set<uint32_t> types;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t at = directory + i * 12ull;
    Stream s{At<uint32_t>(dump, at), At<uint32_t>(dump, at + 4), At<uint32_t>(dump, at + 8)};
    EXPECT_TRUE(types.insert(s.type).second) << "duplicate stream " << s.type;
    EXPECT_LE(uint64_t{s.rva} + s.size, dump.size()) << "stream " << s.type;
    streams.push_back(s);
  }
  // Breakpad's reader drops a memory list whose ranges overlap.
  for (const Stream& s : streams) {
    if (s.type != 5) continue;
    std::map<uint64_t, uint64_t> ranges;  // start -> end
    for (uint32_t i = 0; i < At<uint32_t>(dump, s.rva); ++i) {
      uint64_t start = At<uint64_t>(dump, s.rva + 4 + i * 16ull);
      ranges[start] = start + At<uint32_t>(dump, s.rva + 12 + i * 16ull);
    }
    uint64_t end = 0;
    for (const auto& [start, stop] : ranges) {
      EXPECT_LE(end, start) << "memory ranges overlap at 0x" << std::hex << start;
      end = stop;
    }
  }
  return streams;
}

const Stream* Find(const std::vector<Stream>& streams, uint32_t type) {
  for (const Stream& s : streams) {
    if (s.type == type) return &s;
  }
  return nullptr;
}

std::string BuildIdOfThisProgram() {
  std::string id;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          if (info->dlpi_phdr[i].p_type != PT_NOTE) continue;
          auto at = info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
          auto end = at + info->dlpi_phdr[i].p_memsz;
          while (at + sizeof(ElfW(Nhdr)) <= end) {
            auto* note = reinterpret_cast<const ElfW(Nhdr)*>(at);
            const char* name = reinterpret_cast<const char*>(note + 1);
            const char* desc = name + ((note->n_namesz + 3) & ~3u);
            if (note->n_type == NT_GNU_BUILD_ID && std::strcmp(name, "GNU") == 0) {
              static_cast<std::string*>(out)->assign(desc, note->n_descsz);
              return 1;
            }
            at = reinterpret_cast<ElfW(Addr)>(desc + ((note->n_descsz + 3) & ~3u));
          }
        }
        return 1;  // the first object is the program itself
      },
      &id);
  return id;
}

std::string WriteDump(const crs_test::TempFolder& tmp, const char* name,
                      const platform::CrashInfo* info, bool full) {
  std::string path = (tmp.path() / name).string();
  intptr_t file = platform::CrashFileCreate(path.c_str());
  EXPECT_NE(platform::kNoCrashFile, file);
  EXPECT_TRUE(platform::WriteMinidump(file, info, full));
  platform::CrashFileClose(file);
  return crs_test::ReadWhole(path);
}

// A MINIDUMP_STRING as ASCII.
std::string StringAt(const std::string& dump, uint64_t rva) {
  uint32_t bytes = At<uint32_t>(dump, rva);
  std::string text;
  for (uint32_t k = 0; k < bytes; k += 2) text += static_cast<char>(dump[rva + 4 + k]);
  return text;
}

// Threads that wait, named, each with a marker on its stack, while a dump
// is written.
class ParkedThreads {
 public:
  explicit ParkedThreads(int count) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this, i] {
        volatile uint64_t marker = 0xC0FFEE00 + i;  // on this thread's stack
        std::string name = "parked" + std::to_string(i);
        pthread_setname_np(pthread_self(), name.c_str());
        {
          std::lock_guard<std::mutex> lock(mutex_);
          markers_[static_cast<uint32_t>(gettid())] = {reinterpret_cast<uint64_t>(&marker), name};
        }
        while (!stop_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        (void)marker;
      });
    }
    while (Size() < static_cast<size_t>(count)) std::this_thread::yield();
  }
  ~ParkedThreads() {
    stop_.store(true);
    for (auto& t : threads_) t.join();
  }
  size_t Size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return markers_.size();
  }
  // tid -> (address of its marker, its name)
  std::map<uint32_t, std::pair<uint64_t, std::string>> markers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return markers_;
  }

 private:
  std::mutex mutex_;
  std::map<uint32_t, std::pair<uint64_t, std::string>> markers_;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

TEST(Minidump, NormalDumpHoldsEveryThreadModulesAndLinuxStreams) {
  crs_test::TempFolder tmp;
  ParkedThreads parked(3);
  volatile int local = 0x5A5A1234;  // on this stack while the dump is written
  std::string dump = WriteDump(tmp, "n.dmp", nullptr, false);
  auto streams = CheckLayout(dump);

  const Stream* system = Find(streams, 7);
  ASSERT_NE(nullptr, system);
  EXPECT_EQ(56u, system->size);
  EXPECT_EQ(9u, At<uint16_t>(dump, system->rva));            // AMD64
  EXPECT_EQ(0x8201u, At<uint32_t>(dump, system->rva + 20));  // Linux

  // Every thread: the caller first, then the parked ones, each with its
  // registers and the stack that holds its marker, and with its name.
  const Stream* threads = Find(streams, 3);
  ASSERT_NE(nullptr, threads);
  uint32_t thread_count = At<uint32_t>(dump, threads->rva);
  ASSERT_EQ(4u + thread_count * 48u, threads->size);
  const Stream* names = Find(streams, 24);
  ASSERT_NE(nullptr, names);
  ASSERT_EQ(thread_count, At<uint32_t>(dump, names->rva));
  std::map<uint32_t, std::string> name_of;
  for (uint32_t i = 0; i < thread_count; ++i) {
    uint64_t entry = names->rva + 4 + i * 12ull;
    name_of[At<uint32_t>(dump, entry)] = StringAt(dump, At<uint64_t>(dump, entry + 4));
  }
  auto markers = parked.markers();
  size_t seen = 0;
  for (uint32_t i = 1; i < thread_count; ++i) {
    uint64_t entry = threads->rva + 4 + i * 48ull;
    auto it = markers.find(At<uint32_t>(dump, entry));
    if (it == markers.end()) continue;
    ++seen;
    const auto& [marker, name] = it->second;
    uint64_t start = At<uint64_t>(dump, entry + 24);
    uint32_t size = At<uint32_t>(dump, entry + 32);
    uint32_t context_rva = At<uint32_t>(dump, entry + 44);
    ASSERT_EQ(1232u, At<uint32_t>(dump, entry + 40));
    EXPECT_EQ(0x0010000Fu, At<uint32_t>(dump, context_rva + 0x30));
    uint64_t thread_rsp = At<uint64_t>(dump, context_rva + 0x98);
    EXPECT_LE(start, thread_rsp);
    ASSERT_LE(start, marker) << name;
    ASSERT_GE(start + size, marker + 8) << name;
    EXPECT_EQ(0xC0FFEE00u + (name.back() - '0'),
              At<uint64_t>(dump, At<uint32_t>(dump, entry + 36) + (marker - start)));
    EXPECT_EQ(name, name_of[it->first]);
  }
  EXPECT_EQ(markers.size(), seen);
  uint64_t thread = threads->rva + 4;
  EXPECT_EQ(static_cast<uint32_t>(gettid()), At<uint32_t>(dump, thread));
  uint64_t stack_start = At<uint64_t>(dump, thread + 24);
  uint32_t stack_size = At<uint32_t>(dump, thread + 32);
  EXPECT_EQ(1232u, At<uint32_t>(dump, thread + 40));
  uint32_t context = At<uint32_t>(dump, thread + 44);
  uint64_t rsp = At<uint64_t>(dump, context + 0x98);
  uint64_t rip = At<uint64_t>(dump, context + 0xF8);
  EXPECT_EQ(0x0010000Fu, At<uint32_t>(dump, context + 0x30));
  // The stack memory covers the stack pointer and holds this process's bytes.
  EXPECT_LE(stack_start, rsp);
  EXPECT_GT(stack_start + stack_size, rsp);
  uint64_t local_address = reinterpret_cast<uint64_t>(&local);
  ASSERT_GE(local_address, stack_start);
  ASSERT_LE(local_address + 4, stack_start + stack_size);
  uint32_t stack_rva = At<uint32_t>(dump, thread + 36);
  EXPECT_EQ(local, At<int>(dump, stack_rva + (local_address - stack_start)));

  // Without a fault record there is no exception stream.
  EXPECT_EQ(nullptr, Find(streams, 6));
  for (uint32_t type : {4u, 5u, 15u, 0x47670004u, 0x47670006u, 0x47670009u}) {
    EXPECT_NE(nullptr, Find(streams, type)) << type;
  }
  EXPECT_EQ(nullptr, Find(streams, 9));  // no full memory

  // The program itself is a module holding rip, with its build id.
  const Stream* modules = Find(streams, 4);
  ASSERT_NE(nullptr, modules);
  uint32_t count = At<uint32_t>(dump, modules->rva);
  ASSERT_EQ(4u + count * 108u, modules->size);
  std::string build_id = BuildIdOfThisProgram();
  ASSERT_FALSE(build_id.empty());
  bool found = false;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t m = modules->rva + 4 + i * 108ull;
    uint64_t base = At<uint64_t>(dump, m);
    uint32_t size = At<uint32_t>(dump, m + 8);
    if (rip < base || rip >= base + size) continue;
    found = true;
    uint32_t cv_size = At<uint32_t>(dump, m + 76);
    uint32_t cv_rva = At<uint32_t>(dump, m + 80);
    ASSERT_EQ(4u + build_id.size(), cv_size);
    EXPECT_EQ(0x4270454Cu, At<uint32_t>(dump, cv_rva));
    EXPECT_EQ(build_id, dump.substr(cv_rva + 4, build_id.size()));
    std::string name = StringAt(dump, At<uint32_t>(dump, m + 20));
    EXPECT_NE(std::string::npos, name.find("/crs_minidump_test")) << name;
  }
  EXPECT_TRUE(found);
}

TEST(Minidump, FaultRecordAndFullMemory) {
  crs_test::TempFolder tmp;
  platform::CrashInfo info{};
  info.code = 11;
  info.subcode = 1;
  info.address = 0x10;
  info.thread_id = static_cast<uint32_t>(gettid());
  std::string normal = WriteDump(tmp, "f.dmp", &info, false);
  auto streams = CheckLayout(normal);
  const Stream* exception = Find(streams, 6);
  ASSERT_NE(nullptr, exception);
  ASSERT_EQ(168u, exception->size);
  EXPECT_EQ(info.thread_id, At<uint32_t>(normal, exception->rva));
  EXPECT_EQ(11u, At<uint32_t>(normal, exception->rva + 8));
  EXPECT_EQ(1u, At<uint32_t>(normal, exception->rva + 12));
  EXPECT_EQ(0x10u, At<uint64_t>(normal, exception->rva + 24));
  EXPECT_EQ(1232u, At<uint32_t>(normal, exception->rva + 160));

  std::string full = WriteDump(tmp, "full.dmp", &info, true);
  auto full_streams = CheckLayout(full);
  const Stream* memory64 = Find(full_streams, 9);
  ASSERT_NE(nullptr, memory64);
  uint64_t regions = At<uint64_t>(full, memory64->rva);
  uint64_t base_rva = At<uint64_t>(full, memory64->rva + 8);
  EXPECT_EQ(16u + regions * 16u, memory64->size);
  uint64_t total = 0;
  for (uint64_t i = 0; i < regions; ++i) total += At<uint64_t>(full, memory64->rva + 24 + i * 16);
  EXPECT_EQ(full.size(), base_rva + total);
  EXPECT_GT(full.size(), normal.size());
}

// Three frames of our own, each with a frame pointer.
__attribute__((noinline)) size_t WalkHere(platform::CrashFrame* frames, size_t max) {
  platform::CrashInfo info{};
  info.pc = reinterpret_cast<uint64_t>(&WalkHere) + 1;
  info.fp = reinterpret_cast<uint64_t>(__builtin_frame_address(0));
  info.sp = info.fp;
  return platform::WalkCrashStack(&info, frames, max);
}
__attribute__((noinline)) size_t Middle(platform::CrashFrame* frames, size_t max) {
  size_t n = WalkHere(frames, max);
  asm volatile("" ::: "memory");  // keeps the call from becoming a jump
  return n;
}

TEST(CrashStack, WalksTheFrameChainAndNamesTheModule) {
  platform::CrashFrame frames[10];
  size_t n = Middle(frames, 10);
  ASSERT_GE(n, 3u);
  EXPECT_STREQ("crs_minidump_test", frames[0].module);
  EXPECT_EQ(reinterpret_cast<uint64_t>(&WalkHere) + 1, frames[0].pc);
  // Frame 1 returns into Middle, frame 2 into this test.
  EXPECT_GT(frames[1].pc, reinterpret_cast<uint64_t>(&Middle));
  EXPECT_LT(frames[1].pc, reinterpret_cast<uint64_t>(&Middle) + 256);
  EXPECT_STREQ("crs_minidump_test", frames[1].module);
  for (size_t i = 0; i < n; ++i) {
    if (frames[i].module[0] != '\0') {
      EXPECT_LT(frames[i].module_base, frames[i].pc);
    }
    if (i > 0) {
      EXPECT_GT(frames[i].sp, frames[i - 1].sp);
    }
  }
  EXPECT_EQ(2u, Middle(frames, 2));  // the bound holds

  // A chain that leads off the stack ends the walk instead of faulting.
  platform::CrashInfo broken{};
  broken.pc = 0x1234;
  broken.fp = 0x8;
  broken.sp = reinterpret_cast<uint64_t>(__builtin_frame_address(0));
  EXPECT_EQ(1u, platform::WalkCrashStack(&broken, frames, 10));
  EXPECT_STREQ("", frames[0].module);
  EXPECT_EQ(0u, frames[0].module_base);
}

}  // namespace

// How long the crash path takes to write a normal dump ("FullDump" 0) of a
// process with 2 and with 50 threads: the dump helper's clone, stopping and
// reading every other thread, their stacks and the rest of the dump. The
// dying process waits this long before it uploads.
//
//   DumpThreads/2, DumpThreads/50   one whole dump, threads in the process
//
// Run from the build folder: bench/crash/crashdump_bench
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/crash.h"
#include "platform/crash_io.h"

namespace {

// The benchmark's own thread and count - 1 others, each a few frames deep
// in a wait, as an update or a worker thread would be.
class Waiters {
 public:
  explicit Waiters(int count) {
    for (int i = 1; i < count; ++i) {
      threads_.emplace_back([this] {
        while (!stop_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      });
    }
  }
  ~Waiters() {
    stop_.store(true);
    for (auto& t : threads_) t.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

void DumpThreads(benchmark::State& state) {
  Waiters waiters(static_cast<int>(state.range(0)));
  std::string folder = (std::filesystem::temp_directory_path() / "crashdump_bench_XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string path = folder + "/bench.dmp";
  int64_t bytes = 0;
  for (auto _ : state) {
    intptr_t file = platform::CrashFileCreate(path.c_str());
    if (!platform::WriteMinidump(file, nullptr, false)) state.SkipWithError("dump failed");
    bytes = platform::CrashFileSize(file);
    platform::CrashFileClose(file);
  }
  state.counters["dump_bytes"] = static_cast<double>(bytes);
  std::filesystem::remove_all(folder);
}
BENCHMARK(DumpThreads)->Arg(2)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

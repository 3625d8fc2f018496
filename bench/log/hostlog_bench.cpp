// Costs of the host logger and the shared message table.
//
//   HostLogLine        one HostLog line, gate open (read the clock, compose,
//                      open, append, close, echo to stdout)
//   BareAppendLine     open, append, close of the same bytes in the same
//                      folder, nothing else
//   HostLogGatedOff    a HostLog call whose level the threshold filters out
//   TableFor200th      InitLogMsgManager(EUSAGE_READ) + release by the 200th
//                      instance, with 199 other processes holding the table
//
// Goals: HostLogLine within 1.3x of BareAppendLine; a gated-off call under
// 5 ns. Run from the build folder: bench/log/hostlog_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hostlogger.h"
#include "logmsgmanager.h"

namespace fs = std::filesystem;

namespace {

fs::path g_dir;

void HostLogLine(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) HostLog(HLOG_INFO, "S_P_F: HOST_HEARTBEAT : %d", ++i);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(HostLogLine);

void BareAppendLine(benchmark::State& state) {
  // A sibling of the main log (the kernel log's name): same folder, same
  // path length, so the file system does the same work.
  char path[260];
  MakeLogFolders(platform::GetLocalTime());
  if (!GetHostLogPath(HostLogFile::kKernel, platform::GetLocalTime(), path, sizeof path)) {
    state.SkipWithError("no log path");
    return;
  }
  const std::string line = "14:03:07.015 [INFO_] S_P_F: HOST_HEARTBEAT : 12345 \r\r\n";
  for (auto _ : state) {
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    benchmark::DoNotOptimize(::write(fd, line.data(), line.size()));
    ::close(fd);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BareAppendLine);

void HostLogGatedOff(benchmark::State& state) {
  int i = 0;
  for (auto _ : state) {
    HostLog(HLOG_LOW, "never written %d", i);
    benchmark::DoNotOptimize(++i);
  }
}
BENCHMARK(HostLogGatedOff);

void TableFor200th(benchmark::State& state) {
  // 199 instances: one publisher, 198 readers; each reports once it holds the
  // table, then waits for the end of the benchmark.
  int ready[2];
  int hold[2];
  if (::pipe(ready) != 0 || ::pipe(hold) != 0) {
    state.SkipWithError("pipe failed");
    return;
  }
  std::vector<pid_t> children;
  for (int k = 0; k < 199; ++k) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(ready[0]);
      ::close(hold[1]);
      const bool ok = InitLogMsgManager(k == 0 ? EUSAGE_WRITE : EUSAGE_READ);
      const char c = ok ? 'y' : 'n';
      if (::write(ready[1], &c, 1) != 1) ::_exit(1);
      char ignored;
      while (::read(hold[0], &ignored, 1) > 0) {
      }
      ReleaseLogMsgManager();
      ::_exit(0);
    }
    children.push_back(pid);
    if (k == 0) {  // the publisher first, so that the readers find the table
      char c = 'n';
      if (::read(ready[0], &c, 1) != 1 || c != 'y') state.SkipWithError("publisher failed");
    }
  }
  for (int k = 1; k < 199; ++k) {
    char c = 'n';
    if (::read(ready[0], &c, 1) != 1 || c != 'y') state.SkipWithError("a reader failed");
  }
  for (auto _ : state) {
    if (!InitLogMsgManager(EUSAGE_READ) || LogMsgManager::GetUsage() != EUSAGE_READ) {
      state.SkipWithError("the 200th instance did not get the table");
      break;
    }
    benchmark::DoNotOptimize(GetLogMsg(2));
    ReleaseLogMsgManager();
  }
  ::close(hold[1]);
  for (pid_t pid : children) ::waitpid(pid, nullptr, 0);
  ::close(hold[0]);
  ::close(ready[0]);
  ::close(ready[1]);
}
BENCHMARK(TableFor200th)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/hostlog-bench-XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  g_dir = pattern;
  ::setenv("SERVERAPP_LOG_BASE", (g_dir / "logs").c_str(), 1);
  const std::string session = "bench" + std::to_string(::getpid());
  ::setenv("SERVERAPP_SHM_SESSION", session.c_str(), 1);
  fs::current_path(g_dir);
  fs::create_directories(g_dir / "rez" / "NationMsz");
  fs::copy_file(HOSTLOG_BENCH_MSZ, g_dir / "rez" / "NationMsz" / "MSG_DEFINE_ServerApp_Log.msz");
  std::ofstream(g_dir / "Setting.ini") << "[LogInfo]\nLogLevel=4\n";
  InitHostLogger("BENCHPC", "ServerApp", "7_3", nullptr);
  // The echo goes where a GUI process's standard output goes: nowhere. The
  // report goes to the original standard output.
  const int report_fd = ::dup(1);
  if (report_fd < 0 || !std::freopen("/dev/null", "w", stdout)) return 1;
  std::ofstream report("/proc/self/fd/" + std::to_string(report_fd));

  benchmark::Initialize(&argc, argv);
  benchmark::ConsoleReporter reporter;
  reporter.SetOutputStream(&report);
  reporter.SetErrorStream(&report);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  const std::string guard =
      "/u" + std::to_string(::getuid()) + "." + session + ".serverapp-shm-guard";
  ::shm_unlink(guard.c_str());
  fs::current_path("/");
  fs::remove_all(g_dir);
  return 0;
}

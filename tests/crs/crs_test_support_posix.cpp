// The crash tests' helpers on POSIX: signals, LLDB and Breakpad's tools of
// this build folder.
#include <link.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "crs_test_support.h"

namespace crs_test {

namespace fs = std::filesystem;

namespace {

// LLDB's "thread list" and "thread backtrace all" of dump with program.
std::string Lldb(const fs::path& program, const fs::path& dump) {
  // Libraries are found by the paths the dump records.
  return RunProcess("/usr/bin/lldb",
                    {"--no-lldbinit", "--batch", "-o",
                     "target create \"" + program.string() + "\" --core \"" + dump.string() + "\"",
                     "-o", "thread list", "-o", "thread backtrace all"},
                    dump.parent_path())
      .output;
}

size_t LldbThreadCount(const std::string& lldb_output) {
  static const std::regex kLine("^\\*? +thread #[0-9]+: tid = [0-9]+");
  size_t count = 0;
  std::istringstream in(lldb_output);
  for (std::string line; std::getline(in, line);) count += std::regex_search(line, kLine) ? 1 : 0;
  return count;
}

// One of Breakpad's tools of this build folder, fetched when missing.
std::string BreakpadTool(const std::string& name) {
  static const bool fetched = [] {
    auto result = RunProcess(SERVERAPP_SOURCE_DIR "/scripts/breakpad-tools.sh",
                             {SERVERAPP_BREAKPAD_DIR}, SERVERAPP_SOURCE_DIR);
    if (result.code != 0) ADD_FAILURE() << result.output;
    return true;
  }();
  (void)fetched;
  return SERVERAPP_BREAKPAD_DIR "/bin/linux-x64/" + name;
}

// Breakpad's symbol files for binaries, laid out for minidump_stackwalk.
bool MakeSymbols(const std::vector<fs::path>& binaries, const fs::path& store) {
  for (const auto& binary : binaries) {
    const fs::path sym = store / (binary.filename().string() + ".sym");
    fs::create_directories(store);
    auto result = RunProcess("/bin/sh",
                             {"-c", "\"$0\" \"$1\" > \"$2\" 2>/dev/null", BreakpadTool("dump_syms"),
                              binary.string(), sym.string()},
                             store);
    // The first line: MODULE Linux x86_64 <id> <name>.
    std::istringstream first(ReadFile(sym));
    std::string module, os, arch, id, name;
    first >> module >> os >> arch >> id >> name;
    if (result.code != 0 || module != "MODULE" || id.empty()) {
      ADD_FAILURE() << "dump_syms failed for " << binary << ": " << result.output
                    << " (tools: scripts/breakpad-tools.sh)";
      return false;
    }
    fs::create_directories(store / name / id);
    fs::rename(sym, store / name / id / (name + ".sym"));
  }
  return true;
}

// The runtimes this process (and so its helper programs) runs with: their
// symbols let minidump_stackwalk unwind through them.
std::vector<fs::path> RuntimeLibraries() {
  std::vector<fs::path> found;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        const std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
        // The sanitizers' runtimes too: a waiting thread of a sanitized
        // build sits in their interceptors.
        for (const char* runtime : {"/libc.so", "/libstdc++.so", "/libtsan.so", "/libasan.so"}) {
          std::error_code ec;
          const auto real = fs::canonical(name, ec);  // the name the dump records
          if (name.find(runtime) != std::string::npos && !ec) {
            static_cast<std::vector<fs::path>*>(out)->push_back(real);
          }
        }
        return 0;
      },
      &found);
  return found;
}

}  // namespace

StackwalkReading Stackwalk(const fs::path& dump, const std::vector<fs::path>& binaries) {
  const fs::path store = binaries.front().parent_path() / "symbols";
  std::vector<fs::path> all = RuntimeLibraries();
  all.insert(all.end(), binaries.begin(), binaries.end());
  if (!MakeSymbols(all, store)) return {};
  auto result = RunProcess(BreakpadTool("minidump_stackwalk"),
                           {"-m", dump.string(), store.string()}, dump.parent_path());
  StackwalkReading reading = ParseStackwalk(result.output, result.code == 0);
  if (!reading.ok) ADD_FAILURE() << "minidump_stackwalk failed: " << reading.text;
  return reading;
}

StackwalkReading ExpectReadable(const std::filesystem::path& program,
                                const std::filesystem::path& dump, Fault fault,
                                const std::string& function, bool all_threads) {
  const size_t threads = ReadMinidump(ReadFile(dump)).threads.size();
  // The faulting thread, the parked one, main, and any of a sanitizer's own.
  if (all_threads) {
    EXPECT_LE(2u, threads);
  } else {
    EXPECT_EQ(1u, threads);
  }
  const char* signal = fault == Fault::kAbort ? "SIGABRT" : "SIGSEGV";
  const std::string lldb = Lldb(program, dump);
  EXPECT_EQ(threads, LldbThreadCount(lldb)) << lldb;
  EXPECT_NE(std::string::npos, lldb.find(function)) << lldb;
  EXPECT_EQ(all_threads, lldb.find("CrashTargetParked") != std::string::npos) << lldb;
  EXPECT_NE(std::string::npos, lldb.find(signal)) << lldb;

  const StackwalkReading walk = Stackwalk(dump, {program});
  EXPECT_EQ(0u, walk.crash_reason.find(signal)) << walk.text;
  EXPECT_EQ(threads, walk.threads.size()) << walk.text;
  EXPECT_EQ(0, walk.crashed_thread) << walk.text;
  EXPECT_EQ(0, walk.ThreadWith("ServerApp!" + function)) << walk.text;
  EXPECT_EQ(all_threads, walk.ThreadWith("ServerApp!CrashTargetParked") > 0) << walk.text;
  return walk;
}

bool FaultFromOutside(uint32_t pid) {
  return kill(static_cast<pid_t>(pid), SIGSEGV) == 0;
}

uint32_t WindowThreadOf(uint64_t) {
  return 0;
}

void ExpectHostDumpReadable(const fs::path& program, const fs::path& dump, uint32_t,
                            FaultThread thread) {
  const std::string lldb = Lldb(program, dump);
  EXPECT_NE(std::string::npos, lldb.find("SIGSEGV")) << lldb;
  // The backtraces; LLDB marks the faulting thread's with '*'.
  const size_t all = lldb.find("thread backtrace all");
  const size_t star = lldb.find("* thread #", all);
  ASSERT_NE(std::string::npos, star) << lldb;
  const std::string faulting = lldb.substr(star, lldb.find("\n  thread #", star) - star);
  // Frame 0 is in the module's crash command (the null write itself may be
  // inlined into it).
  const size_t frame0 = faulting.find("frame #0:");
  ASSERT_NE(std::string::npos, frame0) << lldb;
  const std::string frame = faulting.substr(frame0, faulting.find('\n', frame0) - frame0);
  EXPECT_NE(std::string::npos, frame.find("server_d_x64.so`")) << frame;
  EXPECT_NE(std::string::npos, frame.find("servercrash.cpp")) << frame;
  // The console runs its lines on the window thread; the update thread's
  // frames lead back to its loop. The other thread waits in its own place.
  const bool window = thread == FaultThread::kWindowThread;
  EXPECT_EQ(window, faulting.find("RunConsoleString") != std::string::npos) << lldb;
  EXPECT_TRUE(window || faulting.find("ThreadUpdate") != std::string::npos) << lldb;
  const std::string other = window ? "CServerAppDlg::ThreadUpdate" : "CServerAppDlg::DoModal";
  EXPECT_NE(std::string::npos, lldb.find(other, all)) << lldb;

  const StackwalkReading walk = Stackwalk(dump, {program, program.parent_path() / kModuleFile});
  EXPECT_EQ(0u, walk.crash_reason.rfind("SIGSEGV", 0)) << walk.text;
  EXPECT_EQ(0, walk.crashed_thread) << walk.text;
  EXPECT_EQ(0, walk.ThreadWith(std::string(kModuleFile) + "!")) << walk.text;
  EXPECT_LT(0, walk.ThreadWith("ServerApp!" + other)) << walk.text;
  EXPECT_TRUE(walk.Identifies(kHostFile) && walk.Identifies(kModuleFile)) << walk.text;
  const size_t threads = ReadMinidump(ReadFile(dump)).threads.size();
  EXPECT_LE(2u, threads);
  EXPECT_EQ(threads, LldbThreadCount(lldb)) << lldb;
  EXPECT_EQ(threads, walk.threads.size()) << walk.text;
}

}  // namespace crs_test

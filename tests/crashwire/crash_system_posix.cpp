// Crashes on POSIX: signals, /etc/CRS.ini, and LLDB reading the core-style
// dump with the host's executable.
#include <signal.h>
#include <sys/types.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "crash_system.h"
#include "crs_test_support.h"

namespace crashwire {

namespace fs = std::filesystem;
using ::testing::AllOf;
using ::testing::HasSubstr;

bool FaultFromOutside(uint32_t pid) {
  return kill(static_cast<pid_t>(pid), SIGSEGV) == 0;
}

std::filesystem::path SystemCrsIni() {
  return "/etc/CRS.ini";
}

uint32_t WindowThreadOf(uint64_t) {
  return 0;
}

namespace {

// LLDB's "thread backtrace all" cut per thread: the faulting thread's
// frames (marked '*') and those of the others.
void SplitThreads(const std::string& lldb, std::string* faulting, std::string* others) {
  const size_t all = lldb.find("thread backtrace all");
  std::istringstream in(all == std::string::npos ? std::string() : lldb.substr(all));
  std::string* into = nullptr;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("* thread #", 0) == 0) {
      into = faulting;
    } else if (line.rfind("  thread #", 0) == 0) {
      into = others;
    }
    if (into != nullptr) *into += line + "\n";
  }
}

}  // namespace

void ExpectReadable(const fs::path& program, const fs::path& dump, uint32_t, FaultThread thread) {
  const std::string lldb = crs_test::Lldb(program, dump);
  EXPECT_NE(std::string::npos, lldb.find("SIGSEGV")) << lldb;
  std::string faulting, others;
  SplitThreads(lldb, &faulting, &others);
  // Frame 0 is in the module's crash command (the null write itself may be
  // inlined into it).
  const size_t frame0 = faulting.find("frame #0:");
  ASSERT_NE(std::string::npos, frame0) << lldb;
  EXPECT_THAT(faulting.substr(frame0, faulting.find('\n', frame0) - frame0),
              AllOf(HasSubstr("server_d_x64.so`"), HasSubstr("servercrash.cpp")));
  // The console runs its lines on the window thread; the update thread's
  // frames lead back to the host's update loop instead. The other one waits
  // in its own place.
  const bool window = thread == FaultThread::kWindowThread;
  EXPECT_EQ(window, faulting.find("RunConsoleString") != std::string::npos) << lldb;
  EXPECT_TRUE(window || faulting.find("ThreadUpdate") != std::string::npos) << lldb;
  const std::string other = window ? "CServerAppDlg::ThreadUpdate" : "CServerAppDlg::DoModal";
  EXPECT_NE(std::string::npos, others.find(other)) << lldb;

  const crs_test::StackwalkReading walk =
      crs_test::Stackwalk(dump, {program, program.parent_path() / kModuleFile});
  EXPECT_EQ(0u, walk.crash_reason.rfind("SIGSEGV", 0)) << walk.text;
  EXPECT_EQ(0, walk.crashed_thread) << walk.text;
  EXPECT_EQ(0, walk.ThreadWith(std::string(kModuleFile) + "!")) << walk.text;
  EXPECT_LT(0, walk.ThreadWith("ServerApp!" + other)) << walk.text;
  EXPECT_TRUE(walk.Identifies(kHostFile) && walk.Identifies(kModuleFile)) << walk.text;
  const size_t threads = crs_test::ReadMinidump(crs_test::ReadFile(dump)).threads.size();
  EXPECT_LE(2u, threads);
  EXPECT_EQ(threads, crs_test::LldbThreadCount(lldb)) << lldb;
  EXPECT_EQ(threads, walk.threads.size()) << walk.text;
}

}  // namespace crashwire

// Crashes on POSIX: signals, /etc/CRS.ini, and LLDB reading the core-style
// dump with the host's executable.
#include <signal.h>
#include <sys/types.h>

#include <sstream>

#include "crash_system.h"
#include "crs_test_support.h"

namespace crashwire {

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

DumpReading ReadDump(const std::filesystem::path& program, const std::filesystem::path& dump,
                     uint32_t) {
  DumpReading reading;
  const std::string lldb = crs_test::Lldb(program, dump);
  reading.read = lldb.find("SIGSEGV") != std::string::npos;
  std::string faulting, others;
  SplitThreads(lldb, &faulting, &others);
  // Frame 0 is in the module's crash command (the null write itself may be
  // inlined into it).
  const size_t frame0 = faulting.find("frame #0:");
  if (frame0 != std::string::npos) {
    const std::string top = faulting.substr(frame0, faulting.find('\n', frame0) - frame0);
    reading.fault_in_module = top.find("server_d_x64.so`") != std::string::npos &&
                              top.find("servercrash.cpp") != std::string::npos;
  }
  // The console runs its lines on the window thread; the update thread's
  // frames lead back to the host's update loop instead. The other one waits
  // in its own place.
  std::string other_place;
  if (faulting.find("RunConsoleString") != std::string::npos) {
    reading.thread = FaultThread::kWindowThread;
    other_place = "CServerAppDlg::ThreadUpdate";
  } else if (faulting.find("ThreadUpdate") != std::string::npos) {
    reading.thread = FaultThread::kOtherThread;
    other_place = "CServerAppDlg::DoModal";
  }

  const crs_test::StackwalkReading walk =
      crs_test::Stackwalk(dump, {program, program.parent_path() / kModuleFile});
  reading.read = reading.read && walk.crash_reason.rfind("SIGSEGV", 0) == 0;
  reading.fault_in_module = reading.fault_in_module && walk.crashed_thread == 0 &&
                            walk.ThreadWith(std::string(kModuleFile) + "!") == 0;
  reading.names_build = walk.ok && walk.Identifies(kHostFile) && walk.Identifies(kModuleFile);
  const size_t listed = crs_test::MinidumpThreadCount(crs_test::ReadWhole(dump));
  if (crs_test::LldbThreadCount(lldb) == listed && walk.threads.size() == listed) {
    reading.threads = listed;
  }
  const int other = other_place.empty() ? -1 : walk.ThreadWith("ServerApp!" + other_place);
  reading.other_thread_seen =
      !other_place.empty() && others.find(other_place) != std::string::npos && other > 0;
  reading.text = lldb + "\n" + walk.text + "\nthreads: dump " + std::to_string(listed) + ", lldb " +
                 std::to_string(crs_test::LldbThreadCount(lldb)) + ", stackwalk " +
                 std::to_string(walk.threads.size());
  return reading;
}

}  // namespace crashwire

// The child program of the process tests: what it does is chosen by its
// first argument.
//   report ARGS...   prints each argument on a line of its own, then the
//                    current folder and PROCESS_TEST_VAR; "no newline" on
//                    stderr; exit code 7
//   cmdline ARGS...  prints the command line as the dialog's title shows it
//   echo             copies stdin lines to stdout until end of input
//   sleep            sleeps for a minute, with no stop handling of its own
//   listen           waits for a stop request: exit 0 for Terminate, 1 for
//                    Interrupt, 2 after a minute
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/dialog.h"
#if defined(_WIN32)
#include "stop_request_win32.h"
#else
#include <signal.h>
#endif

namespace {

int AwaitStopRequest() {
#if defined(_WIN32)
  using platform::win32::StopKind;
  HANDLE events[2] = {platform::win32::CreateStopRequestEvent(StopKind::kTerminate),
                      platform::win32::CreateStopRequestEvent(StopKind::kInterrupt)};
  std::printf("listening\n");
  std::fflush(stdout);
  const DWORD which = WaitForMultipleObjects(2, events, FALSE, 60000);
  return which == WAIT_OBJECT_0 ? 0 : which == WAIT_OBJECT_0 + 1 ? 1 : 2;
#else
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigprocmask(SIG_BLOCK, &stop, nullptr);
  std::printf("listening\n");
  std::fflush(stdout);
  const timespec minute{60, 0};
  const int which = sigtimedwait(&stop, nullptr, &minute);
  return which == SIGTERM ? 0 : which == SIGINT ? 1 : 2;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "report") {
    for (int i = 2; i < argc; ++i) std::printf("%s\n", argv[i]);
    const char* value = std::getenv("PROCESS_TEST_VAR");
    std::printf("%s\n%s\n", std::filesystem::current_path().string().c_str(),
                value ? value : "<unset>");
    std::fprintf(stderr, "no newline");
    return 7;
  }
  if (mode == "cmdline") {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::printf("%s\n", platform::CommandLineText(args).c_str());
    return 0;
  }
  if (mode == "echo") {
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
      std::fputs(line, stdout);
      std::fflush(stdout);
    }
    return 0;
  }
  if (mode == "sleep") {
    std::this_thread::sleep_for(std::chrono::minutes(1));
    return 0;
  }
  if (mode == "listen") return AwaitStopRequest();
  std::fprintf(stderr, "unknown mode\n");
  return 3;
}

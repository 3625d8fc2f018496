// The child program of the Win32 process tests: what it does is chosen by
// its first argument.
//   args ...       prints each further argument on a line of its own
//   env NAME       prints the value of NAME, or "<unset>"
//   cmdline ...    prints the command line as the dialog's title shows it
//   echo           copies stdin lines to stdout until end of input
//   sleep          sleeps for a minute (stopped only by TerminateProcess)
//   listen         waits for a stop request: exit 0 for Terminate, 1 for
//                  Interrupt, 2 after a minute
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/dialog.h"
#include "stop_request_win32.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "args") {
    for (int i = 2; i < argc; ++i) std::printf("%s\n", argv[i]);
    return 0;
  }
  if (mode == "cmdline") {
    std::printf("%s\n", platform::CommandLineText({}).c_str());
    return 0;
  }
  if (mode == "env" && argc > 2) {
    const char* value = std::getenv(argv[2]);
    std::printf("%s\n", value ? value : "<unset>");
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
    Sleep(60000);
    return 0;
  }
  if (mode == "listen") {
    HANDLE events[2] = {
        platform::win32::CreateStopRequestEvent(platform::win32::StopKind::kTerminate),
        platform::win32::CreateStopRequestEvent(platform::win32::StopKind::kInterrupt)};
    std::printf("listening\n");
    std::fflush(stdout);
    const DWORD which = WaitForMultipleObjects(2, events, FALSE, 60000);
    return which == WAIT_OBJECT_0 ? 0 : which == WAIT_OBJECT_0 + 1 ? 1 : 2;
  }
  std::fprintf(stderr, "unknown mode\n");
  return 3;
}

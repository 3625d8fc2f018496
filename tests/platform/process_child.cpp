// The child program of the process tests: what it does is chosen by its
// first argument.
//   report ARGS...   prints each argument on a line of its own, then the
//                    current folder and PROCESS_TEST_VAR; "no newline" on
//                    stderr; exit code 7
//   cmdline ARGS...  prints the command line as the dialog's title shows it
//   echo             copies stdin lines to stdout until end of input
//   sleep            sleeps for a minute, with no stop handling of its own
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/dialog.h"

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
  std::fprintf(stderr, "unknown mode\n");
  return 3;
}

// Appending trace lines.
#include "servertrace.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <thread>

#if !defined(_WIN32)
#include <signal.h>
#endif

#include "interface/serverapphandler.h"
#include "serverswitches.h"

#include "platform/files.h"
#include "platform/thread.h"

namespace refmod {

void ServerTrace::Line(const char* format, ...) const {
  if (file_.empty()) return;
  char text[1024];
  int head = std::snprintf(text, sizeof(text), "%u ", platform::TimeGetTime());
  va_list args;
  va_start(args, format);
  int body = std::vsnprintf(text + head, sizeof(text) - head - 1, format, args);
  va_end(args);
  size_t length = static_cast<size_t>(head) + (body < 0 ? 0 : static_cast<size_t>(body));
  if (length > sizeof(text) - 2) length = sizeof(text) - 2;
  text[length++] = '\n';
  platform::FileHandle file = platform::OpenForAppend(file_.c_str());
  if (file == platform::kInvalidFile) return;
  platform::WriteToFile(file, text, length);
  platform::CloseFile(file);
}

void HangForGood(int32_t mode, ServerAppHandler* handler) {
  if (mode == kHangLogs) {
    // A module that prints a line in pieces holds the stream meanwhile; this
    // one is stopped with it held, and very likely inside a host log line too.
#if defined(_WIN32)
    _lock_file(stdout);
#else
    flockfile(stdout);
#endif
  }
#if !defined(_WIN32)
  if (mode == kHangBlocksSignals) {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
  }
#endif
  // The loops sleep so that they cost no processor time.
  for (unsigned long n = 0;; ++n) {
    if (mode == kHangLogs && handler != nullptr) {
      char line[64];
      std::snprintf(line, sizeof(line), "reference module: still hung (%lu)\n", n);
      handler->WriteLog(0, 4, line);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
}

}  // namespace refmod

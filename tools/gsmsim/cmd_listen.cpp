// gsmsim listen [--seconds N]: a window that prints its handle, then one
// JSON line per message it receives; sends are answered with 1. Ends on
// SIGTERM or SIGINT, or after N seconds.
#include <signal.h>
#include <time.h>

#include <chrono>
#include <mutex>
#include <ostream>

#include "cli_args.h"
#include "commands.h"

namespace gsmsim {

int RunListen(std::span<const std::string> args, CommandIo& io) {
  std::optional<uint64_t> seconds;
  if (args.size() == 2 && args[0] == "--seconds") {
    seconds = ParseUnsigned(args[1], 10u * 365 * 24 * 3600);
    if (!seconds) {
      io.err << "gsmsim listen: --seconds needs a number of seconds\n";
      return kExitUsage;
    }
  } else if (!args.empty()) {
    io.err << "gsmsim listen: expected [--seconds N]\n";
    return kExitUsage;
  }

  // Block the stop signals before the window thread starts, so that it
  // inherits the mask and only this thread takes them, with sigtimedwait.
  sigset_t stop, previous;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, &previous);

  std::string error;
  auto peer = ManagerPeer::Start({.keep_records = false}, &error);
  if (!peer) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    io.err << "gsmsim listen: " << error << '\n';
    return kExitFailed;
  }
  // The hook is in place before anyone can know the handle, and it waits
  // for the handle line: no message is lost or printed ahead of it.
  std::mutex out_mutex;
  {
    std::lock_guard lock(out_mutex);
    peer->SetOnMessage([&](const ReceivedMessage& message) {
      std::lock_guard hook_lock(out_mutex);
      io.out << JsonLine(message) << std::endl;
    });
    io.out << peer->handle() << std::endl;
  }

  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(seconds.value_or(0));
  for (;;) {
    timespec slice{0, 100 * 1000 * 1000};
    if (sigtimedwait(&stop, nullptr, &slice) > 0) break;
    if (seconds && std::chrono::steady_clock::now() >= deadline) break;
  }
  peer.reset();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return kExitOk;
}

}  // namespace gsmsim

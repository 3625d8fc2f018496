// gsmsim listen [--seconds N]: a window that prints its handle, then one
// JSON line per message it receives; sends are answered with 1. Ends on
// a stop request (SIGTERM, SIGINT, Ctrl-C), or after N seconds.
#include <chrono>
#include <mutex>
#include <ostream>

#include "cli_args.h"
#include "commands.h"
#include "stop_requests.h"

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

  // Before the window thread starts: only this thread takes the stops.
  StopRequests stop;

  std::string error;
  auto peer = ManagerPeer::Start({.keep_records = false}, &error);
  if (!peer) {
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
    if (stop.Sleep(100)) break;
    if (seconds && std::chrono::steady_clock::now() >= deadline) break;
  }
  peer.reset();
  return kExitOk;
}

}  // namespace gsmsim

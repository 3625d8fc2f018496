// gsmsim post HANDLE MSG WPARAM LPARAM: one PostMessage; exit 0 when posted.
#include <ostream>

#include "cli_args.h"
#include "commands.h"
#include "platform/window.h"

namespace gsmsim {

int RunPost(std::span<const std::string> args, CommandIo& io) {
  if (args.size() != 4) {
    io.err << "gsmsim post: expected HANDLE MSG WPARAM LPARAM\n";
    return kExitUsage;
  }
  const auto handle = ParseHandle(args[0]);
  const auto msg = ParseUnsigned(args[1], UINT32_MAX);
  const auto w_param = ParseUnsigned(args[2]);
  const auto l_param = ParseSigned(args[3]);
  if (!handle || !msg || !w_param || !l_param) {
    io.err << "gsmsim post: bad "
           << (!handle    ? "HANDLE (1 to 2147483647)"
               : !msg     ? "MSG (32-bit number)"
               : !w_param ? "WPARAM (unsigned 64-bit number)"
                          : "LPARAM (signed 64-bit number)")
           << '\n';
    return kExitUsage;
  }
  if (!platform::PostMessage(*handle, *msg, *w_param, *l_param)) {
    io.err << "gsmsim post: PostMessage to " << *handle << " failed ("
           << (*msg == platform::kWmCopyData ? "WM_COPYDATA must be sent"
               : platform::IsWindow(*handle) ? "its queue is full"
                                             : "no such window")
           << ")\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace gsmsim

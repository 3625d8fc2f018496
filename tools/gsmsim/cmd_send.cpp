// gsmsim send HANDLE DWDATA (--hex HEX | --file PATH): one WM_COPYDATA from
// the tool's own window; prints the handler's result.
#include <fstream>
#include <iterator>
#include <ostream>

#include "cli_args.h"
#include "commands.h"
#include "platform/window.h"

namespace gsmsim {
namespace {

// Far above the largest record; what the socket buffers allow is lower.
constexpr std::streamoff kMaxFileSize = 64 << 20;

std::optional<std::vector<std::byte>> ReadPayloadFile(const std::string& path, CommandIo& io) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) {
    io.err << "gsmsim send: cannot open " << path << '\n';
    return std::nullopt;
  }
  const std::streamoff size = file.tellg();
  if (size < 0 || size > kMaxFileSize) {
    io.err << "gsmsim send: " << path << " is larger than " << kMaxFileSize << " bytes\n";
    return std::nullopt;
  }
  std::vector<std::byte> bytes(static_cast<size_t>(size));
  file.seekg(0);
  if (!file.read(reinterpret_cast<char*>(bytes.data()), size)) {
    io.err << "gsmsim send: cannot read " << path << '\n';
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

int RunSend(std::span<const std::string> args, CommandIo& io) {
  if (args.size() != 4 || (args[2] != "--hex" && args[2] != "--file")) {
    io.err << "gsmsim send: expected HANDLE DWDATA (--hex HEX | --file PATH)\n";
    return kExitUsage;
  }
  const auto handle = ParseHandle(args[0]);
  const auto dw_data = ParseUnsigned(args[1]);
  if (!handle || !dw_data) {
    io.err << "gsmsim send: bad " << (!handle ? "HANDLE (1 to 2147483647)" : "DWDATA") << '\n';
    return kExitUsage;
  }
  std::optional<std::vector<std::byte>> payload;
  if (args[2] == "--hex") {
    payload = ParseHex(args[3]);
    if (!payload) io.err << "gsmsim send: HEX must be pairs of hex digits\n";
  } else {
    payload = ReadPayloadFile(args[3], io);
  }
  if (!payload) return kExitUsage;

  std::string error;
  auto peer = ManagerPeer::Start({.keep_records = false, .allow_memory_access = false}, &error);
  if (!peer) {
    io.err << "gsmsim send: " << error << '\n';
    return kExitFailed;
  }
  platform::LResult result = 0;
  const bool answered =
      platform::SendCopyDataChecked(*handle, peer->handle(), *dw_data, *payload, &result);
  io.out << result << std::endl;
  if (!answered) {
    io.err << "gsmsim send: no answer from window " << *handle << " (no such window, or it "
           << "closed before answering)\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace gsmsim

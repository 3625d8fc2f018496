#include "commands.h"

#include <ostream>

namespace gsmsim {

std::span<const Command> Commands() {
  static const Command kCommands[] = {
      {"listen", "[--seconds N]", RunListen},
      {"post", "HANDLE MSG WPARAM LPARAM", RunPost},
      {"send", "HANDLE DWDATA (--hex HEX | --file PATH)", RunSend},
      {"run",
       "[--rooms N] [--dist DIR] [--seconds S] [--json] [--scenario FILE|demo] "
       "[--heartbeat MS] [--port-base P] [--group G] [--work DIR] [--keep] [--host-output]",
       RunRun},
  };
  return kCommands;
}

namespace {
void PrintUsage(std::ostream& err) {
  err << "usage:\n";
  for (const Command& command : Commands()) {
    err << "  gsmsim " << command.name << ' ' << command.usage << '\n';
  }
  err << "Numbers are decimal or 0x-hexadecimal.\n";
}
}  // namespace

int GsmsimMain(std::span<const std::string> args, CommandIo& io) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    PrintUsage(io.err);
    return args.empty() ? kExitUsage : kExitOk;
  }
  for (const Command& command : Commands()) {
    if (command.name == args[0]) return command.run(args.subspan(1), io);
  }
  io.err << "gsmsim: unknown command \"" << args[0] << "\"\n";
  PrintUsage(io.err);
  return kExitUsage;
}

}  // namespace gsmsim

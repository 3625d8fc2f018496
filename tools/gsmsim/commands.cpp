#include "commands.h"

#include <algorithm>
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

constexpr std::string_view kNumbers = "Numbers are decimal or 0x-hexadecimal.\n";

void PrintUsage(std::ostream& os) {
  os << "usage:\n";
  for (const Command& command : Commands()) {
    os << "  gsmsim " << command.name << ' ' << command.usage << '\n';
  }
  os << kNumbers;
}

bool IsHelp(const std::string& arg) {
  return arg == "--help" || arg == "-h";
}

}  // namespace

int GsmsimMain(std::span<const std::string> args, CommandIo& io) {
  if (args.empty()) {
    PrintUsage(io.err);
    return kExitUsage;
  }
  if (IsHelp(args[0])) {
    PrintUsage(io.out);
    return kExitOk;
  }
  for (const Command& command : Commands()) {
    if (command.name != args[0]) continue;
    // Asked anywhere after the command, so that a half-typed command line
    // can still ask; no value of any option is spelt like that.
    const auto rest = args.subspan(1);
    if (std::any_of(rest.begin(), rest.end(), IsHelp)) {
      io.out << "usage: gsmsim " << command.name << ' ' << command.usage << '\n' << kNumbers;
      return kExitOk;
    }
    return command.run(rest, io);
  }
  io.err << "gsmsim: unknown command \"" << args[0] << "\"\n";
  PrintUsage(io.err);
  return kExitUsage;
}

}  // namespace gsmsim

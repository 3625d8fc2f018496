// gsmsim run --rooms N [--dist DIR] [--seconds S] [--json] [--scenario FILE|demo]
//            [--heartbeat MS] [--port-base P] [--group G] [--work DIR] [--keep]
//            [--host-output]
#include <iostream>
#include <ostream>

#include "cli_args.h"
#include "commands.h"
#include "room_runner.h"

namespace gsmsim {

int RunRun(std::span<const std::string> args, CommandIo& io) {
  RunOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& flag = args[i];
    const bool has_value = i + 1 < args.size();
    auto number = [&](uint64_t max) -> std::optional<uint64_t> {
      return has_value ? ParseUnsigned(args[++i], max) : std::nullopt;
    };
    if (flag == "--json") {
      options.json = true;
    } else if (flag == "--keep") {
      options.keep = true;
    } else if (flag == "--host-output") {
      options.host_output = true;
    } else if (flag == "--dist" && has_value) {
      options.dist = args[++i];
    } else if (flag == "--work" && has_value) {
      options.work = args[++i];
    } else if (flag == "--scenario" && has_value) {
      options.scenario = args[++i];
    } else if (flag == "--rooms") {
      const auto n = number(200);
      if (!n || *n == 0) {
        io.err << "gsmsim run: --rooms needs 1 to 200 (server indexes 0 to 199)\n";
        return kExitUsage;
      }
      options.rooms = static_cast<int>(*n);
    } else if (flag == "--seconds") {
      const auto n = number(24u * 3600);
      if (!n) {
        io.err << "gsmsim run: --seconds needs 0 to 86400\n";
        return kExitUsage;
      }
      options.seconds = static_cast<double>(*n);
    } else if (flag == "--heartbeat") {
      const auto n = number(3600u * 1000);
      if (!n) {
        io.err << "gsmsim run: --heartbeat needs milliseconds (0: none)\n";
        return kExitUsage;
      }
      options.heartbeat_ms = static_cast<uint32_t>(*n);
    } else if (flag == "--port-base") {
      const auto n = number(65535);
      if (!n) {
        io.err << "gsmsim run: --port-base needs 0 to 65535\n";
        return kExitUsage;
      }
      options.port_base = static_cast<uint32_t>(*n);
    } else if (flag == "--group") {
      const auto n = number(UINT32_MAX);
      if (!n) {
        io.err << "gsmsim run: --group needs a number\n";
        return kExitUsage;
      }
      options.group = static_cast<uint32_t>(*n);
    } else {
      io.err << "gsmsim run: unknown or incomplete option \"" << flag << "\"\n";
      return kExitUsage;
    }
  }
  if (options.port_base + options.rooms - 1 > 65535) {
    io.err << "gsmsim run: ports above 65535\n";
    return kExitUsage;
  }
  return RunRooms(options, io.out, io.err);
}

}  // namespace gsmsim

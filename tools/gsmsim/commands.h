// gsmsim's sub-commands. Each lives in a file of its own (cmd_<name>.cpp)
// and is listed once in commands.cpp; main() only picks one by name.
#pragma once

#include <iosfwd>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gsmsim {

// Exit statuses shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // the operation was refused or found no peer
inline constexpr int kExitUsage = 2;   // bad command line or input file

struct CommandIo {
  std::ostream& out;
  std::ostream& err;
};

struct Command {
  std::string_view name;
  std::string_view usage;  // the arguments after the name, for the help text
  int (*run)(std::span<const std::string> args, CommandIo& io);
};

std::span<const Command> Commands();

int RunListen(std::span<const std::string> args, CommandIo& io);
int RunPost(std::span<const std::string> args, CommandIo& io);
int RunSend(std::span<const std::string> args, CommandIo& io);
int RunRun(std::span<const std::string> args, CommandIo& io);

// Picks the command named by args[0] and runs it with the rest.
int GsmsimMain(std::span<const std::string> args, CommandIo& io);

}  // namespace gsmsim

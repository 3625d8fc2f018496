// Console commands of the reference server. Each answers its lines through
// the host's handler, so that the host shows them in its console result
// list while the command runs.
#include <cstdio>
#include <string>

#include "server.h"

namespace refmod {
namespace {

std::string Trim(const std::string& text) {
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

int32_t CReferenceServer::RunConsoleString(const char* pszCommand) {
  std::string line = Trim(pszCommand != nullptr ? pszCommand : "");
  trace_.Line("RunConsoleString %s", line.c_str());
  size_t space = line.find_first_of(" \t");
  std::string command = line.substr(0, space);
  std::string argument = space == std::string::npos ? std::string() : Trim(line.substr(space));
  int32_t result = RunCommand(command, argument);
  return switches_.console_result >= 0 ? switches_.console_result : result;
}

int32_t CReferenceServer::RunCommand(const std::string& command, const std::string& argument) {
  if (command == "help") {
    Say("help        this list");
    Say("status      the room's state");
    Say("log TEXT    writes TEXT into the host's log");
    return 0;
  }
  if (command == "status") {
    char text[256];
    std::snprintf(text, sizeof(text), "status: %s, users %d, port %d, group %u, index %d",
                  preparing_left_ > 0 ? "preparing" : "ready", users_.load(), port_, group_,
                  server_index_);
    Say(text);
    std::snprintf(text, sizeof(text), "messages %u, packages %zu, manager %s", messages_,
                  rez_files_.size(), manager_handle_.c_str());
    Say(text);
    return 0;
  }
  if (command == "log") {
    if (argument.empty()) {
      Say("log: TEXT missing");
      return 1;
    }
    Say(argument);
    return 0;
  }
  Say("unknown command: " + command + " (try help)");
  return 1;
}

}  // namespace refmod

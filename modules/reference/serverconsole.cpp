// Console commands of the reference server. Each answers its lines through
// the host's handler, so that the host shows them in its console result
// list while the command runs.
#include <cstdio>
#include <string>

#include "moduledatabase.h"
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
    Say("emit NAME [field=value ...]   sends the host a module message (emit alone: the list)");
    Say("crash null|update|stack|abort   faults on purpose");
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
    SayStatus();
    return 0;
  }
  if (command == "emit") return RunEmit(argument);
  if (command == "crash") return RunCrash(argument);
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

// The room beyond the first two lines: packages, map, game information,
// users by slot and the last messages received.
void CReferenceServer::SayStatus() {
  for (size_t i = 0; i < rez_files_.size(); ++i) {
    Say("package " + std::to_string(i) + ": " + rez_files_[i]);
  }
  RoomState room;
  {
    std::lock_guard<std::mutex> lock(room_lock_);
    room = room_;
  }
  char text[512];
  std::snprintf(text, sizeof(text),
                "map %d, round type %u, match type %u, map inits %u, flags load=%d second=%d "
                "additional=%d",
                room.map_index, room.round_type, room.match_type, room.map_inits,
                room.load_flag ? 1 : 0, room.second_flag ? 1 : 0, room.additional_flag ? 1 : 0);
  Say(text);
  std::snprintf(text, sizeof(text),
                "game infos %u (last %u bits, first %u), resets %u, log serial %s", room.game_infos,
                room.game_info_bits, room.game_info_first, room.resets,
                room.log_serial.empty() ? "-" : room.log_serial.c_str());
  Say(text);
  bool any = false;
  for (int slot = 0; slot < RoomState::kSlots; ++slot) {
    if (!room.slot_used[slot]) continue;
    std::snprintf(text, sizeof(text), "slot %d: usn %lld", slot,
                  static_cast<long long>(room.slot_usn[slot]));
    Say(text);
    any = true;
  }
  if (!any) Say("no users");
  for (const std::string& line : ModuleLTCommon().DescribeReceived()) Say("received " + line);
}

}  // namespace refmod

// Reading the reference module's switches.
#include "serverswitches.h"

#include <cstdlib>

#include "platform/settings.h"

namespace refmod {
namespace {

constexpr const char* kSection = "Module";

int32_t ReadInt(const char* key, int32_t fallback, const char* file) {
  return static_cast<int32_t>(platform::GetPrivateProfileInt(kSection, key, fallback, file));
}

bool ReadBool(const char* key, bool fallback, const char* file) {
  return ReadInt(key, fallback ? 1 : 0, file) != 0;
}

}  // namespace

std::vector<int32_t> ParseProbeResults(const std::string& text) {
  std::vector<int32_t> results;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!item.empty())
      results.push_back(static_cast<int32_t>(std::strtol(item.c_str(), nullptr, 10)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (results.empty()) results.push_back(0);
  return results;
}

ServerSwitches ReadServerSwitches(const char* ini_file) {
  ServerSwitches s;
  s.create_status = ReadInt("CreateStatus", s.create_status, ini_file);
  s.create_null = ReadBool("CreateNull", s.create_null, ini_file);
  s.set_handler_result = ReadInt("SetAppHandlerResult", s.set_handler_result, ini_file);
  s.rez_list_result = ReadBool("SetRezFileListResult", s.rez_list_result, ini_file);
  s.initialize_result = ReadBool("InitializeResult", s.initialize_result, ini_file);
  s.open_network_result = ReadBool("OpenNetworkResult", s.open_network_result, ini_file);
  s.list_services_result = ReadBool("ListServicesResult", s.list_services_result, ini_file);
  s.service_count = ReadInt("ServiceCount", s.service_count, ini_file);
  s.selected_service = ReadInt("SelectedService", s.selected_service, ini_file);
  s.use_service_result = ReadBool("UseServiceResult", s.use_service_result, ini_file);
  char text[256] = {};
  platform::GetPrivateProfileString(kSection, "ProbeResults", "0", text, sizeof(text), ini_file);
  s.probe_results = ParseProbeResults(text);
  s.preparing_updates = ReadInt("PreparingUpdates", s.preparing_updates, ini_file);
  s.hang_in_is_preparing = ReadInt("HangInIsPreparing", s.hang_in_is_preparing, ini_file);
  s.hang_mode = ReadInt("HangMode", s.hang_mode, ini_file);
  s.console_result = ReadInt("ConsoleResult", s.console_result, ini_file);
  char trace[512] = {};
  platform::GetPrivateProfileString(kSection, "TraceFile", "", trace, sizeof(trace), ini_file);
  s.trace_file = trace;
  s.room_answers = ReadBool("RoomAnswers", s.room_answers, ini_file);
  s.loading_fail_reason = ReadInt("LoadingFailReason", s.loading_fail_reason, ini_file);
  s.addclient_id_kind = ReadInt("AddClientIdKind", s.addclient_id_kind, ini_file);
  if (s.service_count < 0) s.service_count = 0;
  if (s.service_count > 64) s.service_count = 64;  // a list, not a memory test
  return s;
}

}  // namespace refmod

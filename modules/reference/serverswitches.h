// Switches of the reference module: how each operation answers, so that a
// test can drive the host down any path. Read from ".\ReferenceModule.ini",
// section "Module", when the server object is created; every key is
// optional and its default is the answer of a healthy module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace refmod {

struct ServerSwitches {
  int32_t create_status = 0;              // CreateStatus: CreateServer's status
  bool create_null = false;               // CreateNull: status 0 but no object
  int32_t set_handler_result = 0;         // SetAppHandlerResult (attach only)
  bool rez_list_result = true;            // SetRezFileListResult
  bool initialize_result = true;          // InitializeResult
  bool open_network_result = true;        // OpenNetworkResult
  bool list_services_result = true;       // ListServicesResult
  int32_t service_count = 2;              // ServiceCount: nodes in the list (0: empty)
  int32_t selected_service = 1;           // SelectedService: 1-based node with the flag, 0: none
  bool use_service_result = true;         // UseServiceResult
  std::vector<int32_t> probe_results{0};  // ProbeResults "7,80": one per call, the last repeats
  int32_t preparing_updates = 3;          // PreparingUpdates: IsPreparing answers true this often
  int32_t hang_in_is_preparing =
      0;                  // HangInIsPreparing: this call (1 = the first) never returns; 0: none
  int32_t hang_mode = 0;  // HangMode: how that call hangs, one of kHang* below
  int32_t console_result = -1;      // ConsoleResult: forced result of every command; -1: natural
  std::string trace_file;           // TraceFile: one line per call into the module, "" = none
  bool room_answers = true;         // RoomAnswers: 0: the room answers nothing on its own
  int32_t loading_fail_reason = 0;  // LoadingFailReason: non-zero: a map init is answered
                                    // with SERVERAPPMSG_LOADING_FAILED and this reason
  int32_t addclient_id_kind = 3;    // AddClientIdKind: id kind of the room's ADDCLIENT answers
};

// Values of HangMode.
inline constexpr int32_t kHangSleeps = 0;         // sleeps in a loop
inline constexpr int32_t kHangLogs = 1;           // holds the standard output's stream and
                                                  // writes a host log line every 20 ms
inline constexpr int32_t kHangBlocksSignals = 2;  // sleeps with every signal blocked (POSIX)

// Reads the switches from `ini_file` (".\ReferenceModule.ini" unless a test
// says otherwise). A missing file or key keeps the default; a malformed
// ProbeResults entry is read as 0 up to the first bad character.
ServerSwitches ReadServerSwitches(const char* ini_file);

// Parses "7,80" into {7, 80}; empty text gives {0}.
std::vector<int32_t> ParseProbeResults(const std::string& text);

}  // namespace refmod

// Scenarios: line-based scripts of manager actions and expectations that
// `gsmsim run --scenario FILE` plays against its rooms. The format is in
// docs/gsmsim.md; in short, one step per line, '#' starts a comment:
//
//   heartbeat                       load-map MAP ROUND MATCH
//   start-host copy|address [F=V]   insert-character copy|address [F=V]
//   disconnect copy|address USN     log-serial TEXT
//   address-table [F=V]             ucc-map-load MAP ROUND MATCH PACKAGE
//   reset                           terminate
//   send NAME copy|address [F=V]    post NAME|ID [LPARAM]
//   console TEXT                    wait MS
//   room N|all                      ini FILE SECTION KEY VALUE
//   expect NAME|ID [within MS] [FIELD=VALUE ...]
//
// Parsing checks everything that can be checked before a host runs: names,
// numbers, record fields and values; each error names its line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "outgoing.h"

namespace gsmsim {

struct ScenarioStep {
  enum class Kind {
    kPost,     // a posted manager message (msg_id, l_param)
    kRecord,   // a record by copy data, or by address (by_address)
    kConsole,  // a line on the hosts' console input
    kWait,     // wait_ms
    kExpect,   // expect_name within wait_ms, with field checks
    kRoom,     // room: the rooms the next steps address; -1 all
  };
  Kind kind = Kind::kPost;
  int line = 0;      // 1-based line in the file
  std::string text;  // the source line, trimmed, for the output

  uint16_t msg_id = 0;
  int64_t l_param = 0;
  bool by_address = false;
  OutgoingRecord record;
  std::string console;
  uint32_t wait_ms = 0;
  std::string expect_name;
  std::vector<std::pair<std::string, std::string>> checks;  // field, expected value
  int room = -1;
};

// A change to a room's ini file, made before the hosts start.
struct IniSetting {
  std::string file;  // a plain file name in the room's folder
  std::string section;
  std::string key;
  std::string value;
};

struct Scenario {
  std::vector<ScenarioStep> steps;
  std::vector<IniSetting> ini;
  bool uses_console = false;
};

// Default time-out of an `expect` line, in milliseconds.
inline constexpr uint32_t kDefaultExpectMs = 5000;

// Splits a line into words: spaces separate, double quotes group (inside
// them \" and \\ escape). Nothing for an unterminated quote.
std::optional<std::vector<std::string>> SplitWords(std::string_view line);

// Replaces ${NAME} with the environment variable's value. An unset variable
// is an error (a scenario should not run with a silently empty value).
std::optional<std::string> ExpandVariables(std::string_view line, std::string* error);

// Parses a scenario. Nothing and "line N: reason" in *error on the first bad
// line.
std::optional<Scenario> ParseScenario(std::string_view text, std::string* error);

// Reads and parses a file.
std::optional<Scenario> LoadScenario(const std::string& path, std::string* error);

// The demo scenario shipped with gsmsim (scenarios/demo.gsm), built in so
// that `--scenario demo` works from any folder.
std::string_view DemoScenarioText();

}  // namespace gsmsim

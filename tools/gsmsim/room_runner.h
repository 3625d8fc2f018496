// `gsmsim run`: hosts N rooms from a deployment folder with one manager
// window, heartbeats them, prints what they send (decoded), plays a
// scenario, and stops them cleanly.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "scenario.h"

namespace gsmsim {

struct RunOptions {
  int rooms = 1;
  std::string dist;              // the deployment folder (ServerApp, server_d_x64.so, ini files)
  double seconds = 0;            // run at least this long (0: until the scenario ends, or 10 s)
  bool json = false;             // one JSON object per line instead of text
  std::string scenario;          // a file, or "demo"
  uint32_t heartbeat_ms = 3000;  // 0: no periodic heartbeat
  uint32_t port_base = 5000;     // room i listens on port_base + i
  uint32_t group = 1;
  uint32_t reserved = 0;
  std::string work;          // rooms' parent folder; empty: a new temporary one
  bool keep = false;         // keep the temporary folder
  bool host_output = false;  // copy the hosts' stdout (their log echo) to ours
};

// Runs the rooms. Answers 0 when every host reported its window, every
// expectation was met and every host ended with the normal exit code; 1
// otherwise; 2 for a scenario that does not parse or a missing
// deployment folder.
int RunRooms(const RunOptions& options, std::ostream& out, std::ostream& err);

// Sets KEY=VALUE in SECTION of an ini text (sections and keys matched
// without regard to case), adding the section or key when missing.
std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value);

}  // namespace gsmsim

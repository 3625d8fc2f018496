// The soak's rooms: one working folder and one ServerApp process per room,
// all logging under one log base, and what the soak reads about them from
// /proc and from their files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"

namespace soak {

namespace fs = std::filesystem;

// What a room is for in the soak.
struct RoomRole {
  bool traffic = true;    // map loads, game infos, users, resets
  bool idle = false;      // heartbeats only: its CPU is measured
  bool watchdog = false;  // HeartbeatWatchdogMs set: ends while the manager is away
  bool crash = false;     // its module faults on purpose (console "crash null")
  bool stall = false;     // loads content packages from a stalled server
};

// Roles by server index: every tenth room idle, every fifth a watchdog room,
// one in 25 crashes, one in 25 loads from the stalled server. Room 0
// publishes the log-text table and only carries traffic.
RoomRole RoleOf(int index);

struct RoomConfig {
  fs::path folder;    // the room's working folder (created)
  fs::path log_base;  // SERVERAPP_LOG_BASE, shared by the rooms
  std::string shm_session;
  int index = 0;
  uint64_t manager = 0;  // the manager's window handle
  int port = 0;
  int group = 1;
  RoomRole role;
  int watchdog_ms = 0;
  std::string content_url;  // ServerURL of UCCSetting.ini
};

// Writes the room's Setting.ini, UCCSetting.ini, ReferenceModule.ini (the
// room stays preparing, so every heartbeat is answered; a call trace) and
// copies the log-text table. False and a reason on failure.
bool PrepareRoom(const RoomConfig& config, std::string* error);
// Starts ServerApp in the room (stdin a pipe for crash rooms).
std::unique_ptr<platform::Process> StartRoom(const RoomConfig& config, std::string* error);

// Resident set size in KiB (VmRSS), nothing when the process is gone.
std::optional<uint64_t> ResidentKiB(uint32_t pid);
// User plus system CPU time in seconds, nothing when the process is gone.
std::optional<double> CpuSeconds(uint32_t pid);

// Follows a growing trace file and counts its complete lines that start
// with `prefix` (after the stamp), reading only what was added since the
// last call.
class TraceCounter {
 public:
  TraceCounter(fs::path trace, std::string prefix)
      : trace_(std::move(trace)), prefix_(std::move(prefix)) {}
  uint64_t Poll();

 private:
  fs::path trace_;
  std::string prefix_;
  uint64_t offset_ = 0;
  uint64_t count_ = 0;
};

// Occurrences of `text` in the host's main logs (error_*.log) of one
// instance folder ("<group>_<index>") anywhere under the log base.
uint64_t CountHostLog(const fs::path& log_base, const std::string& instance,
                      const std::string& text);
// Dump files (*.dmp) under the log base, by instance folder.
std::vector<fs::path> DumpsOf(const fs::path& log_base, const std::string& instance);

}  // namespace soak

// One room for the crash tests through a real host: a ServerApp and the
// reference module copied into a folder of their own (so that the CRS.ini
// beside the executable is this room's), the development services on a
// free loopback port, the manager played by gsmsim's peer, and a temporary
// log base.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "crash_system.h"
#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"
#include "protocol/gameservermsg.h"
#include "support/content_server.h"

namespace crashwire {

namespace fs = std::filesystem;

// The instance the rooms start as: server index 4, group 9.
inline constexpr char kInstance[] = "9_4";

struct RoomOptions {
  bool crs_ini = true;  // write bin/CRS.ini naming the service
  hosttest::Switches switches{{"PreparingUpdates", "0"}};
};

class CrashRoom {
 public:
  explicit CrashRoom(const RoomOptions& options = {});
  ~CrashRoom();

  // Why the room cannot run here (no development services); empty when it
  // can. Tests skip on it.
  const std::string& unavailable() const { return unavailable_; }

  // Starts the host with a console and waits for `ready_post`. False on
  // failure.
  bool Start(uint16_t ready_post = GAMESERVERMSG_SERVER_READY);

  // Writes one console line; the host runs it on its window thread.
  bool Command(const std::string& line);
  // The host's exit as hosttest::WaitExit answers it (-signal for a signal).
  int WaitExit(int timeout_ms);

  std::string Url() const { return services_.CrashUrl(); }
  fs::path Executable() const { return bin_ / kHostFile; }
  fs::path LogRoot() const { return folder_.root() / "log" / "quellmark" / "ServerApp"; }

  hosttest::HostFolder& folder() { return folder_; }
  testsupport::ContentServer& services() { return services_; }
  gsmsim::ManagerPeer& manager() { return *manager_; }
  platform::Process& host() { return *host_; }
  // The host's window, from its GAMESERVERMSG_REPORT_HWND post, and its
  // thread as WindowThreadOf answers it.
  platform::WindowHandle window() const { return window_; }
  uint32_t window_thread() const { return window_thread_; }

 private:
  hosttest::HostFolder folder_;
  fs::path bin_;
  testsupport::ContentServer services_;
  std::string unavailable_;
  std::unique_ptr<gsmsim::ManagerPeer> manager_;
  std::unique_ptr<platform::Process> host_;
  platform::WindowHandle window_ = 0;
  uint32_t window_thread_ = 0;
};

}  // namespace crashwire

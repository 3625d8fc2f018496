// A manager peer and a real ServerApp with the reference module, its console on
// a pipe; stdout is drained on a thread, so the host never blocks on a full pipe.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"

namespace shelltest {

inline constexpr int16_t kServerIndex = 3;

class Room {
 public:
  explicit Room(const hosttest::Switches& switches = {});
  ~Room();

  bool ready() const { return ready_; }
  gsmsim::ManagerPeer& manager() { return *manager_; }
  const hosttest::HostFolder& folder() const { return folder_; }

  bool Console(const std::string& line) {
    return host_ != nullptr && host_->WriteStdin(line + "\n");
  }
  bool Emit(const std::string& line) { return Console("emit " + line); }

  // The next manager message matching `match` after the mark; moves the mark past it.
  std::optional<gsmsim::ReceivedMessage> Next(
      const gsmsim::MessagePredicate& match,
      std::chrono::milliseconds timeout = std::chrono::seconds(10));
  size_t mark() const { return mark_; }

  // The host's stdout so far (console results and log echo).
  std::string Output() const;

 private:
  std::unique_ptr<gsmsim::ManagerPeer> manager_;
  hosttest::HostFolder folder_;
  std::unique_ptr<platform::Process> host_;
  std::thread drain_;
  mutable std::mutex output_mutex_;
  std::string output_;
  size_t mark_ = 0;
  bool ready_ = false;
};

}  // namespace shelltest

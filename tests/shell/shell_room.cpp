#include "shell_room.h"

#include <algorithm>

#include "protocol/gameservermsg.h"

namespace shelltest {

using namespace std::chrono_literals;

Room::Room(const hosttest::Switches& switches)
    : manager_(gsmsim::ManagerPeer::Start()), folder_([&] {
        hosttest::Switches all = switches;
        all.emplace("PreparingUpdates", "0");
        return all;
      }()) {
  if (manager_ == nullptr) return;
  host_ = folder_.Start(
      {std::to_string(manager_->handle()), "5000", std::to_string(kServerIndex), "7", "9"}, true);
  if (host_ == nullptr) return;
  drain_ = std::thread([this] {
    std::string line;
    while (host_->ReadStdoutLine(&line, 60000)) {
      std::lock_guard<std::mutex> lock(output_mutex_);
      output_ += line + "\n";
    }
  });
  auto ready = manager_->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY), 15s);
  // The readiness (update thread) and the window report (window thread) come
  // on two connections in either order; the mark goes past both, or a slow
  // start leaves the report among the messages a test counts.
  auto reported = manager_->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 15s);
  if (ready && reported) {
    mark_ = std::max(ready->index, reported->index) + 1;
    ready_ = true;
  }
}

Room::~Room() {
  if (host_ != nullptr) {
    host_->CloseStdin();
    if (hosttest::WaitExit(*host_, 15000) == -1000) host_->Terminate();
    hosttest::WaitExit(*host_, 5000);
  }
  if (drain_.joinable()) drain_.join();
}

std::optional<gsmsim::ReceivedMessage> Room::Next(const gsmsim::MessagePredicate& match,
                                                  std::chrono::milliseconds timeout) {
  auto message = manager_->WaitFor(match, timeout, mark_);
  if (message) mark_ = message->index + 1;
  return message;
}

std::string Room::Output() const {
  std::lock_guard<std::mutex> lock(output_mutex_);
  return output_;
}

}  // namespace shelltest

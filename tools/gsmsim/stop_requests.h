// Requests to stop gsmsim from outside, taken by its main thread between
// steps: SIGINT and SIGTERM on POSIX; Ctrl-C, Ctrl-Break, a closing console
// and Process::Terminate / Interrupt on Windows. The backend is
// stop_requests_<os>.cpp.
#pragma once

#include <memory>

namespace gsmsim {

// Construct it before any other thread starts (on POSIX the blocked signal
// mask is inherited, so that only this thread takes the signals), and keep
// one at a time. Destroying it restores the previous handling.
class StopRequests {
 public:
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // Sleeps up to `ms` (0 only looks); true once a stop request came, and
  // from then on at once.
  bool Sleep(long ms);
  bool Stopped() { return Sleep(0); }

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace gsmsim

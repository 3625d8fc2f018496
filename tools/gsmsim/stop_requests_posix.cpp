// Stop requests on POSIX: SIGINT and SIGTERM, blocked in every thread
// started after the constructor and taken here with sigtimedwait.
#include <signal.h>
#include <time.h>

#include "stop_requests.h"

namespace gsmsim {

struct StopRequests::State {
  sigset_t set;
  sigset_t previous;
  bool stopped = false;
};

StopRequests::StopRequests() : state_(std::make_unique<State>()) {
  sigemptyset(&state_->set);
  sigaddset(&state_->set, SIGINT);
  sigaddset(&state_->set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &state_->set, &state_->previous);
}

StopRequests::~StopRequests() {
  pthread_sigmask(SIG_SETMASK, &state_->previous, nullptr);
}

bool StopRequests::Sleep(long ms) {
  if (state_->stopped) return true;
  if (ms < 0) ms = 0;
  timespec slice{ms / 1000, (ms % 1000) * 1000000};
  if (sigtimedwait(&state_->set, nullptr, &slice) > 0) state_->stopped = true;
  return state_->stopped;
}

}  // namespace gsmsim

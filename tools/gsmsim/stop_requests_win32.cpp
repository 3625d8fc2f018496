// Stop requests on Windows: console control events (Ctrl-C, Ctrl-Break, the
// console closing) and the named events that Process::Terminate and
// Process::Interrupt set for this process.
#include <atomic>

#include "stop_request_win32.h"
#include "stop_requests.h"

namespace gsmsim {
namespace {

std::atomic<HANDLE> g_console_event{nullptr};

BOOL WINAPI OnConsoleControl(DWORD) {
  const HANDLE event = g_console_event.load();
  if (event == nullptr) return FALSE;
  SetEvent(event);
  return TRUE;
}

}  // namespace

struct StopRequests::State {
  HANDLE events[3] = {};
  DWORD count = 0;
  bool stopped = false;
};

StopRequests::StopRequests() : state_(std::make_unique<State>()) {
  using platform::win32::CreateStopRequestEvent;
  using platform::win32::StopKind;
  const HANDLE candidates[3] = {CreateEventW(nullptr, TRUE, FALSE, nullptr),
                                CreateStopRequestEvent(StopKind::kTerminate),
                                CreateStopRequestEvent(StopKind::kInterrupt)};
  for (HANDLE h : candidates) {
    if (h != nullptr) state_->events[state_->count++] = h;
  }
  if (candidates[0] != nullptr) {
    g_console_event.store(candidates[0]);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  }
}

StopRequests::~StopRequests() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  g_console_event.store(nullptr);
  for (DWORD i = 0; i < state_->count; ++i) CloseHandle(state_->events[i]);
}

bool StopRequests::Sleep(long ms) {
  if (state_->stopped) return true;
  const DWORD wait = ms > 0 ? static_cast<DWORD>(ms) : 0;
  if (state_->count == 0) {
    ::Sleep(wait);
    return false;
  }
  const DWORD which = WaitForMultipleObjects(state_->count, state_->events, FALSE, wait);
  if (which < WAIT_OBJECT_0 + state_->count) state_->stopped = true;
  return state_->stopped;
}

}  // namespace gsmsim

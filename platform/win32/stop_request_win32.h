// Stop requests between our own Windows programs.
//
// Windows has no SIGTERM or SIGINT for a GUI program, and console control
// events reach only processes that share a console. Process::Terminate and
// Process::Interrupt therefore set a named event that the child created for
// itself: "Local\ServerApp.Stop.<pid>.Terminate" or "...Interrupt". A program
// that wants a graceful stop creates both events at start-up and waits on
// them beside its other work (the dialog's message loop, gsmsim's listen
// loop): Terminate stands for the OK button, Interrupt for Cancel (Ctrl-C).
// A child that created no event (any other program) is ended with
// TerminateProcess instead.
#pragma once

#include <cstdint>
#include <string>

#include "win32_text.h"

namespace platform::win32 {

enum class StopKind { kTerminate, kInterrupt };

inline std::string StopRequestName(uint32_t pid, StopKind kind) {
  return "Local\\ServerApp.Stop." + std::to_string(pid) +
         (kind == StopKind::kTerminate ? ".Terminate" : ".Interrupt");
}

// Creates this process's event for `kind` (manual reset, not signalled, not
// inherited); null when the system refuses. The caller owns the handle.
inline HANDLE CreateStopRequestEvent(StopKind kind) {
  return CreateEventA(nullptr, TRUE, FALSE, StopRequestName(GetCurrentProcessId(), kind).c_str());
}

// Signals the event of process `pid`; false when it created none.
inline bool SignalStopRequest(uint32_t pid, StopKind kind) {
  HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, StopRequestName(pid, kind).c_str());
  if (event == nullptr) return false;
  const bool ok = SetEvent(event) != FALSE;
  CloseHandle(event);
  return ok;
}

}  // namespace platform::win32

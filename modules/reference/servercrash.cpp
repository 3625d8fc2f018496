// The `crash` console command: faults on purpose, so that the host's crash
// handling can be exercised with a real module on a real thread.
//
//   crash null     a write through a null pointer, now, on the window thread
//   crash update   the same on the update thread, at its next call into the
//                  module (the room asks the host for a reset so that there
//                  is one even when the room is ready)
//   crash stack    a stack overflow (unbounded recursion)
//   crash abort    std::abort, the C runtime's own fatal check
#include <cstdlib>

#include "interface/ltmessage.h"
#include "protocol/serverappmsg.h"
#include "protocol/streamio.h"
#include "server.h"

namespace refmod {
namespace {

// Volatile so that the compiler can neither prove the fault nor remove it.
int* volatile g_null_target = nullptr;
volatile uint32_t g_recursion_guard = 1;

// Not instrumented: under UBSan the store would be reported and the process
// would exit before the fault, so the host's crash handling would never run.
__attribute__((noinline, no_sanitize("undefined", "address", "thread"))) void WriteThroughNull() {
  *g_null_target = 0x64;
}

// Each frame keeps a page of stack alive until the stack runs out.
uint32_t Recurse(uint32_t depth) {
  volatile char page[4096];
  page[0] = static_cast<char>(depth);
  if (g_recursion_guard == 0) return page[0];
  return Recurse(depth + 1) + page[0];
}

}  // namespace

void CReferenceServer::CrashIfArmedElsewhere() {
  if (crash_update_armed_.load() && std::this_thread::get_id() != crash_armed_by_) {
    trace_.Line("Crash fault on the update thread");
    WriteThroughNull();
  }
}

int32_t CReferenceServer::RunCrash(const std::string& argument) {
  trace_.Line("Crash %s", argument.c_str());
  if (argument == "null") {
    WriteThroughNull();
    return 0;
  }
  if (argument == "update") {
    crash_armed_by_ = std::this_thread::get_id();
    crash_update_armed_.store(true);
    ILTMessage_Write* reset = NewMessage();
    if (reset != nullptr) {
      proto::WriteU8(*reset, SERVERAPPMSG_RESET_REQ);
      SendBuilt(reset);
    }
    Say("crash: the update thread faults at its next call");
    return 0;
  }
  if (argument == "stack") return static_cast<int32_t>(Recurse(0));
  if (argument == "abort") std::abort();
  Say("crash: null, update, stack or abort");
  return 1;
}

}  // namespace refmod

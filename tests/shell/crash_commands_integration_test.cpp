// The reference module's crash commands end a real host with a fault on
// the thread they name: the window thread at once, the update thread at its
// next call into the module.
#include <gtest/gtest.h>

#include <fstream>

#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"
#include "platform/dialog.h"
#include "protocol/gameservermsg.h"

namespace {

using namespace std::chrono_literals;

TEST(CrashCommands, EachCommandEndsTheHostWithAFault) {
  for (const char* command : {"crash null", "crash stack", "crash abort", "crash update"}) {
    SCOPED_TRACE(command);
    auto manager = gsmsim::ManagerPeer::Start();
    ASSERT_NE(manager, nullptr);
    hosttest::HostFolder folder(hosttest::Switches{{"PreparingUpdates", "0"}});
    // A small dump: a full one of a process under Wine is hundreds of
    // megabytes and takes longer than the wait below.
    std::ofstream(folder.work() / "Setting.ini", std::ios::app) << "[GameMgmt]\r\nFullDump=0\r\n";
    auto host = folder.Start({std::to_string(manager->handle()), "5000", "4", "7", "9"}, true);
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_SERVER_READY), 15s));
    ASSERT_TRUE(host->WriteStdin(std::string(command) + "\n"));
    // The update thread's next frame may be a whole idle frame (10 s) away,
    // and the crash report of a sanitizer build (a large address space to
    // walk and dump) takes many seconds more on a busy machine.
    const int code = hosttest::WaitExit(*host, 30000);
    EXPECT_NE(code, -1000) << "still running";
    EXPECT_NE(code, platform::kIdCancel);
    EXPECT_NE(code, platform::kIdOk);
    EXPECT_NE(code, 0);
    if (std::string(command) == "crash update") {
      EXPECT_EQ(folder.CountTrace("Crash fault on the update thread"), 1u);
    }
    if (code == -1000) host->Terminate();
  }
}

}  // namespace

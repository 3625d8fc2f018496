// A real ServerApp with the reference module, gsmsim's peer as the manager.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>

#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"
#include "manager_records.h"
#include "platform/dialog.h"
#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "table_text.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;
using dispatchtest::GameInfo;
using dispatchtest::User;
using hosttest::HostFolder;

constexpr uint32_t kWmGameServer = 0x440;

// A host started with the manager's window; target_ is the host's window.
class DispatchHost : public ::testing::Test {
 protected:
  void StartHost(const std::vector<std::string>& extra = {}) {
    manager_ = gsmsim::ManagerPeer::Start();
    ASSERT_NE(manager_, nullptr);
    std::vector<std::string> args = hosttest::HostArgs(manager_->handle(), "1");
    args.insert(args.end(), extra.begin(), extra.end());
    host_ = folder_.Start(args);
    ASSERT_NE(host_, nullptr);
    auto hwnd = manager_->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 10s);
    ASSERT_TRUE(hwnd);
    target_ = static_cast<platform::WindowHandle>(hwnd->l_param);
  }
  void Post(uint32_t msg, uint64_t wParam, uint64_t lParam) {
    manager_->Post(target_, msg, wParam, static_cast<platform::LParam>(lParam));
  }

  HostFolder folder_;
  std::unique_ptr<gsmsim::ManagerPeer> manager_;
  std::unique_ptr<platform::Process> host_;
  platform::WindowHandle target_ = 0;
};

template <typename T>
std::span<const std::byte> Bytes(const T& value) {
  return {reinterpret_cast<const std::byte*>(&value), sizeof(T)};
}

uint64_t AckUsn(const gsmsim::ReceivedMessage& ack) {
  uint64_t usn = 0;
  if (ack.data.size() == 10) std::memcpy(&usn, ack.data.data() + 2, 8);
  return usn;
}

// Everything queued while the update thread sleeps its 10 s idle frame is
// delivered in the next frame: newest first, the eleventh game info refused.
TEST_F(DispatchHost, QueuedRecordsAreDeliveredTogetherNewestFirstAndAcknowledged) {
  StartHost();
  // The first frame pops before it asks the module: what is sent once it was
  // asked waits for the next frame, even if a loaded machine starts it late.
  ASSERT_TRUE(folder_.WaitForTrace("IsPreparing", 10s));

  for (int i = 0; i < 11; ++i) {
    auto info = GameInfo("GI-" + std::to_string(i));
    manager_->SendCopyData(target_, GAMESERVERMSG_START_HOST, Bytes(*info));
  }
  PROTO_GAME_USER_INFO by_copy = User(5001, 2);
  manager_->SendCopyData(target_, GAMESERVERMSG_INSERTCHARACTER, Bytes(by_copy));
  PROTO_GAME_USER_INFO by_address = User(5002, 300);
  Post(kWmGameServer, GAMESERVERMSG_INSERTCHARACTER, manager_->AddBuffer(Bytes(by_address)));

  auto first_ack = manager_->WaitFor(gsmsim::IsCopyData(GAMESERVERMSG_INSERTCHARACTER_ACK), 15s);
  ASSERT_TRUE(first_ack);
  auto second_ack = manager_->WaitFor(gsmsim::IsCopyData(GAMESERVERMSG_INSERTCHARACTER_ACK), 5s,
                                      first_ack->index + 1);
  ASSERT_TRUE(second_ack);
  EXPECT_EQ(AckUsn(*first_ack), 5002u);  // pushed last, delivered first
  EXPECT_EQ(AckUsn(*second_ack), 5001u);
  EXPECT_EQ(std::ranges::count_if(manager_->Messages(),
                                  gsmsim::IsManagerPost(GAMESERVERMSG_START_HOST_ACK)),
            10);

  // One frame: the deliveries follow each other without an idle wait.
  std::vector<uint32_t> times = folder_.TraceTimes("SendToServerShell id=7");
  std::vector<uint32_t> users = folder_.TraceTimes("SendToServerShell id=14");
  ASSERT_EQ(times.size(), 10u);
  ASSERT_EQ(users.size(), 2u);
  EXPECT_LT(users.back() - times.front(), 5000u);

  // The refused eleventh's line: DispatchTest.GameInfoStoreRefusesTheEleventhAndPopsNewestFirst.
  EXPECT_THAT(folder_.HostLog(),
              HasSubstr("SendUserInfo LeaveCriticalSection - g_iQueuedUserInfosNum 1, USN 5002, "
                        "SlotIdx 300"));
  EXPECT_TRUE(folder_.WaitForHostLog(
      "CServerAppDlg::ThreadUpdate - CServerAppDlg::ServerUpdate Begin", 5s));
  ASSERT_TRUE(host_->Terminate());
  EXPECT_EQ(hosttest::WaitExit(*host_, 10000), platform::kIdOk);
}

// Nothing is created on the way to an unwritable snapshot.
TEST_F(DispatchHost, UnwritableSnapshotIsLoggedAndTheRecordStillDelivered) {
  StartHost({"-SaveGameInfo=" + (folder_.root() / "no-such-folder" / "last.bin").string()});
  auto info = GameInfo("UNSAVED");
  manager_->SendCopyData(target_, GAMESERVERMSG_START_HOST, Bytes(*info));
  ASSERT_TRUE(folder_.WaitForTrace("SendToServerShell id=7", 15s));
  ASSERT_TRUE(folder_.WaitForHostLog("SaveGameInfo Failed : the file cannot be created", 5s));
  EXPECT_FALSE(std::filesystem::exists(folder_.root() / "no-such-folder"));

  // The terminate request ends the host as its OK button would.
  Post(kWmGameServer, GAMESERVERMSG_TERMINATE, 0);
  EXPECT_EQ(hosttest::WaitExit(*host_, 10000), platform::kIdOk);
  EXPECT_THAT(folder_.HostLog(), HasSubstr(hosttest::TableText(43)));
}

// Timer-1 ticks from any source; a heartbeat restarts the count of silent ones.
TEST_F(DispatchHost, FourthSilentTimerTickEndsTheHost) {
  StartHost();
  constexpr uint32_t kWmTimer = 0x113;
  for (int i = 0; i < 3; ++i) Post(kWmTimer, 1, 0);
  Post(kWmGameServer, GAMESERVERMSG_HOST_HEARTBEAT, 0);
  ASSERT_TRUE(manager_->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_HOST_HEARTBEAT_ACK), 5s));
  for (int i = 0; i < 3; ++i) Post(kWmTimer, 1, 0);
  EXPECT_EQ(hosttest::WaitExit(*host_, 1000), -1000);  // still running
  EXPECT_THAT(folder_.HostLog(), Not(HasSubstr(hosttest::TableText(43))));

  Post(kWmTimer, 1, 0);
  EXPECT_EQ(hosttest::WaitExit(*host_, 10000), platform::kIdOk);
  EXPECT_THAT(folder_.HostLog(), HasSubstr(hosttest::TableText(43)));
}

// The watchdog armed from Setting.ini ends a host whose manager is silent.
TEST_F(DispatchHost, ArmedWatchdogEndsAHostWithoutHeartbeats) {
  std::ofstream(folder_.work() / "Setting.ini", std::ios::app)
      << "[GameMgmt]\r\nHeartbeatWatchdogMs=100\r\n";
  StartHost();
  EXPECT_EQ(hosttest::WaitExit(*host_, 10000), platform::kIdOk);
  const std::string log = folder_.HostLog();
  EXPECT_THAT(log, HasSubstr("Heartbeat watchdog armed: timer 1 every 100 ms"));
  EXPECT_THAT(log, HasSubstr(hosttest::TableText(43)));
}

// Records passed by address are read out of the manager's memory.
TEST_F(DispatchHost, RecordsByAddressReachTheModule) {
  StartHost();
  auto post = [&](uint16_t id, uint64_t lParam) { Post(kWmGameServer, id, lParam); };

  post(GAMESERVERMSG_LOAD_MAP, 0x00010001);  // 50 ms frames from the next frame on
  auto info = GameInfo("BY-ADDRESS");
  post(GAMESERVERMSG_START_HOST, manager_->AddBuffer(Bytes(*info)));
  ASSERT_TRUE(manager_->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_START_HOST_ACK), 15s));
  EXPECT_EQ(folder_.CountTrace("SendToServerShell id=7"), 1u);

  PROTO_GAME_USER_INFO user = User(777, 3);
  post(GAMESERVERMSG_INSERTCHARACTER, manager_->AddBuffer(Bytes(user)));
  auto ack = manager_->WaitFor(gsmsim::IsCopyData(GAMESERVERMSG_INSERTCHARACTER_ACK), 5s);
  ASSERT_TRUE(ack);
  EXPECT_EQ(AckUsn(*ack), 777u);
  ASSERT_TRUE(folder_.WaitForTrace("SendToServerShell id=14", 5s));

  const uint64_t usn = 777;
  post(GAMESERVERMSG_USER_DISCONNECTED, manager_->AddBuffer(Bytes(usn)));
  ASSERT_TRUE(folder_.WaitForTrace("SendToServerShell id=16", 5s));

  // A null address: the read fails, nothing is queued or acknowledged.
  post(GAMESERVERMSG_START_HOST, 0);
  ASSERT_TRUE(folder_.WaitForHostLog("Address is null", 5s));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(folder_.CountTrace("SendToServerShell id=7"), 1u);
  EXPECT_EQ(std::ranges::count_if(manager_->Messages(),
                                  gsmsim::IsManagerPost(GAMESERVERMSG_START_HOST_ACK)),
            1);

  ASSERT_TRUE(host_->Terminate());
  EXPECT_EQ(hosttest::WaitExit(*host_, 10000), platform::kIdOk);
}

}  // namespace

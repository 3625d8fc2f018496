// The update thread and the window thread share the module, the record
// stores, the flags and the logger; this test makes them meet on purpose.
// Every record must be accounted for; under ThreadSanitizer a race in the
// host fails the test through the child's sanitizer report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <thread>

#include "gsmsim/peer/manager_peer.h"
#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "shell_room.h"

namespace {

using namespace std::chrono_literals;
using gsmsim::IsCopyData;
using gsmsim::IsManagerPost;

constexpr uint32_t kWmGameServer = 0x440;

size_t Count(const gsmsim::ManagerPeer& manager, const gsmsim::MessagePredicate& match) {
  return static_cast<size_t>(std::ranges::count_if(manager.Messages(), match));
}

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

bool WaitForCount(const gsmsim::ManagerPeer& manager, const gsmsim::MessagePredicate& match,
                  size_t count, std::chrono::milliseconds timeout) {
  return Eventually([&] { return Count(manager, match) >= count; }, timeout);
}

uint64_t AckUsn(const gsmsim::ReceivedMessage& ack) {
  uint64_t usn = 0;
  if (ack.data.size() == 10) std::memcpy(&usn, ack.data.data() + 2, 8);
  return usn;
}

// The map load value: map in the low half, round type in bits 16-23, match
// type in the high byte.
platform::LParam MapLoad(uint8_t roundType) {
  return static_cast<platform::LParam>((uint32_t{42} << 24) | (uint32_t{roundType} << 16) | 5);
}

// Rounds of traffic with short frames: the window thread takes heartbeats,
// game infos and users into the stores, map loads that change the frame
// length and console statuses that read the room, while the update thread
// delivers, acknowledges and has the module answer each user. A round ends
// when its users are acknowledged; then they leave (from the window thread).
// A reset at the end crosses the pending-notice flag between the threads.
TEST(SharedState, ManagerTrafficMeetsShortFrames) {
  shelltest::Room room;
  ASSERT_TRUE(room.ready());
  gsmsim::ManagerPeer& manager = room.manager();
  auto report = manager.WaitFor(IsManagerPost(GAMESERVERMSG_REPORT_HWND), 10s);
  ASSERT_TRUE(report.has_value());
  const auto target = static_cast<platform::WindowHandle>(report->l_param);

  // Round type 42: 12 ms frames, once the current idle frame is over.
  ASSERT_TRUE(manager.Post(target, kWmGameServer, GAMESERVERMSG_LOAD_MAP, MapLoad(42)));

  constexpr int kRounds = 30;
  constexpr int kUsersPerRound = 3;
  constexpr int kGameInfosPerRound = 2;
  std::multiset<uint64_t> sent_usns;
  size_t acks = 0;
  size_t game_infos = 0;
  auto info = std::make_unique<PROTO_START_HOST>();
  for (int round = 0; round < kRounds; ++round) {
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(manager.Post(target, kWmGameServer, GAMESERVERMSG_HOST_HEARTBEAT, 0));
    }
    std::vector<uint64_t> usns;
    for (int i = 0; i < kUsersPerRound; ++i) {
      PROTO_GAME_USER_INFO user;
      user.USN = 900000 + static_cast<uint64_t>(round * kUsersPerRound + i);
      user.SlotIdx = i;
      usns.push_back(user.USN);
      sent_usns.insert(user.USN);
      manager.SendCopyData(target, GAMESERVERMSG_INSERTCHARACTER,
                           std::as_bytes(std::span(&user, 1)));
      if (i < kGameInfosPerRound) {
        info->GameLogSerial[0] = static_cast<char>('A' + round % 26);
        manager.SendCopyData(target, GAMESERVERMSG_START_HOST,
                             std::as_bytes(std::span(info.get(), 1)));
        ++game_infos;
      }
    }
    if (round % 5 == 4) {
      // Alternate 50 ms and 12 ms frames while deliveries run.
      ASSERT_TRUE(manager.Post(target, kWmGameServer, GAMESERVERMSG_LOAD_MAP,
                               MapLoad(round % 10 == 4 ? 1 : 42)));
    }
    ASSERT_TRUE(room.Console("status"));

    acks += kUsersPerRound;
    // The first round waits out the idle frame that was running at start.
    ASSERT_TRUE(WaitForCount(manager, IsCopyData(GAMESERVERMSG_INSERTCHARACTER_ACK), acks, 20s))
        << "round " << round;
    for (uint64_t usn : usns) {
      PROTO_USER_DISCONNECTED gone;
      gone.USN = usn;
      manager.SendCopyData(target, GAMESERVERMSG_USER_DISCONNECTED,
                           std::as_bytes(std::span(&gone, 1)));
    }
  }
  ASSERT_TRUE(manager.Post(target, kWmGameServer, GAMESERVERMSG_RESET_ROOM, 0));
  const hosttest::HostFolder& folder = room.folder();
  ASSERT_TRUE(folder.WaitForTrace("SendToServerShell id=8 reset", 10s));

  // Every user acknowledged exactly once, with its own USN.
  std::multiset<uint64_t> acked;
  for (const auto& m : manager.Messages()) {
    if (IsCopyData(GAMESERVERMSG_INSERTCHARACTER_ACK)(m)) acked.insert(AckUsn(m));
  }
  EXPECT_EQ(acked, sent_usns);
  EXPECT_TRUE(WaitForCount(manager, IsManagerPost(GAMESERVERMSG_START_HOST_ACK), game_infos, 5s));
  EXPECT_EQ(Count(manager, IsManagerPost(GAMESERVERMSG_START_HOST_ACK)), game_infos);
  // The module answered every user it was given (from the update thread)
  // and every leave (from the window thread): nothing was lost in between.
  EXPECT_TRUE(WaitForCount(manager, IsManagerPost(GAMESERVERMSG_ADDCLIENT), sent_usns.size(), 5s));
  EXPECT_TRUE(WaitForCount(manager, IsCopyData(GAMESERVERMSG_REMOVECLIENT), sent_usns.size(), 5s));
  EXPECT_EQ(folder.CountTrace("SendToServerShell id=14"), sent_usns.size());
  EXPECT_EQ(folder.CountTrace("SendToServerShell id=7"), game_infos);
  EXPECT_EQ(folder.CountTrace("SendToServerShell id=16"), sent_usns.size());
  for (const std::string& line : folder.Trace()) {
    EXPECT_EQ(line.find("slot=-1"), std::string::npos) << "a leave before its user: " << line;
  }
  // The stores never overflowed and no delivery failed.
  const std::string log = folder.HostLog();
  EXPECT_EQ(log.find("Push GameInfo Failed"), std::string::npos);
  EXPECT_EQ(log.find("Push UserInfo Failed"), std::string::npos);
  // The room ends empty: the last status (after everything above) says so.
  const size_t before = room.Output().size();
  ASSERT_TRUE(room.Console("status"));
  EXPECT_TRUE(
      Eventually([&] { return room.Output().find("no users", before) != std::string::npos; }, 10s))
      << room.Output().substr(before);
}

}  // namespace

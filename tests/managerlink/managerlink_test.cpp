// The manager link against a real manager window in this process: posts,
// copy-data record sends, every ReadGSMMemory failure line and the record
// fetch's allocation failures.
#include "managerlink/managerlink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gsmsim/peer/manager_peer.h"
#include "link_test_support.h"
#include "platform/process_memory.h"
#include "protocol/gameservermsg.h"
#include "support/scratch.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

constexpr platform::WindowHandle kHostWindow = 0x1234567;

std::unique_ptr<gsmsim::ManagerPeer> StartPeer() {
  std::string error;
  auto peer = gsmsim::ManagerPeer::Start(&error);
  EXPECT_NE(peer, nullptr) << error;
  return peer;
}

// A record as the manager's window receives it: dwData, wParam = the host
// window, the index and the record's bytes (the other records' sizes and
// bytes are checked end to end by ShellRows, the acknowledgement by
// DispatchTest).
TEST(ManagerLinkPost, PostsAndRecordsArriveAsSent) {
  auto peer = StartPeer();
  ASSERT_NE(peer, nullptr);
  // A negative index and an id above 16 bits never spill into each other;
  // a 64-bit lParam (an address) arrives whole.
  CManagerLink link;
  link.Attach(peer->handle(), kHostWindow, -2);
  ASSERT_TRUE(link.IsManagerWindowValid());
  ASSERT_TRUE(link.PostToManager(0x1003D, -0x123456789AB));
  auto got = peer->WaitFor(gsmsim::IsPost(WM_GAMESERVERMSG), 5s);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->w_param, 0xFFFE003Du);
  EXPECT_EQ(got->l_param, -0x123456789AB);

  GAMEPROTO_SC_REMOVECLIENT remove;
  remove.slotIndex = 49;
  link.Attach(peer->handle(), kHostWindow, 3);
  ASSERT_TRUE(link.SendRecordToManager(remove));
  got = peer->WaitFor(gsmsim::IsCopyData(GAMESERVERMSG_REMOVECLIENT), 5s);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->w_param, kHostWindow);
  ASSERT_EQ(got->data.size(), 58u);  // the index before the record: ShellRows
  EXPECT_EQ(std::memcmp(got->data.data() + 2, &remove, sizeof(remove)), 0);
}

TEST(ManagerLinkPost, InvalidManagerWindowSendsAndLogsNothing) {
  linktest::LogSandbox logs(1, 1);
  auto peer = StartPeer();
  ASSERT_NE(peer, nullptr);
  const platform::WindowHandle gone = peer->handle();

  CManagerLink unset;
  EXPECT_FALSE(unset.IsManagerWindowValid());
  EXPECT_FALSE(unset.PostToManager(GAMESERVERMSG_SERVER_READY, 0));
  EXPECT_FALSE(unset.SendInsertCharacterAck(7));

  peer.reset();  // the manager's window vanishes
  CManagerLink link;
  link.Attach(gone, kHostWindow, 3);
  EXPECT_FALSE(link.IsManagerWindowValid());
  EXPECT_FALSE(link.PostToManager(GAMESERVERMSG_SERVER_READY, 0));
  EXPECT_FALSE(link.SendRecordToManager(GAMEPROTO_SC_REMOVECLIENT{}));
  EXPECT_FALSE(link.SendAutoMatchStartingUserInfoAck());
  EXPECT_THAT(logs.MainLines(), IsEmpty());
  EXPECT_FALSE(logs.HasRwpmFile());
}

class ReadGSMMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logs_ = std::make_unique<linktest::LogSandbox>(0, 0);
    peer_ = StartPeer();
    ASSERT_NE(peer_, nullptr);
  }
  std::unique_ptr<linktest::LogSandbox> logs_;
  std::unique_ptr<gsmsim::ManagerPeer> peer_;
  linktest::FaultySystem system_;
};

// The manager window here is a real window of this process, so a read that
// passes the checks is a real read of this process's memory.
TEST_F(ReadGSMMemoryTest, EveryFailureWritesItsOwnLine) {
  CManagerLink link(system_);
  char buffer[16] = {};
  const int64_t address = 0x7000;

  link.Attach(0, kHostWindow, 3);
  EXPECT_FALSE(link.ReadGSMMemory(address, buffer, 16));

  link.Attach(peer_->handle(), kHostWindow, 3);
  EXPECT_FALSE(link.ReadGSMMemory(0, buffer, 16));
  EXPECT_FALSE(link.ReadGSMMemory(address, nullptr, 16));
  EXPECT_FALSE(link.ReadGSMMemory(address, buffer, 0));
  EXPECT_FALSE(link.ReadGSMMemory(address, buffer, -4));
  EXPECT_EQ(system_.opens, 0) << "a process was opened before the checks";

  system_.fail_process_id = true;
  EXPECT_FALSE(link.ReadGSMMemory(address, buffer, 16));
  system_.fail_process_id = false;
  EXPECT_EQ(system_.opens, 0);

  system_.fail_open = true;
  EXPECT_FALSE(link.ReadGSMMemory(address, buffer, 16));
  system_.fail_open = false;
  EXPECT_EQ(system_.opens, 1);

  // Page 0 is never mapped: the open succeeds, the read fails.
  EXPECT_FALSE(link.ReadGSMMemory(8, buffer, 16));

  EXPECT_THAT(
      logs_->MainLines(),
      ElementsAre(
          "[ERROR] [RWPM]ReadGSMMemory Failed!! m_hManagerWnd is INVALID tIndex[3], "
          "proto[28672], proto_size[16]",
          "[ERROR] [RWPM]ReadGSMMemory Failed!! Address is null tIndex[3], proto[0], "
          "proto_size[16]",
          "[ERROR] [RWPM]ReadGSMMemory Failed!! buffer is INVALID tIndex[3], proto[28672], "
          "proto_size[16]",
          "[ERROR] [RWPM]ReadGSMMemory Failed!! buffer is INVALID tIndex[3], proto[28672], "
          "proto_size[0]",
          "[ERROR] [RWPM]ReadGSMMemory Failed!! buffer is INVALID tIndex[3], proto[28672], "
          "proto_size[-4]",
          "[ERROR] [RWPM]ReadGSMMemory Failed!! ProcessID is INVALID tIndex[3], proto[28672], "
          "proto_size[16]",
          "[ERROR] [RWPM]ReadGSMMemory Failed!! OpenProcess Error!! tIndex[3], proto[28672], "
          "proto_size[16]",
          "[ERROR] [RWPM]ReadGSMMemory Failed!! ReadProcessMemory Error!! tIndex[3], proto[8], "
          "proto_size[16]"));
}

TEST_F(ReadGSMMemoryTest, ReadsTheWholeLengthAndNothingElse) {
  CManagerLink link(system_);
  link.Attach(peer_->handle(), kHostWindow, 3);
  const std::vector<std::byte> source = linktest::Pattern(64, 11);
  std::vector<std::byte> target(80, std::byte{0xEE});
  ASSERT_TRUE(link.ReadGSMMemory(reinterpret_cast<int64_t>(source.data()) + 4, target.data(), 60));
  EXPECT_TRUE(std::equal(target.begin(), target.begin() + 60, source.begin() + 4));
  EXPECT_EQ(target[60], std::byte{0xEE});

  // IPC memory and messages off: a fetch is dumped nowhere, its notice not logged.
  PROTO_USER_DISCONNECTED gone;
  gone.USN = 5;
  const auto at = reinterpret_cast<int64_t>(&gone);
  uint64_t usn = 0;
  EXPECT_TRUE(link.FetchRecord<PROTO_USER_DISCONNECTED>(at, [&](const auto& r) { usn = r.USN; }));
  EXPECT_EQ(usn, 5u);
  link.LogRecvNotice(GAMESERVERMSG_USER_DISCONNECTED, at);
  EXPECT_FALSE(logs_->HasRwpmFile());
  EXPECT_THAT(logs_->IpcMsgLines(), IsEmpty());
  EXPECT_THAT(logs_->MainLines(), IsEmpty());
}

// With dumps on: a record that cannot be allocated is named and never
// dumped; a fetch whose read fails hands nothing on, keeps the table, and
// still dumps the record it allocated (its defaults).
TEST_F(ReadGSMMemoryTest, AllocationFailureLinesNameEachRecord) {
  logs_.reset();
  logs_ = std::make_unique<linktest::LogSandbox>(1, 0);
  CManagerLink link(system_);
  link.Attach(peer_->handle(), kHostWindow, 3);
  system_.fail_allocation = true;
  int handled = 0;
  auto count = [&handled](const auto&) { ++handled; };
  const int64_t address = 0x7000;

  EXPECT_FALSE(link.FetchRecord<PROTO_START_HOST>(address, count));
  EXPECT_FALSE(link.FetchRecord<PROTO_GAME_USER_INFO>(address, count));
  EXPECT_FALSE(link.FetchRecord<PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT>(address, count));
  EXPECT_FALSE(link.FetchRecord<PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT>(address, count));
  EXPECT_FALSE(link.FetchRecord<PROTO_USER_DISCONNECTED>(address, count));
  EXPECT_FALSE(link.ReceiveAddressTable(address));
  EXPECT_EQ(system_.opens, 0);
  EXPECT_FALSE(logs_->HasRwpmFile());
  EXPECT_THAT(
      logs_->MainLines(),
      ElementsAre("[ERROR] [RWPM][ERROR : New Memory Error!!] PROTO_START_HOST",
                  "[ERROR] [RWPM][ERROR : New Memory Error!!] PROTO_GAME_USER_INFO",
                  "[ERROR] [RWPM][ERROR : New Memory Error!!] "
                  "PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT",
                  "[ERROR] [RWPM][ERROR : New Memory Error!!] "
                  "PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT",
                  "[ERROR] [RWPM][ERROR : New Memory Error!!] GAMESERVERMSG_USER_DISCONNECTED",
                  "[ERROR] [RWPM][ERROR : New Memory Error!!] "
                  "LPVOID[GAMESERVERMSG_MAX * IPC_ROOM_MAX_USER]"));

  system_.fail_allocation = false;
  EXPECT_FALSE(link.FetchRecord<PROTO_USER_DISCONNECTED>(8, count));
  EXPECT_FALSE(link.ReceiveAddressTable(8));
  EXPECT_EQ(handled, 0);
  EXPECT_EQ(link.AddressTable().At(0, 0), 0u);
  // The defaults of the disconnect record are all ones; the all-zero table
  // has no row to print.
  EXPECT_THAT(logs_->RwpmLines(), ElementsAre("[RECV], 3, GAMESERVERMSG_USER_DISCONNECTED, [-1]"));
}

TEST(ProcessMemory, PrivateBytesFollowTouchedAllocations) {
  if (testsupport::UnderWine()) {
    GTEST_SKIP() << "Wine's GetProcessMemoryInfo answers no PrivateUsage and a commit "
                    "charge that does not follow allocations";
  }
  const uint64_t before = platform::CurrentProcessPrivateBytes();
  ASSERT_GT(before, 0u);
  constexpr size_t kSize = 64u << 20;
  auto block = std::make_unique<char[]>(kSize);
  std::memset(block.get(), 0x5A, kSize);  // make every page resident
  const uint64_t during = platform::CurrentProcessPrivateBytes();
  EXPECT_GE(during, before + (kSize * 3 / 4)) << "before " << before << " during " << during;
  EXPECT_EQ(block[kSize - 1], 0x5A);
}

}  // namespace

// The manager link against a real manager window in this process: posts,
// copy-data record sends, every ReadGSMMemory failure line and the record
// fetch's allocation and read failures.
#include "managerlink/managerlink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gsmsim/peer/manager_peer.h"
#include "link_test_support.h"
#include "managerlink/linksystem.h"
#include "platform/fault_injection.h"
#include "platform/process_memory.h"
#include "protocol/dumptext.h"
#include "protocol/gameservermsg.h"
#include "support/scratch.h"

namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::IsEmpty;
using ::testing::StartsWith;
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
// bytes: ShellRows; the acknowledgement: DispatchTest). A window that has
// vanished gets nothing, and nothing is logged.
TEST(ManagerLinkPost, PostsAndRecordsArriveAsSentAndAVanishedWindowGetsNothing) {
  linktest::LogSandbox logs(1, 1);
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

  CManagerLink unset;
  EXPECT_FALSE(unset.IsManagerWindowValid());
  EXPECT_FALSE(unset.PostToManager(GAMESERVERMSG_SERVER_READY, 0));
  EXPECT_FALSE(unset.SendInsertCharacterAck(7));
  peer.reset();
  EXPECT_FALSE(link.IsManagerWindowValid());
  EXPECT_FALSE(link.PostToManager(GAMESERVERMSG_SERVER_READY, 0));
  EXPECT_FALSE(link.SendRecordToManager(GAMEPROTO_SC_REMOVECLIENT{}));
  EXPECT_FALSE(link.SendAutoMatchStartingUserInfoAck());
  EXPECT_THAT(logs.MainLines(), IsEmpty());
  EXPECT_FALSE(logs.HasRwpmFile());
}

// The real system calls, except those a test chooses to fail, and a count
// of the processes opened.
class FaultySystem final : public ManagerLinkSystem {
 public:
  bool fail_process_id = false;
  bool fail_open = false;
  bool fail_allocation = false;
  int opens = 0;

  uint32_t GetWindowProcessId(platform::WindowHandle window) override {
    return fail_process_id ? 0 : ManagerLinkSystem::GetWindowProcessId(window);
  }
  std::unique_ptr<platform::ProcessMemory> OpenProcess(
      uint32_t pid, platform::ProcessMemoryAccess access) override {
    ++opens;
    return fail_open ? nullptr : ManagerLinkSystem::OpenProcess(pid, access);
  }
  void* AllocateRecord(size_t size) override {
    return fail_allocation ? nullptr : ManagerLinkSystem::AllocateRecord(size);
  }
};

class ReadGSMMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::fault::Reset();
    peer_ = StartPeer();
    ASSERT_NE(peer_, nullptr);
    link_.Attach(peer_->handle(), kHostWindow, 3);
  }
  void TearDown() override { platform::fault::Reset(); }

  // IPC memory and messages off.
  std::unique_ptr<linktest::LogSandbox> logs_ = std::make_unique<linktest::LogSandbox>(0, 0);
  std::unique_ptr<gsmsim::ManagerPeer> peer_;
  FaultySystem system_;
  CManagerLink link_{system_};
};

// The manager window here is a real window of this process, so a read that
// passes the checks is a real read of this process's memory.
TEST_F(ReadGSMMemoryTest, EveryFailureWritesItsOwnLineAndAReadTakesTheWholeLength) {
  char buffer[16] = {};
  const int64_t address = 0x7000;

  link_.Attach(0, kHostWindow, 3);
  EXPECT_FALSE(link_.ReadGSMMemory(address, buffer, 16));

  link_.Attach(peer_->handle(), kHostWindow, 3);
  EXPECT_FALSE(link_.ReadGSMMemory(0, buffer, 16));
  EXPECT_FALSE(link_.ReadGSMMemory(address, nullptr, 16));
  EXPECT_FALSE(link_.ReadGSMMemory(address, buffer, 0));
  EXPECT_FALSE(link_.ReadGSMMemory(address, buffer, -4));
  EXPECT_EQ(system_.opens, 0) << "a process was opened before the checks";

  system_.fail_process_id = true;
  EXPECT_FALSE(link_.ReadGSMMemory(address, buffer, 16));
  system_.fail_process_id = false;
  EXPECT_EQ(system_.opens, 0);

  system_.fail_open = true;
  EXPECT_FALSE(link_.ReadGSMMemory(address, buffer, 16));
  system_.fail_open = false;
  EXPECT_EQ(system_.opens, 1);

  // Page 0 is never mapped: the open succeeds, the read fails.
  EXPECT_FALSE(link_.ReadGSMMemory(8, buffer, 16));

  const std::vector<std::byte> source = linktest::Pattern(64, 11);
  std::vector<std::byte> target(80, std::byte{0xEE});
  ASSERT_TRUE(link_.ReadGSMMemory(reinterpret_cast<int64_t>(source.data()) + 4, target.data(), 60));
  EXPECT_TRUE(std::equal(target.begin(), target.begin() + 60, source.begin() + 4));
  EXPECT_EQ(target[60], std::byte{0xEE});
  // With the dumps off a fetch is dumped nowhere, its notice not logged.
  PROTO_USER_DISCONNECTED gone;
  gone.USN = 5;
  const auto at = reinterpret_cast<int64_t>(&gone);
  uint64_t usn = 0;
  EXPECT_TRUE(link_.FetchRecord<PROTO_USER_DISCONNECTED>(at, [&](const auto& r) { usn = r.USN; }));
  EXPECT_EQ(usn, 5u);
  link_.LogRecvNotice(GAMESERVERMSG_USER_DISCONNECTED, at);
  EXPECT_FALSE(logs_->HasRwpmFile());
  EXPECT_THAT(logs_->IpcMsgLines(), IsEmpty());

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

// With dumps on: a record that cannot be allocated is named and never
// dumped; a fetch whose read fails hands nothing on, keeps the table, and
// dumps the record's defaults, never stale or partly read bytes; the next
// read of the same record works.
TEST_F(ReadGSMMemoryTest, FailedAllocationsAndReadsHandNothingOn) {
  logs_.reset();
  logs_ = std::make_unique<linktest::LogSandbox>(1, 0);
  system_.fail_allocation = true;
  int handled = 0;
  auto count = [&handled](const auto&) { ++handled; };
  const int64_t address = 0x7000;

  EXPECT_FALSE(link_.FetchRecord<PROTO_START_HOST>(address, count));
  EXPECT_FALSE(link_.FetchRecord<PROTO_GAME_USER_INFO>(address, count));
  EXPECT_FALSE(link_.FetchRecord<PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT>(address, count));
  EXPECT_FALSE(link_.FetchRecord<PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT>(address, count));
  EXPECT_FALSE(link_.FetchRecord<PROTO_USER_DISCONNECTED>(address, count));
  EXPECT_FALSE(link_.ReceiveAddressTable(address));
  EXPECT_EQ(system_.opens, 0);
  EXPECT_FALSE(logs_->HasRwpmFile());
  system_.fail_allocation = false;

  PROTO_GAME_USER_INFO user;
  user.USN = 77;
  user.SlotIdx = 4;
  const auto user_at = reinterpret_cast<int64_t>(&user);
  platform::fault::Arm(platform::fault::Point::kProcessRead, 1, EFAULT);
  EXPECT_FALSE(link_.FetchRecord<PROTO_GAME_USER_INFO>(user_at, count));
  EXPECT_FALSE(link_.ReceiveAddressTable(8));
  EXPECT_EQ(handled, 0);
  EXPECT_EQ(link_.AddressTable().At(0, 0), 0u);
  EXPECT_TRUE(link_.FetchRecord<PROTO_GAME_USER_INFO>(user_at, [&](const auto& record) {
    EXPECT_EQ(std::memcmp(&record, &user, sizeof(user)), 0);
  }));
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
                  "LPVOID[GAMESERVERMSG_MAX * IPC_ROOM_MAX_USER]",
                  // The address is printed as a long: cut to 32 bits on Windows.
                  AllOf(StartsWith("[ERROR] [RWPM]ReadGSMMemory Failed!! ReadProcessMemory "
                                   "Error!! tIndex[3], proto["),
                        EndsWith("], proto_size[" + std::to_string(sizeof(user)) + "]")),
                  "[ERROR] [RWPM]ReadGSMMemory Failed!! ReadProcessMemory Error!! tIndex[3], "
                  "proto[8], proto_size[24400]"));
  // The all-zero table has no row to print.
  EXPECT_THAT(logs_->RwpmLines(),
              ElementsAre(proto::DumpText(proto::kRecvTag, 3, PROTO_GAME_USER_INFO{}),
                          proto::DumpText(proto::kRecvTag, 3, user)));
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

// The manager link against a manager window and the memory of this process
// (reads across processes: DispatchHost): posts, record sends, every failure
// line of ReadGSMMemory, fetches and their dumps; the process-memory seam.
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
#include "managerlink/linksystem.h"
#include "platform/fault_injection.h"
#include "platform/identity.h"
#include "platform/process_memory.h"
#include "protocol/dumptext.h"
#include "protocol/gameservermsg.h"
#include "support/log_sandbox.h"
#include "support/scratch.h"

namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;
using namespace std::chrono_literals;
using platform::ProcessMemory;
using platform::ProcessMemoryAccess;

// Entries without time stamp and line end: main log "[ERROR] text", RWPM
// and IPCMSG "text".
class LogSandbox : public testsupport::LogSandbox {
 public:
  LogSandbox(int ipc_memory, int ipc_msg) : testsupport::LogSandbox("managerlink-") {
    Start("LogLevel=4\nIPCMemory=" + std::to_string(ipc_memory) +
          "\nIPCMsg=" + std::to_string(ipc_msg) + "\n");
  }
  // "14:03:07.015 " before, " \r\r\n" after.
  std::vector<std::string> MainLines() const { return Lines("error_", 13, " \r\r\n"); }
  // "2026-12-05-14:03:07.015, " before, " \r\n" after.
  std::vector<std::string> RwpmLines() const { return Lines("RWPM_", 25, " \r\n"); }
  std::vector<std::string> IpcMsgLines() const { return Lines("IPCMSG_", 25, " \r\n"); }
  bool HasRwpmFile() const { return !Files("RWPM_").empty(); }
};

// Byte i is (i * 7 + seed) & 0xFF.
std::vector<std::byte> Pattern(size_t size, uint8_t seed) {
  std::vector<std::byte> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::byte>((i * 7 + seed) & 0xFF);
  return bytes;
}

constexpr platform::WindowHandle kHostWindow = 0x1234567;

std::string ReadFailure(const std::string& reason, const std::string& proto, int64_t size) {
  return "[ERROR] [RWPM]ReadGSMMemory Failed!! " + reason + " tIndex[3], proto[" + proto +
         "], proto_size[" + std::to_string(size) + "]";
}

std::unique_ptr<gsmsim::ManagerPeer> StartPeer() {
  std::string error;
  auto peer = gsmsim::ManagerPeer::Start(&error);
  EXPECT_NE(peer, nullptr) << error;
  return peer;
}

// A record as the manager's window receives it: dwData, wParam = the host
// window, the index and the record's bytes (other records: ShellRows,
// DispatchTest). A vanished window gets nothing, and nothing is logged.
TEST(ManagerLinkPost, PostsAndRecordsArriveAsSentAndAVanishedWindowGetsNothing) {
  LogSandbox logs(1, 1);
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

// The real system calls but those a test fails; counts the process opens.
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
  std::unique_ptr<LogSandbox> logs_ = std::make_unique<LogSandbox>(0, 0);
  std::unique_ptr<gsmsim::ManagerPeer> peer_;
  FaultySystem system_;
  CManagerLink link_{system_};
};

// The window is this process's: a read past the checks reads this memory.
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

  const std::vector<std::byte> source = Pattern(64, 11);
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

  EXPECT_THAT(logs_->MainLines(), ElementsAre(ReadFailure("m_hManagerWnd is INVALID", "28672", 16),
                                              ReadFailure("Address is null", "0", 16),
                                              ReadFailure("buffer is INVALID", "28672", 16),
                                              ReadFailure("buffer is INVALID", "28672", 0),
                                              ReadFailure("buffer is INVALID", "28672", -4),
                                              ReadFailure("ProcessID is INVALID", "28672", 16),
                                              ReadFailure("OpenProcess Error!!", "28672", 16),
                                              ReadFailure("ReadProcessMemory Error!!", "8", 16)));
}

// With dumps on: a record that cannot be allocated is named, not dumped; a
// failed read hands nothing on, keeps the table and dumps the record's
// defaults, never partly read bytes; the next fetches hand on whole records.
TEST_F(ReadGSMMemoryTest, FetchesHandOnWholeRecordsOrNothing) {
  logs_.reset();
  logs_ = std::make_unique<LogSandbox>(1, 1);
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
  user.USN = 0x8000000000000005ull;  // above 2^63-1: dumped negative
  user.SlotIdx = 17;
  const auto user_at = reinterpret_cast<int64_t>(&user);
  platform::fault::Arm(platform::fault::Point::kProcessRead, 1, EFAULT);
  EXPECT_FALSE(link_.FetchRecord<PROTO_GAME_USER_INFO>(user_at, count));
  EXPECT_FALSE(link_.ReceiveAddressTable(8));
  EXPECT_EQ(handled, 0);
  EXPECT_EQ(link_.AddressTable().At(0, 0), 0u);

  EXPECT_TRUE(link_.FetchRecord<PROTO_GAME_USER_INFO>(user_at, [&](const auto& record) {
    EXPECT_EQ(std::memcmp(&record, &user, sizeof(user)), 0);
  }));
  link_.LogRecvNotice(GAMESERVERMSG_INSERTCHARACTER, user_at);
  auto host = std::make_unique<PROTO_START_HOST>();  // the largest record read by address
  std::memcpy(host->GameLogSerial, "SERIAL-42", 10);
  host->Users[49].USN = 4242;
  EXPECT_TRUE(link_.FetchRecord<PROTO_START_HOST>(
      reinterpret_cast<int64_t>(host.get()),
      [&](const auto& record) { EXPECT_EQ(std::memcmp(&record, host.get(), sizeof(record)), 0); }));
  // Row 53 stops at its first zero address; row 0 is empty and gives no line.
  RWPM_ADDRESS_TABLE table;
  table.Address[53][0] = 0x1000;
  table.Address[53][1] = 0x2000;
  table.Address[53][3] = 0x4000;
  ASSERT_TRUE(link_.ReceiveAddressTable(reinterpret_cast<int64_t>(&table)));
  EXPECT_EQ(link_.AddressTable().At(53, 1), 0x2000u);
  EXPECT_EQ(link_.AddressTable().At(53, 3), 0x4000u);

  // Addresses are printed as a long: cut to 32 bits on Windows.
  const std::string user_address = std::to_string(static_cast<long>(user_at));
  const std::string no_memory = "[ERROR] [RWPM][ERROR : New Memory Error!!] ";
  EXPECT_THAT(logs_->MainLines(),
              ElementsAre(no_memory + "PROTO_START_HOST", no_memory + "PROTO_GAME_USER_INFO",
                          no_memory + "PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT",
                          no_memory + "PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT",
                          no_memory + "GAMESERVERMSG_USER_DISCONNECTED",
                          no_memory + "LPVOID[GAMESERVERMSG_MAX * IPC_ROOM_MAX_USER]",
                          ReadFailure("ReadProcessMemory Error!!", user_address, sizeof(user)),
                          ReadFailure("ReadProcessMemory Error!!", "8", 24400)));
  // The all-zero table has no row to print.
  EXPECT_THAT(
      logs_->RwpmLines(),
      ElementsAre(proto::DumpText(proto::kRecvTag, 3, PROTO_GAME_USER_INFO{}),
                  StartsWith("[RECV], 3, PROTO_GAME_USER_INFO, [-9223372036854775803]"),
                  AllOf(StartsWith("[RECV], 3, PROTO_START_HOST, "), HasSubstr("SERIAL-42")),
                  "[RECV], 3, MEMORY_ADDRESS[53], [4096][8192]"));
  EXPECT_THAT(logs_->IpcMsgLines(),
              ElementsAre("[RECV] tIndex[03], msgID[13], address[" + user_address + "]"));
}

// A process's memory, this one's here: each handle only for its access; no
// process, no handle (a pid above every pid_max the kernel allows, 2^22).
TEST(ProcessMemory, ReadsAndWritesWithinItsAccess) {
  std::vector<std::byte> memory = Pattern(300, 1);
  const auto at = reinterpret_cast<uint64_t>(memory.data());
  const uint32_t self = platform::CurrentProcessId();
  auto reader = ProcessMemory::Open(self, ProcessMemoryAccess::kRead);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->pid(), self);
  std::vector<std::byte> got(300);
  ASSERT_TRUE(reader->Read(at, got.data(), got.size()));
  EXPECT_EQ(got, memory);
  EXPECT_FALSE(reader->Read(8, got.data(), 4)) << "page 0 is never mapped";
  EXPECT_FALSE(reader->Read(~uint64_t{0} - 2, got.data(), 4)) << "range wraps around";
  EXPECT_FALSE(reader->Write(at, got.data(), 4)) << "opened for reading only";

  auto writer = ProcessMemory::Open(self, ProcessMemoryAccess::kWrite);
  ASSERT_NE(writer, nullptr);
  const std::vector<std::byte> patch = Pattern(10, 200);
  ASSERT_TRUE(writer->Write(at + 5, patch.data(), patch.size()));
  EXPECT_FALSE(writer->Read(at, got.data(), 4)) << "opened for writing only";
  std::copy(patch.begin(), patch.end(), got.begin() + 5);
  EXPECT_EQ(memory, got);

  EXPECT_EQ(ProcessMemory::Open(0, ProcessMemoryAccess::kRead), nullptr);
  EXPECT_EQ(ProcessMemory::Open(0x7FFFFFF0u, ProcessMemoryAccess::kRead), nullptr);
  EXPECT_EQ(ProcessMemory::Open(0xFFFFFFFFu, ProcessMemoryAccess::kWrite), nullptr);
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

// The process-memory seam and the record fetch against a manager in a
// process of its own (the test binary relaunched with "--manager").
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link_test_support.h"
#include "managerlink/managerlink.h"
#include "platform/identity.h"
#include "platform/process_memory.h"

namespace {

using platform::ProcessMemory;
using platform::ProcessMemoryAccess;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

template <typename Record>
std::span<const std::byte> BytesOf(const Record& record) {
  return {reinterpret_cast<const std::byte*>(&record), sizeof(Record)};
}

TEST(ProcessMemoryIpc, ReadsAndWritesAnotherProcessWithinItsAccess) {
  auto manager = linktest::ManagerProcess::Start();
  ASSERT_NE(manager, nullptr);
  ASSERT_NE(manager->pid(), platform::CurrentProcessId());
  const std::vector<std::byte> pattern = linktest::Pattern(300, 1);
  const uint64_t address = manager->Put(pattern);
  ASSERT_NE(address, 0u);

  auto reader = ProcessMemory::Open(manager->pid(), ProcessMemoryAccess::kRead);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->pid(), manager->pid());
  std::vector<std::byte> got(300);
  ASSERT_TRUE(reader->Read(address, got.data(), got.size()));
  EXPECT_EQ(got, pattern);
  EXPECT_FALSE(reader->Read(8, got.data(), 4)) << "page 0 is never mapped";
  EXPECT_FALSE(reader->Read(~uint64_t{0} - 2, got.data(), 4)) << "range wraps around";
  EXPECT_FALSE(reader->Write(address, got.data(), 4)) << "opened for reading only";

  auto writer = ProcessMemory::Open(manager->pid(), ProcessMemoryAccess::kWrite);
  ASSERT_NE(writer, nullptr);
  const std::vector<std::byte> patch = linktest::Pattern(10, 200);
  ASSERT_TRUE(writer->Write(address + 5, patch.data(), patch.size()));
  EXPECT_FALSE(writer->Read(address, got.data(), 4)) << "opened for writing only";
  std::vector<std::byte> expected = pattern;
  std::copy(patch.begin(), patch.end(), expected.begin() + 5);
  EXPECT_EQ(manager->Get(address), expected);

  // Once the process has ended, its handles read nothing; no process, no
  // handle (a pid above every pid_max the kernel allows, 2^22).
  manager->Stop();
  EXPECT_FALSE(reader->Read(address, got.data(), got.size()));
  EXPECT_FALSE(writer->Write(address, patch.data(), patch.size()));
  EXPECT_EQ(ProcessMemory::Open(0, ProcessMemoryAccess::kRead), nullptr);
  EXPECT_EQ(ProcessMemory::Open(0x7FFFFFF0u, ProcessMemoryAccess::kRead), nullptr);
  EXPECT_EQ(ProcessMemory::Open(0xFFFFFFFFu, ProcessMemoryAccess::kWrite), nullptr);
}

class ManagerLinkIpc : public ::testing::Test {
 protected:
  void Start(int ipc_memory, int ipc_msg) {
    logs_ = std::make_unique<linktest::LogSandbox>(ipc_memory, ipc_msg);
    manager_ = linktest::ManagerProcess::Start();
    ASSERT_NE(manager_, nullptr);
    link_.Attach(manager_->window(), 0x4242, 3);
  }
  // Puts `record` in the manager's memory and fetches it back: true when
  // the fetch handed on the same bytes.
  template <typename Record>
  bool RoundTrip(const Record& record, uint64_t* address = nullptr) {
    const uint64_t at = manager_->Put(BytesOf(record));
    if (address != nullptr) *address = at;
    bool same = false;
    const bool fetched = link_.FetchRecord<Record>(
        static_cast<int64_t>(at),
        [&](const Record& got) { same = std::memcmp(&got, &record, sizeof(Record)) == 0; });
    return at != 0 && fetched && same;
  }

  std::unique_ptr<linktest::LogSandbox> logs_;
  std::unique_ptr<linktest::ManagerProcess> manager_;
  CManagerLink link_;
};

TEST_F(ManagerLinkIpc, FetchesRecordsFromTheManagerAndDumpsThem) {
  Start(1, 1);

  PROTO_GAME_USER_INFO user;
  user.USN = 0x8000000000000005ull;  // above 2^63-1: dumped negative
  user.TeamIdx = -1;
  user.SlotIdx = 17;
  uint64_t userAddress = 0;
  EXPECT_TRUE(RoundTrip(user, &userAddress));
  link_.LogRecvNotice(GAMESERVERMSG_INSERTCHARACTER, static_cast<int64_t>(userAddress));
  // The largest record read by address.
  auto host = std::make_unique<PROTO_START_HOST>();
  std::memcpy(host->GameLogSerial, "SERIAL-42", 10);
  host->Users[49].USN = 4242;
  EXPECT_TRUE(RoundTrip(*host));
  PROTO_USER_DISCONNECTED gone;
  gone.USN = 0x8000000000000001ull;
  EXPECT_TRUE(RoundTrip(gone));

  // Row 53 stops at its first zero address; row 0 is empty and gives no line.
  RWPM_ADDRESS_TABLE table;
  table.Address[53][0] = 0x1000;
  table.Address[53][1] = 0x2000;
  table.Address[53][3] = 0x4000;
  ASSERT_TRUE(link_.ReceiveAddressTable(static_cast<int64_t>(manager_->Put(BytesOf(table)))));
  EXPECT_EQ(link_.AddressTable().At(53, 1), 0x2000u);
  EXPECT_EQ(link_.AddressTable().At(53, 3), 0x4000u);

  EXPECT_THAT(logs_->MainLines(), IsEmpty());
  EXPECT_THAT(logs_->IpcMsgLines(), ElementsAre("[RECV] tIndex[03], msgID[13], address[" +
                                                std::to_string(userAddress) + "]"));
  EXPECT_THAT(
      logs_->RwpmLines(),
      ElementsAre(StartsWith("[RECV], 3, PROTO_GAME_USER_INFO, [-9223372036854775803]"),
                  AllOf(StartsWith("[RECV], 3, PROTO_START_HOST, "), HasSubstr("SERIAL-42")),
                  "[RECV], 3, GAMESERVERMSG_USER_DISCONNECTED, [-9223372036854775807]",
                  "[RECV], 3, MEMORY_ADDRESS[53], [4096][8192]"));
}

// The manager's process ends: its window goes with it, and the next read
// fails on the window check rather than on the memory.
TEST_F(ManagerLinkIpc, ManagerThatEndedFailsTheWindowCheck) {
  Start(1, 0);
  PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT result;
  const uint64_t address = manager_->Put(BytesOf(result));
  ASSERT_NE(address, 0u);
  manager_->Stop();
  EXPECT_FALSE(link_.IsManagerWindowValid());
  bool handled = false;
  EXPECT_FALSE(link_.FetchRecord<PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT>(
      static_cast<int64_t>(address), [&](const auto&) { handled = true; }));
  EXPECT_FALSE(handled);
  EXPECT_THAT(logs_->MainLines(),
              ElementsAre("[ERROR] [RWPM]ReadGSMMemory Failed!! m_hManagerWnd is INVALID "
                          "tIndex[3], proto[" +
                          std::to_string(address) + "], proto_size[184]"));
  // The dump of the defaults is still written.
  EXPECT_THAT(
      logs_->RwpmLines(),
      ElementsAre(StartsWith("[RECV], 3, PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT, ")));
}

}  // namespace

int main(int argc, char** argv) {
  int exit_code = 0;
  if (linktest::RunAsManagerProcess(argc, argv, &exit_code)) return exit_code;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// The process-memory seam and the record fetch against a manager in a
// process of its own: the test binary relaunched with "--manager", holding
// a manager peer window and buffers in its memory, commanded over its stdin.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "gsmsim/peer/manager_peer.h"
#include "link_test_support.h"
#include "managerlink/managerlink.h"
#include "platform/identity.h"
#include "platform/process.h"
#include "platform/process_memory.h"

namespace {

using platform::ProcessMemory;
using platform::ProcessMemoryAccess;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

std::string ToHex(std::span<const std::byte> bytes) {
  std::string text;
  char digits[3];
  for (std::byte b : bytes) {
    std::snprintf(digits, sizeof(digits), "%02x", std::to_integer<unsigned>(b));
    text += digits;
  }
  return text;
}

std::vector<std::byte> FromHex(const std::string& text) {
  std::vector<std::byte> bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(static_cast<std::byte>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// The manager side: "put HEX" answers a buffer's address, "get ADDRESS"
// answers "=HEX" of its current bytes.
int ManagerMain() {
  std::string error;
  auto peer = gsmsim::ManagerPeer::Start(&error);
  if (peer == nullptr) {
    std::fprintf(stderr, "manager peer: %s\n", error.c_str());
    return 2;
  }
  std::printf("%llu\n", static_cast<unsigned long long>(peer->handle()));
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line) && line != "quit") {
    if (line.rfind("put ", 0) == 0) {
      std::printf("%llu\n",
                  static_cast<unsigned long long>(peer->AddBuffer(FromHex(line.substr(4)))));
    } else if (line.rfind("get ", 0) == 0) {
      std::printf("=%s\n", ToHex(peer->ReadBuffer(std::stoull(line.substr(4)))).c_str());
    }
    std::fflush(stdout);
  }
  return 0;
}

class ManagerProcess {
 public:
  ManagerProcess() {
    platform::ProcessOptions options;
    options.program = platform::ExecutablePath();
    options.args = {"--manager"};
    options.std_in = platform::StdStream::kPipe;
    options.std_out = platform::StdStream::kPipe;
    std::string error;
    process_ = platform::Process::Start(options, &error);
    std::string line;
    if (process_ != nullptr && process_->ReadStdoutLine(&line, 20000)) {
      window_ = std::strtoull(line.c_str(), nullptr, 10);
    }
    EXPECT_NE(window_, 0u) << "the manager process did not report its window: " << error << line;
  }
  ~ManagerProcess() { Stop(); }

  platform::WindowHandle window() const { return window_; }
  uint32_t pid() const { return process_->pid(); }

  // A buffer in the manager's memory holding `bytes`; its address, or 0.
  uint64_t Put(std::span<const std::byte> bytes) {
    return std::strtoull(Ask("put " + ToHex(bytes)).c_str(), nullptr, 10);
  }
  template <typename Record>
  uint64_t PutRecord(const Record& record) {
    return Put({reinterpret_cast<const std::byte*>(&record), sizeof(Record)});
  }
  std::vector<std::byte> Get(uint64_t address) {
    const std::string answer = Ask("get " + std::to_string(address));
    return answer.empty() || answer[0] != '=' ? std::vector<std::byte>{}
                                              : FromHex(answer.substr(1));
  }
  // Ends the process and waits for it: its window is gone afterwards.
  void Stop() {
    if (process_ == nullptr) return;
    process_->WriteStdin("quit\n");
    process_->CloseStdin();
    if (!process_->Wait(20000)) process_->Kill();
    process_->Wait(-1);
    process_.reset();
  }

 private:
  std::string Ask(const std::string& command) {
    std::string line;
    if (process_ == nullptr || !process_->WriteStdin(command + "\n")) return line;
    if (!process_->ReadStdoutLine(&line, 20000)) line.clear();
    return line;
  }

  std::unique_ptr<platform::Process> process_;
  platform::WindowHandle window_ = 0;
};

TEST(ManagerLinkIpc, ReadsWritesAndFetchesRecordsWithinTheManagersLife) {
  linktest::LogSandbox logs(1, 1);
  ManagerProcess manager;
  ASSERT_NE(manager.window(), 0u);
  ASSERT_NE(manager.pid(), platform::CurrentProcessId());
  const std::vector<std::byte> pattern = linktest::Pattern(300, 1);
  const uint64_t address = manager.Put(pattern);
  ASSERT_NE(address, 0u);

  auto reader = ProcessMemory::Open(manager.pid(), ProcessMemoryAccess::kRead);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(reader->pid(), manager.pid());
  std::vector<std::byte> got(300);
  ASSERT_TRUE(reader->Read(address, got.data(), got.size()));
  EXPECT_EQ(got, pattern);
  EXPECT_FALSE(reader->Read(8, got.data(), 4)) << "page 0 is never mapped";
  EXPECT_FALSE(reader->Read(~uint64_t{0} - 2, got.data(), 4)) << "range wraps around";
  EXPECT_FALSE(reader->Write(address, got.data(), 4)) << "opened for reading only";

  auto writer = ProcessMemory::Open(manager.pid(), ProcessMemoryAccess::kWrite);
  ASSERT_NE(writer, nullptr);
  const std::vector<std::byte> patch = linktest::Pattern(10, 200);
  ASSERT_TRUE(writer->Write(address + 5, patch.data(), patch.size()));
  EXPECT_FALSE(writer->Read(address, got.data(), 4)) << "opened for writing only";
  std::vector<std::byte> expected = pattern;
  std::copy(patch.begin(), patch.end(), expected.begin() + 5);
  EXPECT_EQ(manager.Get(address), expected);

  // Records fetched by address arrive whole and are dumped.
  CManagerLink link;
  link.Attach(manager.window(), 0x4242, 3);
  PROTO_GAME_USER_INFO user;
  user.USN = 0x8000000000000005ull;  // above 2^63-1: dumped negative
  user.SlotIdx = 17;
  auto host = std::make_unique<PROTO_START_HOST>();  // the largest record read by address
  std::memcpy(host->GameLogSerial, "SERIAL-42", 10);
  host->Users[49].USN = 4242;
  const uint64_t user_at = manager.PutRecord(user);
  const uint64_t host_at = manager.PutRecord(*host);
  int same = 0;
  EXPECT_TRUE(link.FetchRecord<PROTO_GAME_USER_INFO>(static_cast<int64_t>(user_at), [&](auto& r) {
    same += std::memcmp(&r, &user, sizeof(user)) == 0;
  }));
  EXPECT_TRUE(link.FetchRecord<PROTO_START_HOST>(static_cast<int64_t>(host_at), [&](auto& r) {
    same += std::memcmp(&r, host.get(), sizeof(PROTO_START_HOST)) == 0;
  }));
  EXPECT_EQ(same, 2);
  link.LogRecvNotice(GAMESERVERMSG_INSERTCHARACTER, static_cast<int64_t>(user_at));
  // Row 53 stops at its first zero address; row 0 is empty and gives no line.
  RWPM_ADDRESS_TABLE table;
  table.Address[53][0] = 0x1000;
  table.Address[53][1] = 0x2000;
  table.Address[53][3] = 0x4000;
  ASSERT_TRUE(link.ReceiveAddressTable(static_cast<int64_t>(manager.PutRecord(table))));
  EXPECT_EQ(link.AddressTable().At(53, 1), 0x2000u);
  EXPECT_EQ(link.AddressTable().At(53, 3), 0x4000u);
  EXPECT_THAT(logs.MainLines(), IsEmpty());
  EXPECT_THAT(logs.IpcMsgLines(), ElementsAre("[RECV] tIndex[03], msgID[13], address[" +
                                              std::to_string(user_at) + "]"));
  EXPECT_THAT(
      logs.RwpmLines(),
      ElementsAre(StartsWith("[RECV], 3, PROTO_GAME_USER_INFO, [-9223372036854775803]"),
                  AllOf(StartsWith("[RECV], 3, PROTO_START_HOST, "), HasSubstr("SERIAL-42")),
                  "[RECV], 3, MEMORY_ADDRESS[53], [4096][8192]"));

  // Once the process has ended its window is gone and its handles read
  // nothing; no process, no handle (a pid above every pid_max the kernel
  // allows, 2^22).
  manager.Stop();
  EXPECT_FALSE(link.IsManagerWindowValid());
  EXPECT_FALSE(reader->Read(address, got.data(), got.size()));
  EXPECT_FALSE(writer->Write(address, patch.data(), patch.size()));
  EXPECT_EQ(ProcessMemory::Open(0, ProcessMemoryAccess::kRead), nullptr);
  EXPECT_EQ(ProcessMemory::Open(0x7FFFFFF0u, ProcessMemoryAccess::kRead), nullptr);
  EXPECT_EQ(ProcessMemory::Open(0xFFFFFFFFu, ProcessMemoryAccess::kWrite), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--manager") == 0) return ManagerMain();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

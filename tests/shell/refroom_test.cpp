// The reference module's room loaded in process: its answers to the host's
// messages byte by byte (an 8-bit id, then little-endian fields), `status`,
// and `emit`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>

#include "interface/igameserver.h"
#include "interface/moduleexports.h"
#include "interface/serverapphandler.h"
#include "ltmessage.h"
#include "platform/library.h"
#include "protocol/serverappmsg.h"
#include "protocol/tomodule.h"
#include "support/log_sandbox.h"

namespace {

using ::testing::IsSupersetOf;

// A module message as its size in bits and its bytes (the id first).
struct Kept {
  uint32_t bits = 0;
  std::vector<uint8_t> bytes;
};

class RecordingHandler final : public ServerAppHandler {
 public:
  int32_t OnShellMessage(ILTMessage_Read* message) override {
    Kept kept;
    kept.bits = message->Size();
    kept.bytes.resize((kept.bits + 7) / 8);
    message->ReadData(kept.bytes.data(), kept.bits);
    messages.push_back(std::move(kept));
    return 0;
  }
  int32_t WriteLog(int32_t, int32_t, const char* text) override {
    lines.emplace_back(text);
    if (!lines.back().empty()) lines.back().pop_back();
    return 0;
  }
  uint32_t GetProcessMemoryUsage() override { return 0; }

  std::vector<Kept> messages;
  std::vector<std::string> lines;
};

// The first `n` bytes of a kept message.
std::vector<uint8_t> Head(const Kept& kept, size_t n) {
  return {kept.bytes.begin(),
          kept.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(n, kept.bytes.size()))};
}

class RoomTest : public ::testing::Test {
 protected:
  void SetUp() override {
    library_ = platform::LoadLibrary(std::string(SERVERAPP_DIST_DIR) + "/" +
                                     platform::LibraryFileName("server_d_x64"));
    ASSERT_NE(library_, nullptr);
    create_ =
        reinterpret_cast<CreateServerFn>(platform::GetLibrarySymbol(library_, "CreateServer"));
    delete_ =
        reinterpret_cast<DeleteServerFn>(platform::GetLibrarySymbol(library_, "DeleteServer"));
    ASSERT_NE(create_, nullptr);
    ASSERT_NE(delete_, nullptr);
  }
  void TearDown() override {
    if (server_ != nullptr) delete_(true);
    if (library_ != nullptr) platform::FreeLibrary(library_);
  }

  void Start(const std::string& switches = "") {
    std::ofstream("ReferenceModule.ini") << "[Module]\n" << switches;
    void* data = nullptr;
    ASSERT_EQ(create_(SERVER_INTERFACE_VERSION, &data, &server_), 0);
    ASSERT_EQ(server_->SetAppHandler(&handler_), 0);
  }

  // Delivers one host message written by `write`.
  int32_t Deliver(const std::function<void(ILTMessage_Write&)>& write) {
    ILTMessage_Write* writer = refmod::CLTMessageWrite::Create();
    writer->Acquire();
    write(*writer);
    int32_t result = server_->SendToServerShell(writer->ToReadable());
    writer->Release();
    return result;
  }

  int32_t DeliverUser(uint64_t usn, int32_t slot) {
    auto user = std::make_unique<PROTO_GAME_USER_INFO>();
    user->USN = usn;
    user->SlotIdx = slot;
    return Deliver([&](ILTMessage_Write& w) { proto::WriteInsertCharacter(w, *user); });
  }

  // The current folder, holding ReferenceModule.ini.
  testsupport::LogSandbox sandbox_{"refroom-"};
  platform::LibraryHandle library_ = nullptr;
  CreateServerFn create_ = nullptr;
  DeleteServerFn delete_ = nullptr;
  IGameServer* server_ = nullptr;
  RecordingHandler handler_;
};

TEST_F(RoomTest, AnswersMapUsersAndDisconnectsLikeARoom) {
  Start();
  PROTO_SERVERAPPMSG_INIT init;
  init.tMapIndex = 5;
  init.roundType = 1;
  init.MatchType = 42;
  init.bLoad = true;
  ASSERT_EQ(Deliver([&](ILTMessage_Write& w) { proto::WriteServerAppMsgInit(w, init); }), 0);
  ASSERT_EQ(handler_.messages.size(), 1u);
  EXPECT_EQ(handler_.messages[0].bytes,
            (std::vector<uint8_t>{SERVERAPPMSG_LOADING_COMPLETE, 5, 0}));

  ASSERT_EQ(DeliverUser(1000, 3), 0);
  ASSERT_EQ(DeliverUser(2000, 300), 0);
  EXPECT_EQ(server_->GetUserCount(), 2);
  ASSERT_EQ(handler_.messages.size(), 3u);
  // USN (64 bits), id kind (32), first (16): the slot.
  EXPECT_EQ(
      Head(handler_.messages[1], 15),
      (std::vector<uint8_t>{SERVERAPPMSG_ADDCLIENT, 0xE8, 3, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 3, 0}));

  ASSERT_EQ(Deliver([](ILTMessage_Write& w) { proto::WriteUserDisconnected(w, 1000); }), 0);
  ASSERT_EQ(Deliver([](ILTMessage_Write& w) { proto::WriteUserDisconnected(w, 555); }), 0);
  EXPECT_EQ(server_->GetUserCount(), 1);
  // Nothing to remove for the unknown user; the removal's fields: GsmsimRun's demo.
  ASSERT_EQ(handler_.messages.size(), 4u);
  EXPECT_EQ(handler_.messages[3].bytes[0], SERVERAPPMSG_REMOVECLIENT);

  // A message cut short is refused and not answered.
  EXPECT_EQ(Deliver([](ILTMessage_Write& w) { w.WriteBits(SERVERAPPMSG_INSERTCHARACTER, 8); }), 2);
  ASSERT_EQ(handler_.messages.size(), 4u);
  ASSERT_EQ(Deliver([](ILTMessage_Write& w) { proto::WriteLogSerial(w, "SER-9"); }), 0);
  ASSERT_EQ(Deliver([](ILTMessage_Write& w) { proto::WriteReset(w); }), 0);
  ASSERT_EQ(Deliver([](ILTMessage_Write& w) { proto::WriteReset(w); }), 0);
  EXPECT_EQ(server_->GetUserCount(), 0);

  handler_.lines.clear();
  ASSERT_EQ(server_->RunConsoleString("status"), 0);
  EXPECT_THAT(handler_.lines,
              IsSupersetOf({"map 5, round type 1, match type 42, map inits 1, flags load=1 "
                            "second=0 additional=0",
                            "game infos 0 (last 0 bits, first 0), resets 2, log serial SER-9",
                            "no users", "messages 9, packages 0, manager "}));
}

// What `emit` sends through the host is ShellRows'; here the mistakes it refuses.
TEST_F(RoomTest, EmitRefusesMistakes) {
  Start();
  for (const char* bad : {"emit NOPE", "emit MODULE_VALUES bogus=1", "emit MODULE_VALUES first=x",
                          "emit REMOVECLIENT u32@54=1", "emit GAMEEND bytes=109985", "emit 256",
                          "emit 50 a=1", "emit AIGACHA_ITEM_INSERT count=5000 entries=5000"}) {
    EXPECT_EQ(server_->RunConsoleString(bad), 1) << bad;
  }
  EXPECT_TRUE(handler_.messages.empty());
}

}  // namespace

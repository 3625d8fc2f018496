// Records built for the host from field assignments, and the ini edits a
// scenario makes in a room's folder.
#include "outgoing.h"

#include <gtest/gtest.h>

#include <cstring>

#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "room_runner.h"

namespace gsmsim {
namespace {

template <typename T>
T Read(const std::vector<std::byte>& bytes, size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

TEST(OutgoingRecord, FieldsLandAtTheRecordsOffsetsOverItsDefaults) {
  std::string error;
  const std::vector<std::string> start{"f123=1.5",
                                       "f1352[2][7].text=ABCDEFGHIJK",
                                       "f1352[0][1].f0=9",
                                       "Users[49].f78[6].second=-2",
                                       "Users[1].f134[49][15]=0xFF",
                                       "f8=-1",
                                       "f4=4294967295"};
  const auto record = BuildOutgoingRecord(GAMESERVERMSG_START_HOST, start, &error);
  ASSERT_TRUE(record) << error;
  const auto& b = record->bytes;
  EXPECT_EQ(Read<float>(b, offsetof(PROTO_START_HOST, f123)), 1.5f);
  // Entry [2][7] of 12-byte entries; its text fills all 11 bytes.
  const size_t entry = offsetof(PROTO_START_HOST, f1352) + (2 * 8 + 7) * 12;
  EXPECT_EQ(std::memcmp(b.data() + entry + 1, "ABCDEFGHIJK", 11), 0);
  EXPECT_EQ(Read<uint8_t>(b, offsetof(PROTO_START_HOST, f1352) + 12), 9);
  const size_t user49 = offsetof(PROTO_START_HOST, Users) + 49 * sizeof(PROTO_GAME_USER_INFO);
  EXPECT_EQ(Read<int32_t>(b, user49 + offsetof(PROTO_GAME_USER_INFO, f78) + 6 * 8 + 4), -2);
  EXPECT_EQ(user49 + sizeof(PROTO_GAME_USER_INFO), b.size());
  const size_t user1 = offsetof(PROTO_START_HOST, Users) + sizeof(PROTO_GAME_USER_INFO);
  EXPECT_EQ(Read<uint8_t>(b, user1 + offsetof(PROTO_GAME_USER_INFO, f134) + 49 * 16 + 15), 0xFF);
  EXPECT_EQ(Read<int32_t>(b, offsetof(PROTO_START_HOST, f8)), -1);
  EXPECT_EQ(Read<uint32_t>(b, offsetof(PROTO_START_HOST, f4)), 0xFFFFFFFFu);

  // Defaults stay where nothing was set: the disconnect USN is all ones.
  const auto usn = BuildOutgoingRecord(GAMESERVERMSG_USER_DISCONNECTED, {}, &error);
  ASSERT_TRUE(usn);
  EXPECT_EQ(Read<uint64_t>(usn->bytes, 0), ~uint64_t{0});
  // cbData pads with zeros as well as it cuts.
  const auto padded = BuildOutgoingRecord(GAMESERVERMSG_USER_DISCONNECTED,
                                          std::vector<std::string>{"cbData=10"}, &error);
  ASSERT_TRUE(padded);
  EXPECT_EQ(padded->bytes.size(), 10u);
  EXPECT_EQ(Read<uint16_t>(padded->bytes, 8), 0);
}

TEST(OutgoingRecord, RefusesWhatTheRecordCannotHold) {
  std::string error;
  const auto refused = [&](uint16_t id, std::string assignment) {
    return !BuildOutgoingRecord(id, std::vector<std::string>{assignment}, &error).has_value();
  };
  EXPECT_TRUE(refused(GAMESERVERMSG_START_HOST, "Users[0]=1"));
  EXPECT_EQ(error, "Users[0]: \"Users\" needs a member (Users[i].NAME)");
  EXPECT_TRUE(refused(GAMESERVERMSG_START_HOST, "f133=1"));
  EXPECT_EQ(error, "f133: \"f133\" takes 1 index(es)");
  EXPECT_TRUE(refused(GAMESERVERMSG_START_HOST, "f133[x]=1"));
  EXPECT_EQ(error, "f133[x]: bad index in \"f133[x]\"");
  EXPECT_TRUE(refused(GAMESERVERMSG_START_HOST, "f123=fast"));
  EXPECT_EQ(error, "f123: \"fast\" is not a number");
  EXPECT_TRUE(refused(GAMESERVERMSG_START_HOST, "f28=65536"));
  EXPECT_TRUE(refused(GAMESERVERMSG_START_HOST, "f28=1x"));
  EXPECT_TRUE(refused(GAMESERVERMSG_START_HOST, "f0.x=1"));
  EXPECT_TRUE(refused(GAMESERVERMSG_RWPM_ADDRESS_TABLE, "Address[61][0]=1"));
  EXPECT_TRUE(refused(GAMESERVERMSG_RWPM_ADDRESS_TABLE, "Address[0][50]=1"));
  EXPECT_TRUE(refused(GAMESERVERMSG_LOG_SERIAL, "serial=1"));
  EXPECT_TRUE(refused(GAMESERVERMSG_START_HOST, "cbData=4194305"));
  EXPECT_TRUE(refused(GAMESERVERMSG_GAMEEND, "f24=1"));
  EXPECT_EQ(error, "no manager-to-host record for message 8");
  EXPECT_FALSE(IsOutgoingRecordId(GAMESERVERMSG_HOST_HEARTBEAT));
  EXPECT_TRUE(IsOutgoingRecordId(GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO));
}

TEST(IniEdit, ReplacesAddsAndCreatesKeysAndSections) {
  const std::string text =
      "; head\n[LogInfo]\nLogLevel=4\n; LogLevel=9 stays a comment\n\n[Other]\nKey=1\n";
  EXPECT_EQ(SetIniValue(text, "loginfo", "LOGLEVEL", "5"),
            "; head\r\n[LogInfo]\r\nLOGLEVEL=5\r\n; LogLevel=9 stays a comment\r\n\r\n"
            "[Other]\r\nKey=1\r\n");
  EXPECT_EQ(SetIniValue(text, "LogInfo", "IPCMsg", "1"),
            "; head\r\n[LogInfo]\r\nLogLevel=4\r\n; LogLevel=9 stays a comment\r\nIPCMsg=1\r\n"
            "\r\n[Other]\r\nKey=1\r\n");
  EXPECT_EQ(SetIniValue(text, "Other", "New", "x"),
            "; head\r\n[LogInfo]\r\nLogLevel=4\r\n; LogLevel=9 stays a comment\r\n\r\n"
            "[Other]\r\nKey=1\r\nNew=x\r\n");
  EXPECT_EQ(SetIniValue("", "Module", "PreparingUpdates", "1"),
            "[Module]\r\nPreparingUpdates=1\r\n");
}

}  // namespace
}  // namespace gsmsim

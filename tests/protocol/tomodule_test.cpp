// Module messages the host writes, read back bit by bit in the order the
// module expects them.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "message_helpers.h"
#include "protocol/serverappmsg.h"
#include "protocol/tomodule.h"

namespace {

using namespace proto;
using prototest::TestMessage;

std::string ReadText(ILTMessage_Read& r) {
  char buffer[64] = {};
  r.ReadString(buffer, sizeof(buffer));
  return buffer;
}

std::unique_ptr<PROTO_START_HOST> SampleStartHost() {
  auto info = std::make_unique<PROTO_START_HOST>();
  info->f1645 = 0xC5;
  info->f121 = 1;
  info->f122 = 0;
  info->f130 = 7;  // any non-zero byte is true
  info->f131 = -3;
  info->f1650 = 1;
  info->f1651 = 0x101;  // true only when exactly 1, not by its low byte
  info->f49 = 0x49494949;
  info->f39 = -39;
  info->f53 = -53;
  info->f41 = 0x41414141;
  info->f59 = 59;
  info->f63 = 63;
  info->f55 = 55;
  info->f127 = 0x0127;
  info->f67 = -67;
  info->f69 = 69;
  info->f1349 = 1;
  for (int u = 0; u < 50; ++u) info->Users[u].USN = 1000 + u;
  info->f123 = 1.5f;
  info->f129 = 1;
  info->f1350 = -50;
  info->f45 = 45;
  info->f46 = 1;
  info->f132 = 1;
  info->f133[0] = 133;
  info->f133[1] = 137;
  for (int g = 0; g < 3; ++g) {
    for (int e = 0; e < 8; ++e) {
      const std::string text = "g" + std::to_string(g) + "e" + std::to_string(e);
      std::memcpy(info->f1352[g][e].text, text.c_str(), text.size() + 1);
    }
  }
  std::memcpy(info->f1352[2][7].text, "ELEVENCHARS", 11);  // no terminator
  info->f1640[0] = 1;
  info->f1351 = 0;
  info->f1640[1] = 0;
  info->f1640[2] = 1;
  info->f1640[3] = 0;
  info->f1640[4] = 1;
  info->f1646 = -1646;
  info->f1648 = 255;  // goes out as 0
  std::memcpy(info->GameLogSerial, "SERIAL-123", 11);
  info->f28 = 28;
  info->f30 = 30;
  info->f47 = 1;
  return info;
}

void ExpectFields(ILTMessage_Read& r, std::initializer_list<std::pair<uint32_t, int64_t>> fields) {
  for (const auto& [nBits, value] : fields) {
    const uint64_t expected = static_cast<uint64_t>(value) & (~uint64_t{0} >> (64 - nBits));
    EXPECT_EQ(r.ReadBits64(nBits), expected) << "field of " << nBits << " bits at " << r.Tell();
  }
}

TEST(ToModule, StartHostStreamOrderAndQuirks) {
  const auto info = SampleStartHost();
  TestMessage m;
  uint32_t bitsAtCallback = 0;
  WriteStartHost(m.W(), *info, [&] { bitsAtCallback = m.W().Size(); });
  ASSERT_FALSE(m.W().HasError());

  ILTMessage_Read& r = m.R();
  // The fields in the module's order: (width, value); negative values go
  // out sign-extended to their width. The second and the fourteenth are
  // constant false; the ninth is false as 1651 holds 0x101.
  ExpectFields(r, {{8, SERVERAPPMSG_START_HOST}, {1, 0}, {32, 0xC5}, {1, 1}, {1, 0}, {1, 1}});
  ExpectFields(r, {{8, -3}, {1, 1}, {1, 0}, {32, 0x49494949}, {32, -39}, {32, -53}});
  ExpectFields(r, {{32, 0x41414141}, {1, 0}, {32, 59}, {32, 63}, {8, 55}, {16, 0x0127}});
  ExpectFields(r, {{32, -67}, {32, 69}, {1, 1}});
  std::vector<uint8_t> users(sizeof(info->Users));
  r.ReadData(users.data(), static_cast<uint32_t>(users.size() * 8));
  EXPECT_EQ(std::memcmp(users.data(), info->Users, users.size()), 0);
  EXPECT_EQ(r.Tell(), bitsAtCallback);  // the callback ran right after the users
  // 0x3FC00000 is 1.5f.
  ExpectFields(r,
               {{32, 0x3FC00000}, {1, 1}, {8, -50}, {8, 45}, {1, 1}, {1, 1}, {32, 133}, {32, 137}});
  for (int g = 0; g < 3; ++g) {
    for (int e = 0; e < 8; ++e) {
      const std::string expected = (g == 2 && e == 7)
                                       ? std::string("ELEVENCHARS")
                                       : "g" + std::to_string(g) + "e" + std::to_string(e);
      EXPECT_EQ(ReadText(r), expected) << g << "," << e;
    }
  }
  // 1640, 1351, 1641 to 1644, then 255 + 1 in 8 bits.
  ExpectFields(r, {{1, 1}, {1, 0}, {1, 0}, {1, 1}, {1, 0}, {1, 1}, {32, -1646}, {8, 0}});
  EXPECT_EQ(ReadText(r), "SERIAL-123");
  ExpectFields(r, {{16, 28}, {16, 30}, {1, 1}});
  EXPECT_EQ(r.BitsLeft(), 0u);
  EXPECT_FALSE(r.IsOverrun());

  info->f1651 = 1;
  TestMessage one;
  WriteStartHost(one.W(), *info);
  one.R().Seek(8 + 1 + 32 + 1 + 1 + 1 + 8 + 1);
  EXPECT_EQ(one.R().ReadBits(1), 1u);
}

TEST(ToModule, AigachaItemInsertResultCountsIn16BitsButWritesUpToTen) {
  PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT result;
  result.USN = 0x55;
  result.SingleValue = 0xABCD;
  for (uint32_t i = 0; i < 10; ++i) {
    result.Entries[i].Value64 = 100 + i;
    result.Entries[i].Value32 = 0x10000 + i;  // only the low 16 bits go out
    result.Values[i] = 200 + i;
  }

  result.Count = 2;
  {
    TestMessage m;
    const EntryCount count = WriteAigachaItemInsertResult(m.W(), result);
    EXPECT_FALSE(count.Truncated());
    const std::vector<uint8_t> expected = {
        24,                                                // id
        0x55, 0,    0, 0, 0,   0, 0, 0,                    // USN
        2,    0,                                           // count (16 bits)
        0xCD, 0xAB, 0, 0,                                  // single value
        200,  0,    0, 0, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // entry 0
        201,  0,    0, 0, 101, 0, 0, 0, 0, 0, 0, 0, 1, 0,  // entry 1
        0xFF};                                             // end marker
    EXPECT_EQ(m.Bytes(), expected);
  }

  // 0x10003 goes out as 3 in 16 bits, yet the entries follow the full count,
  // cut to the record's ten.
  result.Count = 0x10003;
  TestMessage m;
  const EntryCount count = WriteAigachaItemInsertResult(m.W(), result);
  EXPECT_EQ(count.declared, 0x10003u);
  EXPECT_EQ(count.kept, 10u);
  EXPECT_TRUE(count.Truncated());
  ILTMessage_Read& r = m.R();
  r.Seek(8 + 64);
  EXPECT_EQ(r.ReadBits(16), 3u);
  EXPECT_EQ(m.Bytes().size(), 1 + 8 + 2 + 4 + 10 * 14 + 1u);
  EXPECT_EQ(m.Bytes().back(), 0xFF);
}

TEST(ToModule, AigachaGroupRateResultStaysInsideTheRecord) {
  PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT result;
  result.Count = 31;
  result.Entries[29].First = 0x2929;
  result.Entries[29].Rates[3] = -0.25;
  TestMessage m;
  const EntryCount count = WriteAigachaGroupRateResult(m.W(), result);
  EXPECT_EQ(count.declared, 31u);
  EXPECT_EQ(count.kept, 30u);
  ILTMessage_Read& r = m.R();
  EXPECT_EQ(r.ReadBits(8), SERVERAPPMSG_AIGACHA_GROUP_RATE_RESULT);
  EXPECT_EQ(r.ReadBits(32), 30u);  // the count that matches the entries
  r.Seek(8 + 32 + 29 * 320);
  EXPECT_EQ(r.ReadBits(32), 0x2929u);
  r.ReadBits(32);
  for (int k = 0; k < 3; ++k) r.ReadBits64(64);
  EXPECT_EQ(std::bit_cast<double>(r.ReadBits64(64)), -0.25);
  EXPECT_EQ(r.BitsLeft(), 0u);
}

TEST(ToModule, SmallMessagesGoldenBytes) {
  auto bytes = [](const std::function<void(ILTMessage_Write&)>& write) {
    TestMessage m;
    write(m.W());
    return m.Bytes();
  };
  using B = std::vector<uint8_t>;
  EXPECT_EQ(bytes([](auto& w) { WriteServerInfo(w, 0x01020304, 7); }),
            (B{39, 4, 3, 2, 1, 7, 0, 0, 0}));
  EXPECT_EQ(bytes([](auto& w) { WriteUserDisconnected(w, ~uint64_t{0}); }),
            (B{16, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(bytes([](auto& w) { WriteLogSerial(w, "AB"); }), (B{43, 'A', 'B', 0}));
  EXPECT_EQ(bytes([](auto& w) { WriteSpectatorRecommendRoomSelectNty(w, 0x9C); }), (B{36, 0x9C}));
  EXPECT_EQ(bytes([](auto& w) { WriteReset(w); }), (B{8}));
  // INIT: 16-bit map index, round type, load flag, cFixed (-1 by default),
  // match type, the second flag; no check byte by default.
  EXPECT_EQ(bytes([](auto& w) {
              PROTO_SERVERAPPMSG_INIT init;
              init.tMapIndex = 5;
              init.roundType = 42;
              init.bLoad = true;
              init.MatchType = 3;
              WriteServerAppMsgInit(w, init);
            }),
            (B{0, 5, 0, 42, 0xFF, 0x07, 0x00}));
  TestMessage m;
  WriteAdditionalRoomInfo(m.W(), true);
  EXPECT_EQ(m.W().Size(), 9u);
  EXPECT_EQ(m.Bytes(), (B{45, 1}));
}

TEST(ToModule, CheckByteTrailerWhenSwitchedOn) {
  // The reader swaps the nibbles of the first key, the writer does not: keys
  // whose nibbles are equal pass, others fail and clear the valid flag.
  for (uint8_t key1 : {uint8_t{0x33}, uint8_t{0x12}}) {
    PROTO_SERVERAPPMSG_INIT out;
    out.bUseCheckByte = 1;
    out.byCheckKey1 = key1;
    out.byCheckKey2 = 2;
    out.cStreamCheckValue = 3;
    TestMessage m;
    EXPECT_TRUE(out.Write(m.W()));
    EXPECT_EQ(m.W().Size(), 50u);  // 42 bits of fields and the check byte

    PROTO_SERVERAPPMSG_INIT in;
    in.bUseCheckByte = 1;
    in.byCheckKey1 = key1;
    in.byCheckKey2 = 2;
    in.cStreamCheckValue = 3;
    const bool expectValid = key1 == 0x33;
    EXPECT_EQ(in.Read(m.R()), expectValid) << int{key1};
    EXPECT_EQ(in.bCheckPassed, expectValid ? 1u : 0u);
    EXPECT_EQ(in.IsValid(), expectValid);
  }
}

}  // namespace

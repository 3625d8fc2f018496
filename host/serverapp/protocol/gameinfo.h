// The two large records the manager sends: one user's information and one
// room's game information. The host reads only a few fields; every other
// byte is carried unchanged to the module, the queues and the snapshot.
//
// Fields without a known meaning are named after their byte offset (f<offset>)
// and typed by their width; r<offset> marks bytes the host never looks at.
// One-byte flags are kept as uint8_t: the manager may store any byte value
// there, and loading such a byte as bool would be undefined.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

static_assert(std::endian::native == std::endian::little,
              "records are byte images of little-endian memory");

#pragma pack(push, 1)

struct PROTO_GAME_USER_INFO {
  struct IntPair {
    int32_t first;
    int32_t second;
  };

  uint64_t USN{};
  uint8_t f8[4]{};
  int8_t TeamIdx{};
  int32_t SlotIdx{};  // 0 to 49 from a sound manager
  int32_t f17{};
  char FirstText[21]{};
  char SecondText[32]{};
  int32_t f74{};
  IntPair f78[7]{};
  uint8_t f134[50][16]{};
  uint8_t r934[200]{};
  uint8_t f1134[39]{};  // sub-record
  uint8_t f1173[7][67]{};
  uint8_t r1642[15]{};
  uint8_t f1657[68]{};  // sub-record
  uint8_t f1725[21][9]{};
  uint8_t r1914[20]{};
  uint8_t f1934[2][53]{};
  uint8_t f2040[21][12]{};
  uint8_t f2292[21][50]{};
  uint8_t r3342[289]{};
  uint8_t f3631[14]{};  // sub-record
  uint8_t f3645[21][6]{};
  uint8_t f3771[324]{};  // sub-record
  uint8_t f4095[2][47]{};
  uint8_t r4189[6]{};
};
static_assert(sizeof(PROTO_GAME_USER_INFO) == 4195);
static_assert(offsetof(PROTO_GAME_USER_INFO, USN) == 0);
static_assert(offsetof(PROTO_GAME_USER_INFO, f8) == 8);
static_assert(offsetof(PROTO_GAME_USER_INFO, TeamIdx) == 12);
static_assert(offsetof(PROTO_GAME_USER_INFO, SlotIdx) == 13);
static_assert(offsetof(PROTO_GAME_USER_INFO, f17) == 17);
static_assert(offsetof(PROTO_GAME_USER_INFO, FirstText) == 21);
static_assert(offsetof(PROTO_GAME_USER_INFO, SecondText) == 42);
static_assert(offsetof(PROTO_GAME_USER_INFO, f74) == 74);
static_assert(offsetof(PROTO_GAME_USER_INFO, f78) == 78);
static_assert(offsetof(PROTO_GAME_USER_INFO, f134) == 134);
static_assert(offsetof(PROTO_GAME_USER_INFO, f1134) == 1134);
static_assert(offsetof(PROTO_GAME_USER_INFO, f1173) == 1173);
static_assert(offsetof(PROTO_GAME_USER_INFO, f1657) == 1657);
static_assert(offsetof(PROTO_GAME_USER_INFO, f1725) == 1725);
static_assert(offsetof(PROTO_GAME_USER_INFO, f1934) == 1934);
static_assert(offsetof(PROTO_GAME_USER_INFO, f2040) == 2040);
static_assert(offsetof(PROTO_GAME_USER_INFO, f2292) == 2292);
static_assert(offsetof(PROTO_GAME_USER_INFO, f3631) == 3631);
static_assert(offsetof(PROTO_GAME_USER_INFO, f3645) == 3645);
static_assert(offsetof(PROTO_GAME_USER_INFO, f3771) == 3771);
static_assert(offsetof(PROTO_GAME_USER_INFO, f4095) == 4095);
static_assert(offsetof(PROTO_GAME_USER_INFO, r4189) == 4189);
static_assert(std::is_trivially_copyable_v<PROTO_GAME_USER_INFO>);

// One entry of the three text groups at offset 1352 of PROTO_START_HOST.
struct START_HOST_TEXT_ENTRY {
  uint8_t f0{};
  char text[11]{};
};
static_assert(sizeof(START_HOST_TEXT_ENTRY) == 12);

struct PROTO_START_HOST {
  int32_t f0{};
  uint32_t f4{};
  int32_t f8{};
  char GameLogSerial[16]{};
  uint16_t f28{};
  uint16_t f30{};
  int16_t f32{};
  int16_t f34{};
  uint8_t f36{};
  uint8_t r37[2]{};
  int16_t f39{};
  uint32_t f41{};
  int8_t f45{};
  uint8_t f46{};  // bool
  uint8_t f47{};  // bool
  uint8_t r48[1]{};
  uint32_t f49{};
  int16_t f53{};
  uint8_t f55{};
  uint8_t r56[3]{};
  uint32_t f59{};
  uint32_t f63{};
  int16_t f67{};
  int16_t f69{};
  uint8_t r71[50]{};
  uint8_t f121{};  // bool
  uint8_t f122{};  // bool
  float f123{};
  uint16_t f127{};
  uint8_t f129{};  // bool
  uint8_t f130{};  // bool
  int8_t f131{};
  uint8_t f132{};  // bool
  uint32_t f133[2]{};
  uint32_t f141{0};
  uint8_t r145[1204]{};
  uint8_t f1349{};  // bool
  int8_t f1350{};
  uint8_t f1351{};  // bool
  START_HOST_TEXT_ENTRY f1352[3][8]{};
  uint8_t f1640[5]{};  // bool each
  uint8_t f1645{};
  int16_t f1646{};
  uint16_t f1648{};
  uint8_t f1650{};   // bool
  uint32_t f1651{};  // true towards the module only when exactly 1
  uint8_t r1655[1]{};
  PROTO_GAME_USER_INFO Users[50]{};  // one per slotIndex
};
static_assert(sizeof(PROTO_START_HOST) == 211406);
static_assert(offsetof(PROTO_START_HOST, f0) == 0);
static_assert(offsetof(PROTO_START_HOST, f4) == 4);
static_assert(offsetof(PROTO_START_HOST, f8) == 8);
static_assert(offsetof(PROTO_START_HOST, GameLogSerial) == 12);
static_assert(offsetof(PROTO_START_HOST, f28) == 28);
static_assert(offsetof(PROTO_START_HOST, f30) == 30);
static_assert(offsetof(PROTO_START_HOST, f32) == 32);
static_assert(offsetof(PROTO_START_HOST, f34) == 34);
static_assert(offsetof(PROTO_START_HOST, f36) == 36);
static_assert(offsetof(PROTO_START_HOST, f39) == 39);
static_assert(offsetof(PROTO_START_HOST, f41) == 41);
static_assert(offsetof(PROTO_START_HOST, f45) == 45);
static_assert(offsetof(PROTO_START_HOST, f46) == 46);
static_assert(offsetof(PROTO_START_HOST, f47) == 47);
static_assert(offsetof(PROTO_START_HOST, f49) == 49);
static_assert(offsetof(PROTO_START_HOST, f53) == 53);
static_assert(offsetof(PROTO_START_HOST, f55) == 55);
static_assert(offsetof(PROTO_START_HOST, f59) == 59);
static_assert(offsetof(PROTO_START_HOST, f63) == 63);
static_assert(offsetof(PROTO_START_HOST, f67) == 67);
static_assert(offsetof(PROTO_START_HOST, f69) == 69);
static_assert(offsetof(PROTO_START_HOST, f121) == 121);
static_assert(offsetof(PROTO_START_HOST, f122) == 122);
static_assert(offsetof(PROTO_START_HOST, f123) == 123);
static_assert(offsetof(PROTO_START_HOST, f127) == 127);
static_assert(offsetof(PROTO_START_HOST, f129) == 129);
static_assert(offsetof(PROTO_START_HOST, f130) == 130);
static_assert(offsetof(PROTO_START_HOST, f131) == 131);
static_assert(offsetof(PROTO_START_HOST, f132) == 132);
static_assert(offsetof(PROTO_START_HOST, f133) == 133);
static_assert(offsetof(PROTO_START_HOST, f141) == 141);
static_assert(offsetof(PROTO_START_HOST, f1349) == 1349);
static_assert(offsetof(PROTO_START_HOST, f1350) == 1350);
static_assert(offsetof(PROTO_START_HOST, f1351) == 1351);
static_assert(offsetof(PROTO_START_HOST, f1352) == 1352);
static_assert(offsetof(PROTO_START_HOST, f1640) == 1640);
static_assert(offsetof(PROTO_START_HOST, f1645) == 1645);
static_assert(offsetof(PROTO_START_HOST, f1646) == 1646);
static_assert(offsetof(PROTO_START_HOST, f1648) == 1648);
static_assert(offsetof(PROTO_START_HOST, f1650) == 1650);
static_assert(offsetof(PROTO_START_HOST, f1651) == 1651);
static_assert(offsetof(PROTO_START_HOST, Users) == 1656);
static_assert(sizeof(PROTO_START_HOST::Users) == 209750);
static_assert(std::is_trivially_copyable_v<PROTO_START_HOST>);

#pragma pack(pop)

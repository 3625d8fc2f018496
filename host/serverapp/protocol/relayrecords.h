// Records to the manager that the module hands over whole (read from its
// stream as raw data) or that the host fills field by field from a long
// stream. Each record names the manager message that carries it.
//
// Field names follow gameinfo.h: f<offset> for a field the host reads or
// prints, r<offset> for bytes it passes on without looking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "protocol/gameservermsg.h"

#pragma pack(push, 1)

struct GAMEPROTO_SC_REMOVECLIENT {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_REMOVECLIENT;
  static constexpr const char* kName = "GAMEPROTO_SC_REMOVECLIENT";

  uint8_t r0[32]{};
  int64_t f32{};
  uint16_t f40{};
  uint16_t f42{};
  uint32_t f44{};
  uint8_t f48{};
  uint8_t slotIndex{};
  uint8_t r50[6]{};
};
static_assert(sizeof(GAMEPROTO_SC_REMOVECLIENT) == 56);
static_assert(offsetof(GAMEPROTO_SC_REMOVECLIENT, f32) == 32);
static_assert(offsetof(GAMEPROTO_SC_REMOVECLIENT, f40) == 40);
static_assert(offsetof(GAMEPROTO_SC_REMOVECLIENT, f42) == 42);
static_assert(offsetof(GAMEPROTO_SC_REMOVECLIENT, f44) == 44);
static_assert(offsetof(GAMEPROTO_SC_REMOVECLIENT, f48) == 48);
static_assert(offsetof(GAMEPROTO_SC_REMOVECLIENT, slotIndex) == 49);

struct GAMEPROTO_SS_GAMEEND {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_GAMEEND;
  static constexpr const char* kName = "GAMEPROTO_SS_GAMEEND";
  static constexpr int kSlots = 50;

  uint8_t r0[24]{};
  uint8_t f24{};
  uint8_t f25{};  // number of valid f26 entries
  uint16_t f26[kSlots]{};
  uint8_t f126{};
  char f127[kSlots][14]{};
  uint8_t r827[1]{};
  uint16_t f828[kSlots]{};
  uint16_t f928[kSlots]{};
  uint16_t f1028[kSlots]{};
  uint16_t f1128[kSlots]{};
  uint16_t f1228[kSlots]{};
  uint8_t r1328[252]{};
  uint32_t f1580[kSlots]{};
  uint8_t r1780[100]{};
  uint16_t f1880[kSlots]{};
  uint16_t f1980[kSlots]{};
  int32_t f2080{};
  int8_t f2084{};
  uint8_t r2085[3]{};
  int32_t f2088{};
  int32_t f2092{};
  int32_t f2096{};
  uint8_t r2100[4]{};
  int64_t f2104[kSlots]{};
  uint8_t r2504[107480]{};
};
static_assert(sizeof(GAMEPROTO_SS_GAMEEND) == 109984);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f24) == 24);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f26) == 26);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f126) == 126);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f127) == 127);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f828) == 828);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f928) == 928);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f1028) == 1028);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f1128) == 1128);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f1228) == 1228);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f1580) == 1580);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f1880) == 1880);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f1980) == 1980);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f2080) == 2080);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f2084) == 2084);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f2088) == 2088);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f2092) == 2092);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f2096) == 2096);
static_assert(offsetof(GAMEPROTO_SS_GAMEEND, f2104) == 2104);

struct GAMEPROTO_SC_HOST_USER_STAT {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_HOST_USER_STAT;
  static constexpr const char* kName = "GAMEPROTO_SC_HOST_USER_STAT";

  uint8_t r0[24]{};
  uint16_t f24{};
  uint16_t f26{};
  uint16_t f28{};
  uint16_t f30{};
  uint16_t f32{};
  uint8_t r34[2]{};
  int32_t f36{};
  int32_t f40{};
  uint8_t r44[4]{};
  int64_t f48{};
  uint8_t f56{};
  uint8_t r57[2]{};
  uint8_t f59{};
  char f60[16]{};
  int32_t f76{};
  int8_t f80{};
  uint8_t r81[1]{};
  uint16_t f82[7]{};
  uint16_t f96[13]{};
  uint16_t f122[13]{};
  uint8_t f148{};
  uint8_t f149{};
  uint8_t f150{};
  uint8_t r151[1]{};
  uint32_t f152{};
  uint8_t f156{};
  uint8_t r157[1800]{};
  uint8_t slotIndex{};
  uint8_t r1958[34]{};
};
static_assert(sizeof(GAMEPROTO_SC_HOST_USER_STAT) == 1992);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f24) == 24);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f36) == 36);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f40) == 40);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f48) == 48);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f56) == 56);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f59) == 59);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f60) == 60);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f76) == 76);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f80) == 80);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f82) == 82);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f96) == 96);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f122) == 122);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f148) == 148);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f152) == 152);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, f156) == 156);
static_assert(offsetof(GAMEPROTO_SC_HOST_USER_STAT, slotIndex) == 1957);

// Opaque to the host; it has no RWPM form.
struct GAMEPROTO_SC_HOST_STAT {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_HOST_STAT;
  static constexpr const char* kName = "GAMEPROTO_SC_HOST_STAT";

  uint8_t data[848]{};
};
static_assert(sizeof(GAMEPROTO_SC_HOST_STAT) == 848);

struct GAMEPROTO_SC_SPY_CHANGE {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_SPY_CHANGE;
  static constexpr const char* kName = "GAMEPROTO_SC_SPY_CHANGE";

  uint8_t r0[24]{};
  int64_t f24[2]{};
  int64_t f40[2]{};
};
static_assert(sizeof(GAMEPROTO_SC_SPY_CHANGE) == 56);
static_assert(offsetof(GAMEPROTO_SC_SPY_CHANGE, f24) == 24);
static_assert(offsetof(GAMEPROTO_SC_SPY_CHANGE, f40) == 40);

struct PROTO_FINISHED_GAME_PREV {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_FINISHED_GAME_PREV;
  static constexpr const char* kName = "PROTO_FINISHED_GAME_PREV";

  int32_t f0{};
  int16_t f4{};
  int16_t f6{};
  uint8_t f8{};
};
static_assert(sizeof(PROTO_FINISHED_GAME_PREV) == 9);
static_assert(offsetof(PROTO_FINISHED_GAME_PREV, f4) == 4);
static_assert(offsetof(PROTO_FINISHED_GAME_PREV, f6) == 6);
static_assert(offsetof(PROTO_FINISHED_GAME_PREV, f8) == 8);

struct PROTO_SPEC_RECOMMENDROOM_INGAME_DATA {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_SPEC_RECOMMENDROOM_INGAME_DATA;
  static constexpr const char* kName = "PROTO_SPEC_RECOMMENDROOM_INGAME_DATA";
  struct Entry {
    int64_t f0;
    uint16_t f8;
    uint16_t f10;
  };

  uint16_t f0{};
  uint16_t f2{};
  Entry f4[25]{};
  Entry f304[25]{};
};
static_assert(sizeof(PROTO_SPEC_RECOMMENDROOM_INGAME_DATA::Entry) == 12);
static_assert(sizeof(PROTO_SPEC_RECOMMENDROOM_INGAME_DATA) == 604);
static_assert(offsetof(PROTO_SPEC_RECOMMENDROOM_INGAME_DATA, f4) == 4);
static_assert(offsetof(PROTO_SPEC_RECOMMENDROOM_INGAME_DATA, f304) == 304);

struct PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_AUTO_SIDE_CHANGE_TEAM_INFO_NTY;
  static constexpr const char* kName = "PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY";
  static constexpr uint32_t kCapacity = 50;
  struct Entry {
    uint64_t USN;
    int8_t f8;
    uint16_t f9;
    uint16_t f11;
    uint32_t f13;
    uint16_t f17;
    uint8_t f19;
    uint16_t f20[13];
    uint16_t f46[13];
    uint8_t f72;
    uint8_t f73;
    uint8_t f74;
    uint16_t f75;
  };

  uint8_t r0[29]{};
  int8_t f29{};
  uint32_t f30{};
  uint32_t f34{};
  uint32_t f38{};
  uint8_t r42[50]{};
  Entry Entries[kCapacity]{};
  uint32_t f3942[7]{};
  uint8_t r3970[1]{};
};
static_assert(sizeof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY::Entry) == 77);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY::Entry, f8) == 8);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY::Entry, f9) == 9);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY::Entry, f11) == 11);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY::Entry, f13) == 13);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY::Entry, f17) == 17);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY::Entry, f19) == 19);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY::Entry, f20) == 20);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY::Entry, f46) == 46);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY::Entry, f72) == 72);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY::Entry, f75) == 75);
static_assert(sizeof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY) == 3971);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY, f29) == 29);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY, f30) == 30);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY, f34) == 34);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY, f38) == 38);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY, Entries) == 92);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY, f3942) == 3942);
static_assert(offsetof(PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY, r3970) == 3970);

#pragma pack(pop)

static_assert(std::is_trivially_copyable_v<GAMEPROTO_SS_GAMEEND>);
static_assert(std::is_trivially_copyable_v<PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY>);

// Records to the manager that the host builds field by field from a module
// stream: clan stats, bans, map-loading notices and the reward requests.
// Defaults are part of the wire contract: several records start with eight
// 0xFF bytes or carry all-ones USNs in unused entries, and a record the host
// builds must hold them even where the module sent nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "protocol/gameservermsg.h"

inline constexpr uint64_t kUsnNone = ~uint64_t{0};

// Natural alignment (not packed), with explicit padding so the bytes between
// fields are zero on the wire. The record carries its own tIndex and goes to
// the manager without the usual 2-byte prefix.
struct CLANSTATREPORTDATA {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_CLAN_STAT_REPORT;
  static constexpr const char* kName = "CLANSTATREPORTDATA";

  int16_t tIndex{};
  uint8_t r2[6]{};
  uint64_t f8{};
  uint64_t f16{};
  uint32_t f24{};
  uint32_t f28{};
  uint32_t f32{};
  uint8_t r36[4]{};
};
static_assert(sizeof(CLANSTATREPORTDATA) == 40);
static_assert(offsetof(CLANSTATREPORTDATA, f8) == 8);
static_assert(offsetof(CLANSTATREPORTDATA, f16) == 16);
static_assert(offsetof(CLANSTATREPORTDATA, f24) == 24);
static_assert(offsetof(CLANSTATREPORTDATA, f28) == 28);
static_assert(offsetof(CLANSTATREPORTDATA, f32) == 32);

#pragma pack(push, 1)

#define SERVERAPP_FF8 \
  { 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF }

struct PROTO_BAN_USER {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_BAN_USER;
  static constexpr const char* kName = "PROTO_BAN_USER";

  uint32_t BanValue{};  // 0 to 255
  uint8_t r4[8]{};
  uint64_t USN{};
  uint8_t r20[1]{};
};
static_assert(sizeof(PROTO_BAN_USER) == 21);
static_assert(offsetof(PROTO_BAN_USER, USN) == 12);

struct PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_AIGACHA_ITEM_INSERT;
  static constexpr const char* kName = "PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT";
  static constexpr uint32_t kCapacity = 10;
  struct Entry {
    uint64_t Value64;
    uint32_t Value32;
  };

  uint8_t r0[8] SERVERAPP_FF8;
  uint8_t r8{};
  uint64_t USN{kUsnNone};
  uint32_t Count{};  // 0 to kCapacity
  Entry Entries[kCapacity]{};
};
static_assert(sizeof(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT) == 141);
static_assert(offsetof(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT, USN) == 9);
static_assert(offsetof(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT, Count) == 17);
static_assert(offsetof(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT, Entries) == 21);

struct PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_MAPLOADING_COMPLETE_NTY;
  static constexpr const char* kName = "PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY";

  uint32_t f0{0xFFFFFFFFu};
  uint16_t f4{0xFFFF};
  uint16_t f6{0xFFFF};
  uint8_t r8{};
  uint64_t USN{kUsnNone};
  uint8_t Flags[4]{};
};
static_assert(sizeof(PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY) == 21);
static_assert(offsetof(PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY, USN) == 9);
static_assert(offsetof(PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY, Flags) == 17);

struct PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_FARMING_ITEM_REQ;
  static constexpr const char* kName = "PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ";
  struct Entry {
    uint64_t USN;
    uint32_t Value;
    uint8_t Small[4];
  };

  uint8_t r0[8] SERVERAPP_FF8;
  Entry Entries[8]{};
};
static_assert(sizeof(PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ::Entry) == 16);
static_assert(sizeof(PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ) == 136);
static_assert(offsetof(PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ, Entries) == 8);

struct PROTO_AI2_BONUSROUND_REWARD_REQ {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_AI2_BONUSROUND_REWARD_REQ;
  static constexpr const char* kName = "PROTO_AI2_BONUSROUND_REWARD_REQ";
  static constexpr uint32_t kCapacity = 8;
  struct Entry {
    uint64_t USN{kUsnNone};  // unused entries keep all ones and value 0
    uint32_t Value{};
  };

  uint8_t r0[8]{};
  char szItemID[11]{};
  Entry Entries[kCapacity]{};
};
static_assert(sizeof(PROTO_AI2_BONUSROUND_REWARD_REQ::Entry) == 12);
static_assert(sizeof(PROTO_AI2_BONUSROUND_REWARD_REQ) == 115);
static_assert(offsetof(PROTO_AI2_BONUSROUND_REWARD_REQ, szItemID) == 8);
static_assert(offsetof(PROTO_AI2_BONUSROUND_REWARD_REQ, Entries) == 19);

struct PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_AI3_BONUS_REWARD_ITEM_REQ;
  static constexpr const char* kName = "PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ";
  struct Entry {
    uint64_t USN;
    uint8_t IsReward;
  };

  uint8_t r0[8] SERVERAPP_FF8;
  Entry Entries[8]{};
};
static_assert(sizeof(PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ::Entry) == 9);
static_assert(sizeof(PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ) == 80);
static_assert(offsetof(PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ, Entries) == 8);

struct PROTO_AI_EXTRA_REWARD_REQ {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_AI_EXTRA_REWARD_REQ;
  static constexpr const char* kName = "PROTO_AI_EXTRA_REWARD_REQ";
  struct Entry {
    uint64_t USN;
    uint8_t IsReward;
    uint8_t IsSpecialClear;
  };

  uint8_t r0[8] SERVERAPP_FF8;
  uint8_t r8{};
  Entry Entries[8]{};
};
static_assert(sizeof(PROTO_AI_EXTRA_REWARD_REQ::Entry) == 10);
static_assert(sizeof(PROTO_AI_EXTRA_REWARD_REQ) == 89);
static_assert(offsetof(PROTO_AI_EXTRA_REWARD_REQ, Entries) == 9);

// No RWPM form: always sent by copy data.
struct PROTO_AI_BOSSTOWER_REWARD_REQ {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_AI_BOSSTOWER_REWARD_REQ;
  static constexpr const char* kName = "PROTO_AI_BOSSTOWER_REWARD_REQ";
  struct Entry {
    uint64_t USN;
    uint8_t Small[4];   // first value of each read pair
    uint32_t Large[4];  // second value of each read pair (0 to 255)
    uint8_t Flag;
  };

  uint8_t r0[8] SERVERAPP_FF8;
  uint8_t r8{};
  Entry Entries[8]{};
};
static_assert(sizeof(PROTO_AI_BOSSTOWER_REWARD_REQ::Entry) == 29);
static_assert(offsetof(PROTO_AI_BOSSTOWER_REWARD_REQ::Entry, Large) == 12);
static_assert(offsetof(PROTO_AI_BOSSTOWER_REWARD_REQ::Entry, Flag) == 28);
static_assert(sizeof(PROTO_AI_BOSSTOWER_REWARD_REQ) == 241);
static_assert(offsetof(PROTO_AI_BOSSTOWER_REWARD_REQ, Entries) == 9);

// No RWPM form: always sent by copy data.
struct PROTO_AI_EXTRA_MIDDLE_REWARD_REQ {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_AI_EXTRA_MIDDLE_REWARD_REQ;
  static constexpr const char* kName = "PROTO_AI_EXTRA_MIDDLE_REWARD_REQ";

  uint8_t r0[9]{};
  uint64_t USN[8]{kUsnNone, kUsnNone, kUsnNone, kUsnNone, kUsnNone, kUsnNone, kUsnNone, kUsnNone};
};
static_assert(sizeof(PROTO_AI_EXTRA_MIDDLE_REWARD_REQ) == 73);
static_assert(offsetof(PROTO_AI_EXTRA_MIDDLE_REWARD_REQ, USN) == 9);

// No RWPM form: always sent by copy data.
struct PROTO_INGAME_RESULT_REQ {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_INGAME_RESULT_REQ;
  static constexpr const char* kName = "PROTO_INGAME_RESULT_REQ";
  struct Entry {
    uint64_t USN;
    uint16_t Value;
  };

  uint8_t r0[9]{};
  uint8_t f9{};
  uint16_t f10{};
  uint16_t f12{};
  Entry Entries[16]{};
};
static_assert(sizeof(PROTO_INGAME_RESULT_REQ::Entry) == 10);
static_assert(sizeof(PROTO_INGAME_RESULT_REQ) == 174);
static_assert(offsetof(PROTO_INGAME_RESULT_REQ, f9) == 9);
static_assert(offsetof(PROTO_INGAME_RESULT_REQ, f10) == 10);
static_assert(offsetof(PROTO_INGAME_RESULT_REQ, f12) == 12);
static_assert(offsetof(PROTO_INGAME_RESULT_REQ, Entries) == 14);

// The RWPM form of GAMESERVERMSG_INSERTCHARACTER_ACK (the copy-data form is
// tIndex and USN only).
struct PROTO_INSERT_CHARACTER_RESULT {
  static constexpr uint16_t kMsgId = GAMESERVERMSG_INSERTCHARACTER_ACK;
  static constexpr const char* kName = "PROTO_INSERT_CHARACTER_RESULT";

  uint8_t r0[12]{};
  uint64_t USN{};
  uint8_t r20[13]{};
};
static_assert(sizeof(PROTO_INSERT_CHARACTER_RESULT) == 33);
static_assert(offsetof(PROTO_INSERT_CHARACTER_RESULT, USN) == 12);

#undef SERVERAPP_FF8

#pragma pack(pop)

// The smaller records the manager sends to the host, by copy data or by the
// address of the record in its own memory. A record starts with its defaults
// so that a short copy-data payload leaves the tail defined.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"

#pragma pack(push, 1)

// GAMESERVERMSG_USER_DISCONNECTED: the missing bytes of a short payload stay all ones.
struct PROTO_USER_DISCONNECTED {
  uint64_t USN{~uint64_t{0}};
};
static_assert(sizeof(PROTO_USER_DISCONNECTED) == 8);

struct PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT {
  static constexpr uint32_t kCapacity = 30;
  struct Entry {
    uint32_t First;
    uint32_t Second;
    double Rates[4];
  };

  uint32_t f0{};  // not read by the host
  uint32_t Count{};
  Entry Entries[kCapacity]{};
};
static_assert(sizeof(PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT::Entry) == 40);
static_assert(sizeof(PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT) == 1208);
static_assert(offsetof(PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT, Count) == 4);
static_assert(offsetof(PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT, Entries) == 8);
static_assert(offsetof(PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT::Entry, Rates) == 8);

struct PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT {
  static constexpr uint32_t kCapacity = 10;
  struct Entry {
    uint64_t Value64;
    uint32_t Value32;  // the module stream carries its low 16 bits
  };

  uint8_t r0[8]{};
  uint64_t USN{};
  uint32_t Count{};
  Entry Entries[kCapacity]{};
  uint32_t SingleValue{};
  uint32_t Values[kCapacity]{};  // one per entry
};
static_assert(sizeof(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT::Entry) == 12);
static_assert(sizeof(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT) == 184);
static_assert(offsetof(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT, USN) == 8);
static_assert(offsetof(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT, Count) == 16);
static_assert(offsetof(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT, Entries) == 20);
static_assert(offsetof(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT, SingleValue) == 140);
static_assert(offsetof(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT, Values) == 144);

// GAMESERVERMSG_UCC_MAP_LOAD: a map whose content package may first have to
// be downloaded. Only the low 16 (map) and 8 (round, match) bits are used.
struct stUCCGamePlay {
  uint32_t MapIndex{};
  uint32_t RoundType{};
  uint32_t MatchType{};
  char MapName[128]{};  // the package file name
};
static_assert(sizeof(stUCCGamePlay) == 140);
static_assert(offsetof(stUCCGamePlay, RoundType) == 4);
static_assert(offsetof(stUCCGamePlay, MatchType) == 8);
static_assert(offsetof(stUCCGamePlay, MapName) == 12);

// GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO: the room's users in one block.
struct PROTO_AUTO_MATCH_STARTING_USER_INFO {
  PROTO_GAME_USER_INFO Users[IPC_ROOM_MAX_USER]{};
};
static_assert(sizeof(PROTO_AUTO_MATCH_STARTING_USER_INFO) == 209750);

// GAMESERVERMSG_RWPM_ADDRESS_TABLE: manager-side buffer addresses, one per
// (msgID, slotIndex).
struct RWPM_ADDRESS_TABLE {
  uint64_t Address[GAMESERVERMSG_MAX][IPC_ROOM_MAX_USER]{};

  // The address for a message and slot; 0 (no buffer) for a msgID or slot
  // outside the table.
  uint64_t At(uint32_t msgID, int32_t slotIndex) const {
    if (msgID >= GAMESERVERMSG_MAX || slotIndex < 0 || slotIndex >= IPC_ROOM_MAX_USER) return 0;
    return Address[msgID][slotIndex];
  }
};
static_assert(sizeof(RWPM_ADDRESS_TABLE) == 24400);

#pragma pack(pop)

static_assert(std::is_trivially_copyable_v<PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT>);
static_assert(std::is_trivially_copyable_v<PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT>);
static_assert(std::is_trivially_copyable_v<RWPM_ADDRESS_TABLE>);

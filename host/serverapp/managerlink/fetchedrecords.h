// The records the manager may pass by address, each with the name its
// allocation-failure line carries and its "[RECV]" dump. A record without an
// entry here cannot be fetched (the primary template is never defined).
#pragma once

#include <cstdint>

#include "protocol/dumplog.h"
#include "protocol/gameinfo.h"
#include "protocol/managerrecords.h"

template <typename Record>
struct FetchedRecord;

// Records whose dump is their own record line.
template <typename Record>
struct RecordLineFetch {
  static void Dump(int16_t tIndex, const Record& record) {
    proto::DumpRecord(proto::kRecvTag, tIndex, record);
  }
};

template <>
struct FetchedRecord<PROTO_START_HOST> : RecordLineFetch<PROTO_START_HOST> {
  static constexpr const char* kName = "PROTO_START_HOST";
};

template <>
struct FetchedRecord<PROTO_GAME_USER_INFO> : RecordLineFetch<PROTO_GAME_USER_INFO> {
  static constexpr const char* kName = "PROTO_GAME_USER_INFO";
};

template <>
struct FetchedRecord<PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT>
    : RecordLineFetch<PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT> {
  static constexpr const char* kName = "PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT";
};

template <>
struct FetchedRecord<PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT>
    : RecordLineFetch<PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT> {
  static constexpr const char* kName = "PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT";
};

// The 8-byte USN of a disconnect: dumped as one named value.
template <>
struct FetchedRecord<PROTO_USER_DISCONNECTED> {
  static constexpr const char* kName = "GAMESERVERMSG_USER_DISCONNECTED";
  static void Dump(int16_t tIndex, const PROTO_USER_DISCONNECTED& record) {
    const uint64_t usn = record.USN;
    proto::DumpValue(proto::kRecvTag, tIndex, kName, static_cast<int64_t>(usn));
  }
};

template <>
struct FetchedRecord<RWPM_ADDRESS_TABLE> {
  static constexpr const char* kName = "LPVOID[GAMESERVERMSG_MAX * IPC_ROOM_MAX_USER]";
  static void Dump(int16_t tIndex, const RWPM_ADDRESS_TABLE& record) {
    proto::DumpAddressTable(proto::kRecvTag, tIndex, record);
  }
};

// Copy-data payloads to the manager: the 2-byte tIndex followed by the
// record, except CLANSTATREPORTDATA (the record alone, it holds tIndex
// itself), INSERTCHARACTER_ACK (tIndex and a USN) and
// AUTO_MATCH_STARTING_USER_INFO_ACK (tIndex alone).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "protocol/rewardrecords.h"

namespace proto {

struct CopyDataPayload {
  uint16_t msgID = 0;  // dwData
  std::vector<uint8_t> bytes;
};

namespace detail {
inline void AppendBytes(std::vector<uint8_t>& out, const void* data, size_t size) {
  const size_t at = out.size();
  out.resize(at + size);
  std::memcpy(out.data() + at, data, size);
}
}  // namespace detail

// tIndex, then the record, sent under the record's own message id.
template <typename Record>
CopyDataPayload MakeRecordPayload(int16_t tIndex, const Record& record) {
  static_assert(std::is_trivially_copyable_v<Record>);
  static_assert(!std::is_same_v<Record, CLANSTATREPORTDATA>, "use MakeClanStatPayload");
  CopyDataPayload payload{Record::kMsgId, {}};
  payload.bytes.reserve(sizeof(tIndex) + sizeof(Record));
  detail::AppendBytes(payload.bytes, &tIndex, sizeof(tIndex));
  detail::AppendBytes(payload.bytes, &record, sizeof(Record));
  return payload;
}

CopyDataPayload MakeClanStatPayload(const CLANSTATREPORTDATA& record);
CopyDataPayload MakeInsertCharacterAckPayload(int16_t tIndex, uint64_t usn);
CopyDataPayload MakeAutoMatchStartingUserInfoAckPayload(int16_t tIndex);

// Copies min(sizeof(Record), size) payload bytes over a record that holds its
// defaults: a short payload leaves the tail at the defaults, a long one is cut.
// Answers the number of bytes taken.
template <typename Record>
size_t CopyPayloadInto(Record& record, const void* data, size_t size) {
  static_assert(std::is_trivially_copyable_v<Record>);
  const size_t taken = size < sizeof(Record) ? size : sizeof(Record);
  if (data != nullptr && taken > 0) std::memcpy(&record, data, taken);
  return data != nullptr ? taken : 0;
}

// GAMESERVERMSG_LOG_SERIAL: the payload as text, up to its first zero byte
// and never beyond `size` bytes.
std::string LogSerialFromPayload(const void* data, size_t size);

}  // namespace proto

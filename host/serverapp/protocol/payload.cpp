#include "protocol/payload.h"

#include <algorithm>

namespace proto {

CopyDataPayload MakeClanStatPayload(const CLANSTATREPORTDATA& record) {
  CopyDataPayload payload{CLANSTATREPORTDATA::kMsgId, {}};
  detail::AppendBytes(payload.bytes, &record, sizeof(record));
  return payload;
}

CopyDataPayload MakeInsertCharacterAckPayload(int16_t tIndex, uint64_t usn) {
  CopyDataPayload payload{GAMESERVERMSG_INSERTCHARACTER_ACK, {}};
  detail::AppendBytes(payload.bytes, &tIndex, sizeof(tIndex));
  detail::AppendBytes(payload.bytes, &usn, sizeof(usn));
  return payload;
}

CopyDataPayload MakeAutoMatchStartingUserInfoAckPayload(int16_t tIndex) {
  CopyDataPayload payload{GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO_ACK, {}};
  detail::AppendBytes(payload.bytes, &tIndex, sizeof(tIndex));
  return payload;
}

std::string LogSerialFromPayload(const void* data, size_t size) {
  if (data == nullptr) return {};
  const auto* text = static_cast<const char*>(data);
  return std::string(text, static_cast<size_t>(std::find(text, text + size, '\0') - text));
}

}  // namespace proto

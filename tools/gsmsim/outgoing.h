// The records a manager sends to a host, built over their defaults from
// `field=value` assignments, for scenarios (and anything else that plays
// the manager).
//
// Field names are the record members' names. Array elements and entries
// take indexes: `GameLogSerial=ABC`, `f133[1]=7`, `Users[3].USN=1001`,
// `Users[3].FirstText="Player Three"`, `Address[6][0]=4096`. Integers are
// decimal, negative or 0x-hex and must fit the field's width (signed or
// unsigned); texts may fill their whole array (no terminator then).
// `cbData=N` cuts or zero-pads the payload to N bytes, for size edge cases.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace gsmsim {

struct OutgoingRecord {
  uint16_t msg_id = 0;
  std::vector<std::byte> bytes;  // the copy-data payload, or the record passed by address
};

// The ids this builder knows: every manager-to-host message that carries a
// record or a text.
bool IsOutgoingRecordId(uint16_t msg_id);

// Builds the record of `msg_id` from its defaults and the assignments.
// Nothing and a reason in *error for an unknown id, field, index or a value
// that does not fit.
std::optional<OutgoingRecord> BuildOutgoingRecord(uint16_t msg_id,
                                                  std::span<const std::string> assignments,
                                                  std::string* error);

}  // namespace gsmsim

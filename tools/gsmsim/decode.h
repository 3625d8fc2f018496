// Decoding of what a host sends its manager: the message's catalogue name,
// the host's tIndex, and the record's fields by name, for the text and JSON
// output of `gsmsim run` and for the `expect` lines of scenarios.
//
// Field values are JSON fragments: integers in decimal (unsigned fields as
// unsigned, so a USN of all ones is 18446744073709551615), texts as JSON
// strings, arrays and entry lists as JSON arrays. Arrays without a count in
// the record are cut after their last non-zero element; entry lists with a
// count show the counted entries (at most the record's capacity).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "peer/manager_peer.h"

namespace gsmsim {

struct DecodedField {
  std::string name;
  std::string json;  // the value as a JSON fragment
};

struct DecodedMessage {
  bool is_manager_message = false;  // WM_USER+0x40 post or WM_COPYDATA
  uint32_t msg_id = 0;              // GAMESERVERMSG id (low half of wParam / dwData)
  std::string name;                 // "GAMESERVERMSG_...", "UNNAMED_<id>" or "WM_<hex>"
  std::optional<int16_t> tIndex;    // the sending host's server index
  std::string record;               // the record's name, for copy data
  size_t size = 0;                  // cbData of a send
  std::string problem;              // a size that is not the catalogue's, for example
  std::vector<DecodedField> fields;

  // The field's JSON fragment; null when there is no such field.
  const DecodedField* Find(std::string_view field) const;
};

DecodedMessage DecodeMessage(const ReceivedMessage& message);

// One line: "GAMESERVERMSG_LOADING_COMPLETE tIndex=0 tMapIndex=5 success=1".
std::string DecodedText(const DecodedMessage& decoded);

// One JSON object: kind, msgID, name, tIndex, wParam, lParam (posts), size
// and record (sends), problem when there is one, and "fields".
std::string DecodedJson(const ReceivedMessage& message, const DecodedMessage& decoded);

// The name a scenario uses for a manager message id (the catalogue name, or
// UNNAMED_<id> for a number without one).
std::string ManagerMessageName(uint32_t msg_id);

}  // namespace gsmsim

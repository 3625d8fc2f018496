#include "protocol/streamio.h"

#include <string>

namespace proto {

uint32_t ReadGuardedU32(ILTMessage_Read& msg) {
  const uint32_t value = msg.ReadBits(32);
  if (value == kReadErrorPattern) throw ReadError();
  return value;
}

std::string EntryCountText(std::string_view what, const EntryCount& count) {
  std::string text(what);
  text += ": entry count " + std::to_string(count.declared) + " above the record's " +
          std::to_string(count.kept) + ", " + std::to_string(count.declared - count.kept) +
          " entries dropped";
  return text;
}

void WriteFixedText(ILTMessage_Write& msg, const char* field, size_t size) {
  const std::string text(FixedText(field, size));
  msg.WriteString(text.c_str());
}

}  // namespace proto

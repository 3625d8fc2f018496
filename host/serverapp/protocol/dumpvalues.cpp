#include "protocol/dumpvalues.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace proto {

void DumpValues::AddInt(int64_t value) {
  char piece[kPieceCapacity];
  const int n = std::snprintf(piece, sizeof(piece), "[%" PRId64 "]", value);
  if (n > 0) Append(piece, std::min(static_cast<size_t>(n), sizeof(piece) - 1));
}

void DumpValues::AddText(std::string_view text) {
  char piece[kPieceCapacity];
  const int n =
      std::snprintf(piece, sizeof(piece), "[%.*s]", static_cast<int>(text.size()), text.data());
  if (n > 0) Append(piece, std::min(static_cast<size_t>(n), sizeof(piece) - 1));
}

void DumpValues::Append(const char* piece, size_t length) {
  if (text_.size() + length < kCapacity) text_.append(piece, length);
}

RecordDump& RecordDump::text(size_t offset, size_t size) {
  if (offset <= size_ && size <= size_ - offset) {
    const auto* field = reinterpret_cast<const char*>(bytes_ + offset);
    values_.AddText({field, static_cast<size_t>(std::find(field, field + size, '\0') - field)});
  }
  return *this;
}

}  // namespace proto

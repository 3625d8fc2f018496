// Writes the protocol record dumps to the RWPM log. Every call tests the
// "IPCMemory" switch first: with it off nothing is built or written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/dumptext.h"

namespace proto {

bool IsDumpOn();
void WriteDumpLine(const std::string& line);

// One line for a record (any record that has a DumpText).
template <typename Record>
void DumpRecord(std::string_view tag, int16_t tIndex, const Record& record) {
  if (!IsDumpOn()) return;
  WriteDumpLine(DumpText(tag, tIndex, record));
}

// One line per non-empty row of the address table.
void DumpAddressTable(std::string_view tag, int16_t tIndex, const RWPM_ADDRESS_TABLE& table);

// One value under a name.
void DumpValue(std::string_view tag, int16_t tIndex, std::string_view name, int64_t value);

}  // namespace proto

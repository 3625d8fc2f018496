#include "protocol/dumplog.h"

#include "hostlogger.h"

namespace proto {

bool IsDumpOn() {
  return IsIpcMemoryLogOn();
}

// The line is finished text: a '%' in a record's text field is printed, not
// interpreted.
void WriteDumpLine(const std::string& line) {
  RwpmLogText(line);
}

void DumpAddressTable(std::string_view tag, int16_t tIndex, const RWPM_ADDRESS_TABLE& table) {
  if (!IsDumpOn()) return;
  for (const std::string& line : DumpAddressTableText(tag, tIndex, table)) WriteDumpLine(line);
}

void DumpValue(std::string_view tag, int16_t tIndex, std::string_view name, int64_t value) {
  if (!IsDumpOn()) return;
  WriteDumpLine(DumpValueText(tag, tIndex, name, value));
}

}  // namespace proto

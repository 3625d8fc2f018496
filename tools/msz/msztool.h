// The .msz builder and dumper: turns the UTF-8 text source of a
// message-definition table into a .msz file, and a .msz file back into text.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "mszformat.h"

namespace msztool {

struct SourceEntry {
  std::int64_t id = 0;
  std::string text;               // UTF-8, as written (a "\n" stays two characters)
  bool has_args = false;          // a "# args:" line declared the arguments
  std::vector<std::string> args;  // their types
  int line = 0;
};

// Parses a text source (format: data/msz/MSG_DEFINE_ServerApp_Log.txt). Lines
// that cannot be read go to *errors; repeated ids to *warnings (the later
// text wins when the host loads the table). False when there are errors.
bool ParseSource(std::string_view source, std::vector<SourceEntry>* entries,
                 std::vector<std::string>* errors, std::vector<std::string>* warnings);

// Checks an entry's text against its declared argument types. True when it
// declares none or its conversions fit them; otherwise *error says why.
bool CheckArgs(const SourceEntry& entry, std::string* error);

// The records of the entries, in source order.
std::vector<msz::Record> ToRecords(const std::vector<SourceEntry>& entries);

// The text source of a table's records, one "<id> <text>" line each. A real
// line break inside a text cannot be written on one line and is written as
// "\n" (noted in *warnings), as are texts that had no NUL unit.
std::string Dump(const std::vector<msz::Record>& records, std::vector<std::string>* warnings);

// The command line: "msz build <source.txt> <out.msz>" or "msz dump <in.msz>";
// "--help" (or "-h") anywhere prints the usage to `out`.
// Answers the exit code: 0 done (or help), 1 bad input, 2 bad usage.
int Main(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace msztool

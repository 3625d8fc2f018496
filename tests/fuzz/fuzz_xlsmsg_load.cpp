// FindXlsMsg::Load over arbitrary .msz files: the whole loader with its file
// (fuzz_msz drives the parse on a memory image). Invariants: docs/fuzzing.md.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "findxlsmsg.h"
#include "fuzz_check.h"
#include "mszformat.h"

using fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > msz::kMaxFileSize) return 0;
  static const fuzz::ScratchFile file("msz");
  const char* path = file.Write(data, size);

  std::vector<msz::Record> records;
  std::string why;
  const bool parses = msz::Parse(data, size, &records, &why);

  FindXlsMsg table;
  const bool loaded = table.Load(path);
  Require(!table.OpenFailed(), "the table file could not be opened");
  Require(loaded == parses, "load and parse disagree");
  if (!loaded) {
    Require(!table.Problem().empty() && table.Count() == 0, "refusal without a reason");
    return 0;
  }
  Require(table.Problem().empty(), "a problem after a successful load");

  std::map<int64_t, const msz::Record*> last;
  for (const msz::Record& r : records) last[r.id] = &r;
  Require(table.Count() == last.size(), "one text per distinct id");
  for (const auto& [id, record] : last) {
    const std::string text = table.Find(id);
    Require(text.size() <= FindXlsMsg::kConvertBuffer - 1, "text past its buffer");
    std::string expected = msz::Utf16ToAnsi(record->text, FindXlsMsg::kConvertBuffer - 1);
    msz::ExpandNewlines(&expected);
    Require(text == expected, "a repeated id does not keep its last text");
  }
  // An id the file does not have.
  int64_t missing = 0;
  while (last.count(missing) != 0) ++missing;
  Require(table.Find(missing).empty(), "text for an id the file lacks");
  return 0;
}

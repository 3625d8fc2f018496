// FindXlsMsg::Load over arbitrary .msz files: the whole loader with its
// file path (exclusive open, size check, read), where fuzz_msz drives the
// parse and the conversions on a memory image.
//
// Checks: the file is loaded exactly when msz::Parse accepts its bytes; a
// refusal says why and leaves the table empty; a loaded table holds one
// text per distinct id, the last record's text for a repeated id, each
// text within 511 bytes, and Find answers the table's text (empty for an
// id it lacks).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "findxlsmsg.h"
#include "mszformat.h"

namespace {

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "invariant violated: %s\n", why);
  __builtin_trap();
}
void Require(bool ok, const char* why) {
  if (!ok) Fail(why);
}

const std::string& FilePath() {
  // Never destroyed, so that the exit handler can still use it.
  static const std::string* const path = [] {
    const std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    auto* p = new std::string(dir + "/serverapp-fuzz-msz-" + std::to_string(getpid()) + ".msz");
    std::atexit([] { std::remove(FilePath().c_str()); });
    return p;
  }();
  return *path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > msz::kMaxFileSize) return 0;
  std::FILE* file = std::fopen(FilePath().c_str(), "wb");
  if (file == nullptr) Fail("cannot write the table file");
  if (size > 0 && std::fwrite(data, 1, size, file) != size) Fail("short write");
  std::fclose(file);

  std::vector<msz::Record> records;
  std::string why;
  const bool parses = msz::Parse(data, size, &records, &why);

  FindXlsMsg table;
  const bool loaded = table.Load(FilePath().c_str());
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

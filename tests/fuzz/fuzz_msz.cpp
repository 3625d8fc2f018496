// The .msz loader's steps over arbitrary file images (docs/fuzzing.md).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "findxlsmsg.h"
#include "mszformat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<msz::Record> records;
  std::string problem;
  if (!msz::Parse(data, size, &records, &problem)) {
    if (problem.empty()) std::abort();  // a refusal always says why
    return 0;
  }

  for (const msz::Record& record : records) {
    std::string text = msz::Utf16ToAnsi(record.text, FindXlsMsg::kConvertBuffer - 1);
    if (text.size() > FindXlsMsg::kConvertBuffer - 1) std::abort();
    std::u16string back;
    if (!msz::Utf8ToUtf16(text, &back)) std::abort();  // cut on whole characters
    const size_t before = text.size();
    msz::ExpandNewlines(&text);
    if (text.size() != before) std::abort();  // "\\n" (2 bytes) -> CR LF (2 bytes)
  }

  // Texts holding a NUL unit cannot come back unchanged: Build ends each at
  // its NUL. Only round-trip records without one.
  std::vector<msz::Record> clean = records;
  std::erase_if(clean, [](const msz::Record& r) { return r.text.find(u'\0') != r.text.npos; });
  const std::vector<uint8_t> image = msz::Build(clean);
  std::vector<msz::Record> again;
  if (!msz::Parse(image.data(), image.size(), &again, &problem)) std::abort();
  if (again.size() != clean.size()) std::abort();
  for (size_t i = 0; i < clean.size(); ++i) {
    if (again[i].id != clean[i].id || again[i].text != clean[i].text || !again[i].had_nul) {
      std::abort();
    }
  }
  return 0;
}

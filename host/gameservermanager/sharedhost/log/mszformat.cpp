#include "mszformat.h"

#include <cstring>

#include "platform/runtime.h"

namespace msz {
namespace {

std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t U64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(U32(p)) | static_cast<std::uint64_t>(U32(p + 4)) << 32;
}

void Put32(std::vector<std::uint8_t>* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Put64(std::vector<std::uint8_t>* out, std::uint64_t v) {
  Put32(out, static_cast<std::uint32_t>(v));
  Put32(out, static_cast<std::uint32_t>(v >> 32));
}

}  // namespace

bool Parse(const std::uint8_t* data, std::size_t size, std::vector<Record>* records,
           std::string* problem) {
  records->clear();
  if (size < kHeadSize) {
    *problem = "file shorter than its 8-byte head";
    return false;
  }
  const std::uint32_t count = U32(data);
  const std::uint32_t area = U32(data + 4);
  if (area > size - kHeadSize) {
    *problem = "record area runs past the end of the file";
    return false;
  }
  const std::uint8_t* p = data + kHeadSize;
  std::size_t left = area;
  for (std::uint32_t k = 0; k < count; ++k) {
    if (left < kRecordHeadSize) {
      *problem = "record " + std::to_string(k) + " runs past the record area";
      return false;
    }
    Record r;
    r.id = static_cast<std::int64_t>(U64(p));
    const std::uint64_t units = U32(p + 8);
    p += kRecordHeadSize;
    left -= kRecordHeadSize;
    if (units * 2 > left) {
      *problem = "text of record " + std::to_string(k) + " runs past the record area";
      return false;
    }
    std::size_t len = 0;
    while (len < units && (p[2 * len] | p[2 * len + 1]) != 0) ++len;
    r.had_nul = len < units;
    r.text.resize(len);
    for (std::size_t i = 0; i < len; ++i) {
      r.text[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
    }
    p += units * 2;
    left -= units * 2;
    records->push_back(std::move(r));
  }
  return true;
}

std::vector<std::uint8_t> Build(const std::vector<Record>& records) {
  std::vector<std::uint8_t> out;
  Put32(&out, static_cast<std::uint32_t>(records.size()));
  Put32(&out, 0);  // area size, filled in below
  for (const Record& r : records) {
    Put64(&out, static_cast<std::uint64_t>(r.id));
    Put32(&out, static_cast<std::uint32_t>(r.text.size() + 1));
    for (const char16_t u : r.text) {
      out.push_back(static_cast<std::uint8_t>(u & 0xFF));
      out.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    out.push_back(0);
    out.push_back(0);
  }
  const std::uint32_t area = static_cast<std::uint32_t>(out.size() - kHeadSize);
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<std::uint8_t>(area >> (8 * i));
  return out;
}

std::string Utf16ToAnsi(std::u16string_view text, std::size_t max_bytes) {
  return platform::Utf16ToAnsi(text, max_bytes);
}

std::string Utf16ToUtf8(std::u16string_view text) {
  return platform::Utf16ToUtf8(text, std::string::npos);
}

bool Utf8ToUtf16(std::string_view text, std::u16string* out) {
  out->clear();
  bool ok = true;
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t n;
    char32_t cp;
    if (c < 0x80) {
      n = 1;
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      n = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 4;
      cp = c & 0x07;
    } else {
      n = 0;
      cp = 0;
    }
    bool good = n > 0 && i + n <= text.size();
    for (std::size_t k = 1; good && k < n; ++k) {
      const unsigned char cc = static_cast<unsigned char>(text[i + k]);
      good = (cc & 0xC0) == 0x80;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static const char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    good = good && cp >= kMin[n] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (!good) {
      ok = false;
      out->push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
    i += n;
  }
  return ok;
}

void ExpandNewlines(std::string* text) {
  for (std::size_t i = 0; i + 1 < text->size(); ++i) {
    if ((*text)[i] == '\\' && (*text)[i + 1] == 'n') {
      (*text)[i] = '\r';
      (*text)[i + 1] = '\n';
      ++i;
    }
  }
}

}  // namespace msz

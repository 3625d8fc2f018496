// The pieces of one log line: tags, the fixed parts of the three line forms,
// cutting the caller's text to its buffer, and the text-mode translation.
// Pure functions, so that the exact bytes can be tested without files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace hostlog {

// Buffers of the composed line format (fixed part + caller's text + NUL).
inline constexpr std::size_t kLineBuffer = 260;
inline constexpr std::size_t kIpcLineBuffer = 512;
// Buffer of a path.
inline constexpr std::size_t kPathBuffer = 260;

enum class LineForm { kLevel, kInfo, kIpc };

// A caller's fixed buffer the line pieces append to, for writers that must
// not allocate (the crash path): what does not fit is dropped, and the text
// stays NUL-terminated.
class FixedText {
 public:
  FixedText(char* data, std::size_t capacity) : data_(data), capacity_(capacity) {
    if (capacity_ > 0) data_[0] = '\0';
  }
  void push_back(char c) {
    if (size_ + 1 < capacity_) {
      data_[size_++] = c;
      data_[size_] = '\0';
    } else {
      truncated_ = true;
    }
  }
  FixedText& append(std::string_view text) {
    for (char c : text) push_back(c);
    return *this;
  }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool truncated() const { return truncated_; }

 private:
  char* data_;
  std::size_t capacity_;
  std::size_t size_ = 0;
  bool truncated_ = false;
};

// "[FATAL]" .. "[LOW__]" for levels 1..5; empty for any other level.
std::string_view LevelTag(std::uint32_t level);

// The fixed text before the caller's part:
//   level: "hh:mm:ss.mmm [TAG] " (no tag and one space for level 0)
//   info:  "<machine>,<program>,yyyy.mm.dd hh:mm:ss.mmm,info,"
//   ipc:   "yyyy-mm-dd-hh:mm:ss.mmm, "
std::string LinePrefix(LineForm form, const platform::LocalTime& t, std::uint32_t level,
                       std::string_view machine, std::string_view program);
// The same, appended to *out (no allocation once *out has room, none at all
// into a FixedText).
void AppendLinePrefix(LineForm form, const platform::LocalTime& t, std::uint32_t level,
                      std::string_view machine, std::string_view program, std::string* out);
void AppendLinePrefix(LineForm form, const platform::LocalTime& t, std::uint32_t level,
                      std::string_view machine, std::string_view program, FixedText* out);

// The fixed text after it: " \r\n" (level, info) or " \n" (ipc).
std::string_view LineSuffix(LineForm form);

// The longest head of `text` that fits `budget` bytes. A format is never cut
// inside a conversion ("%08.3f" stays whole or goes), and no UTF-8 character
// is split.
std::size_t CutLength(std::string_view text, std::size_t budget, bool is_format);

// Appends `line` to *out as a Windows text-mode stream writes it: each LF
// becomes CR LF.
void AppendTextMode(std::string_view line, std::string* out);
void AppendTextMode(std::string_view line, FixedText* out);

// The file name of a log file below the log root (the file's own part):
// "<root>/<yyyymmdd>/<instance>/<name>_<program>_<machine>_<yyyymmdd>.log"
// for a daily file, "..._<yyyymmdd>_<hh/3 as 2 digits>.log" for one of the
// eight a day; without an instance, straight in <root>.
void AppendLogPath(std::string_view root, std::string_view instance, std::string_view name,
                   std::string_view program, std::string_view machine, const platform::LocalTime& t,
                   bool daily, std::string* out);
void AppendLogPath(std::string_view root, std::string_view instance, std::string_view name,
                   std::string_view program, std::string_view machine, const platform::LocalTime& t,
                   bool daily, FixedText* out);

}  // namespace hostlog

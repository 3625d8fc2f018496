#include "logline.h"

#include "platform/files.h"

namespace hostlog {

std::string_view LevelTag(std::uint32_t level) {
  switch (level) {
    case 1:
      return "[FATAL]";
    case 2:
      return "[ERROR]";
    case 3:
      return "[WARN_]";
    case 4:
      return "[INFO_]";
    case 5:
      return "[LOW__]";
    default:
      return {};
  }
}

namespace {

// "%0<width>d" of a value, without printf: every line has seven of these.
template <typename Out>
void AppendDigits(int value, int width, Out* out) {
  char digits[12];
  int n = 0;
  unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0 && n < 10);
  for (int pad = n; pad < width; ++pad) out->push_back('0');
  while (n > 0) out->push_back(digits[--n]);
}

template <typename Out>
void AppendPrefixTo(LineForm form, const platform::LocalTime& t, std::uint32_t level,
                    std::string_view machine, std::string_view program, Out* out) {
  const auto clock = [&] {
    AppendDigits(t.hour, 2, out);
    out->push_back(':');
    AppendDigits(t.minute, 2, out);
    out->push_back(':');
    AppendDigits(t.second, 2, out);
    out->push_back('.');
    AppendDigits(t.millisecond, 3, out);
  };
  const auto date = [&](char separator) {
    AppendDigits(t.year, 4, out);
    out->push_back(separator);
    AppendDigits(t.month, 2, out);
    out->push_back(separator);
    AppendDigits(t.day, 2, out);
  };
  switch (form) {
    case LineForm::kLevel: {
      clock();
      const std::string_view tag = LevelTag(level);
      if (!tag.empty()) {
        out->push_back(' ');
        out->append(tag);
      }
      out->push_back(' ');
      break;
    }
    case LineForm::kInfo:
      out->append(machine).append(",").append(program).append(",");
      date('.');
      out->push_back(' ');
      clock();
      out->append(",info,");
      break;
    case LineForm::kIpc:
      date('-');
      out->push_back('-');
      clock();
      out->append(", ");
      break;
  }
}

template <typename Out>
void AppendTextModeTo(std::string_view line, Out* out) {
  while (!line.empty()) {
    const std::size_t lf = line.find('\n');
    if (lf == std::string_view::npos) {
      out->append(line);
      return;
    }
    out->append(line.substr(0, lf));
    out->append("\r\n");
    line.remove_prefix(lf + 1);
  }
}

template <typename Out>
void AppendLogPathTo(std::string_view root, std::string_view instance, std::string_view name,
                     std::string_view program, std::string_view machine,
                     const platform::LocalTime& t, bool daily, Out* out) {
  const auto day = [&] {
    AppendDigits(t.year, 4, out);
    AppendDigits(t.month, 2, out);
    AppendDigits(t.day, 2, out);
  };
  const char sep = platform::PathSeparator();
  out->append(root);
  if (!instance.empty()) {
    out->push_back(sep);
    day();
    out->push_back(sep);
    out->append(instance);
  }
  out->push_back(sep);
  out->append(name).append("_").append(program).append("_").append(machine).append("_");
  day();
  if (!daily) {
    out->push_back('_');
    AppendDigits(t.hour / 3, 2, out);
  }
  out->append(".log");
}

}  // namespace

void AppendLinePrefix(LineForm form, const platform::LocalTime& t, std::uint32_t level,
                      std::string_view machine, std::string_view program, std::string* out) {
  AppendPrefixTo(form, t, level, machine, program, out);
}

void AppendLinePrefix(LineForm form, const platform::LocalTime& t, std::uint32_t level,
                      std::string_view machine, std::string_view program, FixedText* out) {
  AppendPrefixTo(form, t, level, machine, program, out);
}

void AppendTextMode(std::string_view line, std::string* out) {
  AppendTextModeTo(line, out);
}

void AppendTextMode(std::string_view line, FixedText* out) {
  AppendTextModeTo(line, out);
}

void AppendLogPath(std::string_view root, std::string_view instance, std::string_view name,
                   std::string_view program, std::string_view machine, const platform::LocalTime& t,
                   bool daily, std::string* out) {
  AppendLogPathTo(root, instance, name, program, machine, t, daily, out);
}

void AppendLogPath(std::string_view root, std::string_view instance, std::string_view name,
                   std::string_view program, std::string_view machine, const platform::LocalTime& t,
                   bool daily, FixedText* out) {
  AppendLogPathTo(root, instance, name, program, machine, t, daily, out);
}

std::string LinePrefix(LineForm form, const platform::LocalTime& t, std::uint32_t level,
                       std::string_view machine, std::string_view program) {
  std::string prefix;
  AppendLinePrefix(form, t, level, machine, program, &prefix);
  return prefix;
}

std::string_view LineSuffix(LineForm form) {
  return form == LineForm::kIpc ? " \n" : " \r\n";
}

namespace {

// Length of the conversion starting at text[pos] == '%', or 0 when it is cut
// off by the end of the text.
std::size_t ConversionLength(std::string_view text, std::size_t pos) {
  std::size_t i = pos + 1;
  const auto in = [&](std::string_view set) {
    return i < text.size() && set.find(text[i]) != std::string_view::npos;
  };
  while (in("-+ #0'")) ++i;
  while (in("0123456789*$")) ++i;
  if (in(".")) {
    ++i;
    while (in("0123456789*")) ++i;
  }
  while (in("hlLqjztI3264")) ++i;
  return i < text.size() ? i + 1 - pos : 0;
}

}  // namespace

std::size_t CutLength(std::string_view text, std::size_t budget, bool is_format) {
  if (text.size() <= budget) return text.size();
  std::size_t cut = budget;
  if (is_format) {
    // Walk the conversions up to the cut; one that straddles it goes whole.
    for (std::size_t i = 0; i < cut; ++i) {
      if (text[i] != '%') continue;
      const std::size_t len = ConversionLength(text, i);
      if (len == 0 || i + len > cut) {
        cut = i;
        break;
      }
      i += len - 1;
    }
  }
  // Do not end inside a UTF-8 sequence: back off over continuation bytes and
  // drop the lead byte whose character does not fit.
  if (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  }
  return cut;
}

}  // namespace hostlog

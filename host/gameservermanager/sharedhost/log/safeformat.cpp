#include "safeformat.h"

#include <cstdint>
#include <cstdio>

namespace hostlog {
namespace {

using Kind = FormatArg::Kind;

// The widest field (width or precision) a conversion may ask for. Log lines
// are far shorter; a text like "%999999999d" would otherwise build a
// gigabyte string for one line.
constexpr int kMaxField = 4096;

// Digits of a literal width or precision within kMaxField.
bool FieldFits(std::string_view digits) {
  int value = 0;
  for (const char d : digits) {
    value = value * 10 + (d - '0');
    if (value > kMaxField) return false;
  }
  return true;
}

// One parsed conversion.
struct Conversion {
  std::string pattern;       // "%-08.3" + length + conversion, ready for snprintf
  char conversion = 0;       // d i u o x X c s p f F e E g G a A %
  std::size_t int_size = 0;  // integer conversions: the size the modifier names
  bool star_width = false;
  bool star_precision = false;
};

// Parses the conversion at format[pos] == '%'. Answers its length, or 0 when
// it is one that never fits (unknown, cut off, %n, wide, positional).
std::size_t Parse(std::string_view format, std::size_t pos, Conversion* c) {
  std::size_t i = pos + 1;
  const auto at = [&](std::size_t k) { return k < format.size() ? format[k] : '\0'; };
  std::string flags;
  while (std::string_view("-+ #0").find(at(i)) != std::string_view::npos && at(i)) flags += at(i++);
  std::string width;
  if (at(i) == '*') {
    c->star_width = true;
    width = "*";
    ++i;
  } else {
    while (at(i) >= '0' && at(i) <= '9') width += at(i++);
  }
  if (at(i) == '$') return 0;  // positional
  if (!FieldFits(width == "*" ? std::string_view() : std::string_view(width))) return 0;
  std::string precision;
  if (at(i) == '.') {
    precision = ".";
    ++i;
    if (at(i) == '*') {
      c->star_precision = true;
      precision += '*';
      ++i;
    } else {
      while (at(i) >= '0' && at(i) <= '9') precision += at(i++);
      if (!FieldFits(std::string_view(precision).substr(1))) return 0;
    }
  }
  // Length modifier: the size an integer conversion reads.
  std::size_t size = sizeof(int);
  std::string length;
  if (format.substr(i, 2) == "hh" || format.substr(i, 2) == "ll") {
    length = format.substr(i, 2);
    size = length == "ll" ? sizeof(long long) : sizeof(int);
    i += 2;
  } else if (format.substr(i, 3) == "I64") {
    length = "ll";
    size = 8;
    i += 3;
  } else if (format.substr(i, 3) == "I32") {
    size = 4;
    i += 3;
  } else {
    switch (at(i)) {
      case 'h':
        length = "h";
        break;
      case 'l':
        length = "l";
        size = sizeof(long);
        break;
      case 'j':
        length = "j";
        size = sizeof(long long);
        break;
      case 'z':
        length = "z";
        size = sizeof(std::size_t);
        break;
      case 't':
        length = "t";
        size = sizeof(std::ptrdiff_t);
        break;
      case 'I':
        length = "z";
        size = sizeof(std::size_t);
        break;
      case 'L':
        return 0;  // long double
      default:
        break;
    }
    if (!length.empty() || at(i) == 'I') ++i;
  }
  const char conv = at(i);
  if (conv == '\0') return 0;
  switch (conv) {
    case 'd':
    case 'i':
    case 'u':
    case 'o':
    case 'x':
    case 'X':
      break;
    case 'c':
    case 's':
      if (!length.empty()) return 0;  // %lc, %ls: wide
      break;
    case 'p':
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      if (!length.empty() && !(length == "l" && conv != 'p')) return 0;
      length.clear();  // %lf is %f
      break;
    case '%':
      if (i != pos + 1) return 0;  // "%5%" is not portable
      break;
    default:
      return 0;  // %n, %S, %C and anything unknown
  }
  c->conversion = conv;
  c->int_size = size;
  c->pattern = "%" + flags + width + precision + length + conv;
  return i + 1 - pos;
}

bool IntFits(const FormatArg& a, std::size_t size) {
  return a.kind == Kind::kInteger && a.size == size;
}

bool ArgFits(const Conversion& c, const FormatArg& a) {
  switch (c.conversion) {
    case 'd':
    case 'i':
    case 'u':
    case 'o':
    case 'x':
    case 'X':
      return IntFits(a, c.int_size);
    case 'c':
      return IntFits(a, sizeof(int));
    case 's':
      return a.kind == Kind::kString;
    case 'p':
      return a.kind == Kind::kPointer || a.kind == Kind::kString;
    default:
      return a.kind == Kind::kFloating;
  }
}

// snprintf of one conversion with its (checked) argument.
void FormatOne(const Conversion& c, const int* width, const int* precision, const FormatArg& a,
               std::string* out) {
  int stars[2];
  int n_stars = 0;
  if (width) stars[n_stars++] = *width;
  if (precision) stars[n_stars++] = *precision;
  char buf[512];
  const auto emit = [&](auto value) {
    int n;
    // The pattern was built by Parse from a known set of characters.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (n_stars == 2) {
      n = std::snprintf(buf, sizeof buf, c.pattern.c_str(), stars[0], stars[1], value);
    } else if (n_stars == 1) {
      n = std::snprintf(buf, sizeof buf, c.pattern.c_str(), stars[0], value);
    } else {
      n = std::snprintf(buf, sizeof buf, c.pattern.c_str(), value);
    }
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < sizeof buf) {
      out->append(buf, static_cast<std::size_t>(n));
      return;
    }
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    if (n_stars == 2) {
      std::snprintf(big.data(), big.size(), c.pattern.c_str(), stars[0], stars[1], value);
    } else if (n_stars == 1) {
      std::snprintf(big.data(), big.size(), c.pattern.c_str(), stars[0], value);
    } else {
      std::snprintf(big.data(), big.size(), c.pattern.c_str(), value);
    }
#pragma GCC diagnostic pop
    out->append(big.data(), static_cast<std::size_t>(n));
  };
  switch (c.conversion) {
    case 'd':
    case 'i':
    case 'u':
    case 'o':
    case 'x':
    case 'X':
    case 'c':
      // The length modifier in the pattern matches the argument's size, so the
      // value is passed as exactly that type.
      if (c.pattern.find("ll") != std::string::npos) {
        emit(a.i);
      } else if (c.pattern.find('l') != std::string::npos) {
        emit(static_cast<long>(a.i));
      } else if (c.pattern.find('z') != std::string::npos) {
        emit(static_cast<std::size_t>(a.u));
      } else if (c.pattern.find('j') != std::string::npos) {
        emit(static_cast<std::intmax_t>(a.i));
      } else if (c.pattern.find('t') != std::string::npos) {
        emit(static_cast<std::ptrdiff_t>(a.i));
      } else {
        emit(static_cast<int>(a.i));
      }
      break;
    case 's':
      emit(a.s ? a.s : "(null)");
      break;
    case 'p':
      emit(a.kind == Kind::kString ? static_cast<const void*>(a.s) : a.p);
      break;
    default:
      emit(a.d);
      break;
  }
}

void AppendArg(const FormatArg& a, std::string* out) {
  char buf[64];
  switch (a.kind) {
    case Kind::kInteger:
      std::snprintf(buf, sizeof buf, a.is_signed ? "%lld" : "%llu", a.i);
      out->append(buf);
      break;
    case Kind::kFloating:
      std::snprintf(buf, sizeof buf, "%g", a.d);
      out->append(buf);
      break;
    case Kind::kString:
      out->append(a.s ? a.s : "(null)");
      break;
    case Kind::kPointer:
      std::snprintf(buf, sizeof buf, "%p", a.p);
      out->append(buf);
      break;
    case Kind::kNone:
      break;
  }
}

// Walks `format`; with `out` set it also formats. False at the first misfit.
bool Walk(std::string_view format, const FormatArg* args, std::size_t count, std::string* out) {
  std::size_t next = 0;
  const auto take_int = [&](int* value) {
    if (next >= count || !IntFits(args[next], sizeof(int))) return false;
    *value = static_cast<int>(args[next++].i);
    return true;
  };
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      if (out) out->push_back(format[i]);
      continue;
    }
    Conversion c;
    const std::size_t len = Parse(format, i, &c);
    if (len == 0) return false;
    i += len - 1;
    if (c.conversion == '%') {
      if (out) out->push_back('%');
      continue;
    }
    int width = 0;
    int precision = 0;
    if (c.star_width && !take_int(&width)) return false;
    if (c.star_precision && !take_int(&precision)) return false;
    // A negative width means left-justified; a negative precision, none.
    if (width < -kMaxField || width > kMaxField || precision > kMaxField) return false;
    if (next >= count || !ArgFits(c, args[next])) return false;
    if (out) {
      FormatOne(c, c.star_width ? &width : nullptr, c.star_precision ? &precision : nullptr,
                args[next], out);
    }
    ++next;
  }
  return true;
}

}  // namespace

bool FormatFits(std::string_view format, const FormatArg* args, std::size_t count) {
  return Walk(format, args, count, nullptr);
}

bool FormatChecked(std::string_view format, const FormatArg* args, std::size_t count,
                   std::string* out) {
  out->clear();
  if (Walk(format, args, count, nullptr)) {
    Walk(format, args, count, out);
    return true;
  }
  out->assign(format);
  if (count > 0) {
    out->append(" [");
    for (std::size_t k = 0; k < count; ++k) {
      if (k) out->append(", ");
      AppendArg(args[k], out);
    }
    out->push_back(']');
  }
  return false;
}

}  // namespace hostlog

#include "crs/safe_format.h"

#include <cstdint>

namespace crs {
namespace {

// Output cursor over the caller's buffer; counts what it drops so that the
// buffer is never overrun.
struct Sink {
  char* buffer;
  size_t capacity;
  size_t length;

  void Put(char c) {
    if (capacity != 0 && length + 1 < capacity) buffer[length++] = c;
  }
  void Repeat(char c, int count) {
    for (int i = 0; i < count; ++i) Put(c);
  }
};

// Digits of value in base 10 or 16, most significant first; answers the count.
int ToDigits(uint64_t value, unsigned base, bool upper, char (&digits)[24]) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char reversed[24];
  int n = 0;
  do {
    reversed[n++] = set[value % base];
    value /= base;
  } while (value != 0);
  for (int i = 0; i < n; ++i) digits[i] = reversed[n - 1 - i];
  return n;
}

void PutNumber(Sink& out, uint64_t magnitude, bool negative, unsigned base, bool upper, int width,
               bool left, bool zero) {
  char digits[24];
  int n = ToDigits(magnitude, base, upper, digits);
  int total = n + (negative ? 1 : 0);
  int pad = width > total ? width - total : 0;
  if (!left && !zero) out.Repeat(' ', pad);
  if (negative) out.Put('-');
  if (!left && zero) out.Repeat('0', pad);
  for (int i = 0; i < n; ++i) out.Put(digits[i]);
  if (left) out.Repeat(' ', pad);
}

enum class Length { kInt, kChar, kShort, kLong, kLongLong, kSize, kMax };

int64_t SignedArg(va_list& args, Length length) {
  switch (length) {
    case Length::kChar:
      return static_cast<signed char>(va_arg(args, int));
    case Length::kShort:
      return static_cast<short>(va_arg(args, int));
    case Length::kLong:
      return va_arg(args, long);
    case Length::kLongLong:
      return va_arg(args, long long);
    case Length::kSize:
      return static_cast<int64_t>(va_arg(args, size_t));
    case Length::kMax:
      return va_arg(args, intmax_t);
    case Length::kInt:
      break;
  }
  return va_arg(args, int);
}

uint64_t UnsignedArg(va_list& args, Length length) {
  switch (length) {
    case Length::kChar:
      return static_cast<unsigned char>(va_arg(args, unsigned));
    case Length::kShort:
      return static_cast<unsigned short>(va_arg(args, unsigned));
    case Length::kLong:
      return va_arg(args, unsigned long);
    case Length::kLongLong:
      return va_arg(args, unsigned long long);
    case Length::kSize:
      return va_arg(args, size_t);
    case Length::kMax:
      return va_arg(args, uintmax_t);
    case Length::kInt:
      break;
  }
  return va_arg(args, unsigned);
}

}  // namespace

size_t VFormatTo(char* buffer, size_t capacity, const char* format, va_list args_in) {
  Sink out{buffer, capacity, 0};
  va_list args;
  va_copy(args, args_in);
  for (const char* p = format; p != nullptr && *p != '\0'; ++p) {
    if (*p != '%') {
      out.Put(*p);
      continue;
    }
    const char* start = p++;
    bool left = false;
    bool zero = false;
    for (;; ++p) {
      if (*p == '-') {
        left = true;
      } else if (*p == '0') {
        zero = true;
      } else {
        break;
      }
    }
    int width = 0;
    if (*p == '*') {
      width = va_arg(args, int);
      if (width < 0) {
        left = true;
        width = -width;
      }
      ++p;
    } else {
      while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
    }
    int precision = -1;
    if (*p == '.') {
      ++p;
      precision = 0;
      if (*p == '*') {
        precision = va_arg(args, int);
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') precision = precision * 10 + (*p++ - '0');
      }
    }
    Length length = Length::kInt;
    if (p[0] == 'h' && p[1] == 'h') {
      length = Length::kChar;
      p += 2;
    } else if (p[0] == 'h') {
      length = Length::kShort;
      ++p;
    } else if (p[0] == 'l' && p[1] == 'l') {
      length = Length::kLongLong;
      p += 2;
    } else if (p[0] == 'l') {
      length = Length::kLong;
      ++p;
    } else if (p[0] == 'z') {
      length = Length::kSize;
      ++p;
    } else if (p[0] == 'j') {
      length = Length::kMax;
      ++p;
    }
    switch (*p) {
      case 'd':
      case 'i': {
        int64_t v = SignedArg(args, length);
        uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        PutNumber(out, magnitude, v < 0, 10, false, width, left, zero);
        break;
      }
      case 'u':
        PutNumber(out, UnsignedArg(args, length), false, 10, false, width, left, zero);
        break;
      case 'x':
      case 'X':
        PutNumber(out, UnsignedArg(args, length), false, 16, *p == 'X', width, left, zero);
        break;
      case 'p':
        out.Put('0');
        out.Put('x');
        PutNumber(out, reinterpret_cast<uintptr_t>(va_arg(args, void*)), false, 16, false, 0, false,
                  false);
        break;
      case 'c': {
        int pad = width > 1 ? width - 1 : 0;
        if (!left) out.Repeat(' ', pad);
        out.Put(static_cast<char>(va_arg(args, int)));
        if (left) out.Repeat(' ', pad);
        break;
      }
      case 's': {
        const char* s = va_arg(args, const char*);
        if (s == nullptr) s = "(null)";
        int n = 0;
        while (s[n] != '\0' && (precision < 0 || n < precision)) ++n;
        int pad = width > n ? width - n : 0;
        if (!left) out.Repeat(' ', pad);
        for (int i = 0; i < n; ++i) out.Put(s[i]);
        if (left) out.Repeat(' ', pad);
        break;
      }
      case '%':
        out.Put('%');
        break;
      case '\0':
        // A lone '%' at the end: keep it and stop.
        for (const char* q = start; *q != '\0'; ++q) out.Put(*q);
        --p;
        break;
      default:
        for (const char* q = start; q <= p; ++q) out.Put(*q);
        break;
    }
  }
  va_end(args);
  if (capacity != 0) buffer[out.length] = '\0';
  return out.length;
}

size_t FormatTo(char* buffer, size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  size_t n = VFormatTo(buffer, capacity, format, args);
  va_end(args);
  return n;
}

size_t AppendTo(char* buffer, size_t capacity, const char* format, ...) {
  size_t used = TextLength(buffer);
  if (capacity == 0 || used + 1 >= capacity) return used;
  va_list args;
  va_start(args, format);
  size_t n = VFormatTo(buffer + used, capacity - used, format, args);
  va_end(args);
  return used + n;
}

size_t CopyTo(char* buffer, size_t capacity, const char* text) {
  return FormatTo(buffer, capacity, "%s", text);
}

size_t TextLength(const char* text) {
  size_t n = 0;
  if (text != nullptr) {
    while (text[n] != '\0') ++n;
  }
  return n;
}

}  // namespace crs

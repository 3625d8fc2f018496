// Formatting with a format text that is data, not code.
//
// The texts of the message-definition table are printf formats written by
// whoever edits the data file. A text whose conversions do not match the
// arguments the code passes would be undefined behaviour in printf. SafeFormat
// first checks every conversion of the text against the type of the argument
// actually passed; only when all of them fit does it format. Otherwise it
// answers the raw text followed by the arguments, " [arg1, arg2]", and never
// reads an argument that is not there.
//
// What fits (sizes as this build's C types have them):
//   %d %i %u %o %x %X %c   an integer (bool, char, short promote to int) of
//                          the size the length modifier names: none/hh/h int,
//                          l long, ll long long, z size_t, j intmax_t,
//                          t ptrdiff_t, I64 64-bit, I32 32-bit; signedness is
//                          not checked (printf reads both alike)
//   %f %F %e %E %g %G %a %A  float or double (no L)
//   %s                     const char*, char* or std::string (nullptr prints
//                          "(null)")
//   %p                     any pointer
//   * width or precision   an int-sized integer
//   %%                     no argument
// Never fits: %n, wide conversions (%ls, %lc, %S, %C), positional "%1$d",
// a width or precision (written or passed with *) above 4096, and anything
// unknown or cut off. Arguments left over after the last
// conversion are allowed (printf ignores them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace hostlog {

// One argument, with the facts the check needs.
struct FormatArg {
  enum class Kind : std::uint8_t { kNone, kInteger, kFloating, kString, kPointer };
  Kind kind = Kind::kNone;
  std::uint8_t size = 0;  // integer: size after default promotion
  bool is_signed = false;
  union {
    long long i;
    unsigned long long u;
    double d;
    const char* s;
    const void* p;
  };
  FormatArg() : i(0) {}
};

template <typename T>
FormatArg MakeFormatArg(const T& value) {
  FormatArg a;
  using U = std::remove_cv_t<T>;
  if constexpr (std::is_same_v<U, std::string>) {
    a.kind = FormatArg::Kind::kString;
    a.s = value.c_str();
  } else if constexpr (std::is_same_v<U, char*> || std::is_same_v<U, const char*>) {
    a.kind = FormatArg::Kind::kString;
    a.s = value;
  } else if constexpr (std::is_array_v<U> &&
                       std::is_same_v<std::remove_cv_t<std::remove_extent_t<U>>, char>) {
    a.kind = FormatArg::Kind::kString;
    a.s = value;
  } else if constexpr (std::is_enum_v<U>) {
    return MakeFormatArg(static_cast<std::underlying_type_t<U>>(value));
  } else if constexpr (std::is_integral_v<U>) {
    a.kind = FormatArg::Kind::kInteger;
    a.size = sizeof(U) < sizeof(int) ? sizeof(int) : sizeof(U);
    a.is_signed = std::is_signed_v<U>;
    if constexpr (std::is_signed_v<U>) {
      a.i = static_cast<long long>(value);
    } else {
      a.u = static_cast<unsigned long long>(value);
    }
  } else if constexpr (std::is_floating_point_v<U>) {
    static_assert(!std::is_same_v<U, long double>, "long double is not supported");
    a.kind = FormatArg::Kind::kFloating;
    a.d = static_cast<double>(value);
  } else if constexpr (std::is_pointer_v<U> || std::is_null_pointer_v<U>) {
    a.kind = FormatArg::Kind::kPointer;
    a.p = static_cast<const void*>(value);
  } else {
    static_assert(sizeof(U) == 0, "SafeFormat: unsupported argument type");
  }
  return a;
}

// Checks `format` against `args` (count `count`). True when every conversion
// fits, in which case *out receives the formatted text; false otherwise, and
// *out receives the raw text and the arguments.
bool FormatChecked(std::string_view format, const FormatArg* args, std::size_t count,
                   std::string* out);

// True when `format` fits `args` (nothing is formatted).
bool FormatFits(std::string_view format, const FormatArg* args, std::size_t count);

// The safe printf: see the top of this file.
template <typename... Args>
std::string SafeFormat(std::string_view format, const Args&... args) {
  const FormatArg list[sizeof...(Args) + 1] = {MakeFormatArg(args)..., FormatArg()};
  std::string out;
  FormatChecked(format, list, sizeof...(Args), &out);
  return out;
}

}  // namespace hostlog

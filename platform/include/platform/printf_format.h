// Marks a printf-like function so that the compiler checks its calls.
//
// mingw-w64's GCC takes plain "printf" to mean the msvcrt dialect (no "%zu",
// no "%hhu"); the Windows build uses the C99 printf of the mingw runtime
// (__USE_MINGW_ANSI_STDIO), whose dialect GCC calls gnu_printf. The choice is
// made by compiler, not by operating system, as in export.h.
#pragma once

#if defined(__MINGW32__)
#define SERVERAPP_PRINTF(format_index, first_arg) \
  __attribute__((format(gnu_printf, format_index, first_arg)))
#elif defined(__GNUC__) || defined(__clang__)
#define SERVERAPP_PRINTF(format_index, first_arg) \
  __attribute__((format(printf, format_index, first_arg)))
#else
#define SERVERAPP_PRINTF(format_index, first_arg)
#endif

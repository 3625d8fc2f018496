// Whether this program was built with ThreadSanitizer (GCC and clang).
#pragma once

namespace testsupport {

#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
inline constexpr bool kThreadSanitizer = __has_feature(thread_sanitizer);
#else
inline constexpr bool kThreadSanitizer = false;
#endif

}  // namespace testsupport

// Which sanitizer this test program was built with, for the few tests whose
// expectations differ under one (GCC defines __SANITIZE_THREAD__, clang
// answers __has_feature).
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

// The crash-report URL split over arbitrary texts (docs/fuzzing.md).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crs/crs_url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // NUL-ended copy
  crs::Url url;
  const uint32_t error = crs::CrackUrl(text.c_str(), &url);
  auto terminated = [](const auto& field) { return std::memchr(field, '\0', sizeof(field)); };
  if (!terminated(url.url) || !terminated(url.host) || !terminated(url.path)) std::abort();
  if (std::strncmp(url.url, text.c_str(), sizeof(url.url) - 1) != 0) std::abort();
  if (error == 0) {
    if (url.host[0] == '\0' || url.port == 0) std::abort();
  } else {
    if (error != crs::kErrorInvalidUrl && error != crs::kErrorUnrecognizedScheme) std::abort();
    if (url.host[0] != '\0' || url.port != 0 || url.path[0] != '\0') std::abort();
  }
  return 0;
}

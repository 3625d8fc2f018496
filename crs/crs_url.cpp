#include "crs/crs_url.h"

#include <cstring>

#include "crs/safe_format.h"

namespace crs {
namespace {

bool StartsWithNoCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    char c = *text;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *prefix) return false;
  }
  return true;
}

}  // namespace

uint32_t CrackUrl(const char* text, Url* out) {
  CopyTo(out->url, sizeof(out->url), text);
  out->host[0] = '\0';
  out->path[0] = '\0';
  out->port = 0;
  const char* p = text;
  uint16_t default_port;
  if (StartsWithNoCase(p, "https:")) {
    default_port = 443;
    p += 6;
  } else if (StartsWithNoCase(p, "http:")) {
    default_port = 80;
    p += 5;
  } else {
    // Either no scheme at all or one this client does not speak.
    return std::strchr(p, ':') != nullptr ? kErrorUnrecognizedScheme : kErrorInvalidUrl;
  }
  if (p[0] != '/' || p[1] != '/') return kErrorInvalidUrl;
  p += 2;

  // The authority ends at the path or the query.
  const char* end = p;
  while (*end != '\0' && *end != '/' && *end != '?' && *end != '#') ++end;
  const char* at = nullptr;
  for (const char* q = p; q < end; ++q) {
    if (*q == '@') at = q;
  }
  if (at != nullptr) p = at + 1;
  const char* host_end = end;
  if (*p == '[') {
    const char* close = static_cast<const char*>(std::memchr(p, ']', static_cast<size_t>(end - p)));
    if (close == nullptr) return kErrorInvalidUrl;
    host_end = close + 1;
  } else {
    const char* colon = static_cast<const char*>(std::memchr(p, ':', static_cast<size_t>(end - p)));
    if (colon != nullptr) host_end = colon;
  }
  size_t host_size = static_cast<size_t>(host_end - p);
  if (host_size == 0 || host_size >= sizeof(out->host)) return kErrorInvalidUrl;

  uint32_t port = default_port;
  if (host_end < end) {
    if (*host_end != ':') return kErrorInvalidUrl;
    const char* digits = host_end + 1;
    if (digits == end) return kErrorInvalidUrl;
    port = 0;
    for (const char* q = digits; q < end; ++q) {
      if (*q < '0' || *q > '9') return kErrorInvalidUrl;
      port = port * 10 + static_cast<uint32_t>(*q - '0');
      if (port > 65535) return kErrorInvalidUrl;
    }
    if (port == 0) return kErrorInvalidUrl;
  }
  std::memcpy(out->host, p, host_size);
  out->host[host_size] = '\0';
  out->port = static_cast<uint16_t>(port);
  CopyTo(out->path, sizeof(out->path), end);
  return 0;
}

}  // namespace crs

// The crash-report service URL and its split into host, port and path.
#pragma once

#include <cstddef>
#include <cstdint>

namespace crs {

// Error codes of a URL that does not split, the numbers WinHTTP uses.
inline constexpr uint32_t kErrorInvalidUrl = 12005;
inline constexpr uint32_t kErrorUnrecognizedScheme = 12006;

// The parsed service URL. An empty host means "disabled".
struct Url {
  char url[260] = {};    // the URL as configured, cut to 259 bytes
  char host[256] = {};   // host name part ("[::1]" keeps its brackets)
  uint16_t port = 0;     // the URL's port, else the scheme's default (80, 443)
  char path[1024] = {};  // path followed by the query ("?..." or "#..."); may be empty
};

// Splits text as WinHttpCrackUrl does: "http" or "https" (any case), "://",
// an optional "user[:password]@", the host, an optional ":port" (1..65535),
// then path and query. Answers 0 and fills host, port and path, or an error
// code (kErrorUnrecognizedScheme, kErrorInvalidUrl) and leaves them empty.
// url (cut to 259 bytes) is filled in either case; the split is of the
// whole text. The scheme never switches on TLS.
uint32_t CrackUrl(const char* text, Url* out);

}  // namespace crs

// The development services of the real-host tests are the one helper
// support/content_server.h; this name stays for tests/contentwire.
#pragma once

#include "support/content_server.h"

namespace devtest {

class DevServices : public testsupport::ContentServer {
 public:
  std::string ContentUrl() const { return Url(); }
  std::filesystem::path ContentRoot() const { return Root(); }
};

}  // namespace devtest

#include "platform/identity.h"

namespace platform {

std::string ComputerNameOf(std::string_view host_name) {
  if (host_name.size() > kComputerNameMax) host_name = host_name.substr(0, host_name.find('.'));
  if (host_name.size() > kComputerNameMax) return {};
  return std::string(host_name);
}

}  // namespace platform

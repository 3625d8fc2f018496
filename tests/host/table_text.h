// Texts of the default message table, read from its source so that tests
// follow the data rather than copies of it.
#pragma once

#include <fstream>
#include <string>

namespace hosttest {

inline std::string TableText(int id) {
  std::ifstream in(std::string(SERVERAPP_SOURCE_DIR) + "/data/msz/MSG_DEFINE_ServerApp_Log.txt");
  std::string line;
  std::string prefix = std::to_string(id) + " ";
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
  }
  return "<no text " + std::to_string(id) + ">";
}

}  // namespace hosttest

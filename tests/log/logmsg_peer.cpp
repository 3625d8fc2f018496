// Another instance's message table: logmsg_peer <write|read|nouse>
// <hold|exit> [ids...] prints "init=<0|1> mode=<m> error=<e>", "text
// <id>=<text>" per id, then "ready"; "hold" keeps the table until stdin
// closes.
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "logmsgmanager.h"
#include "logmsgmanager_testing.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::string mode = argv[1];
  const bool hold = std::strcmp(argv[2], "hold") == 0;
  SetLogMsgWaitsForTesting(300, 500, 10);
  const ESharedMemUsage usage = mode == "write"  ? EUSAGE_WRITE
                                : mode == "read" ? EUSAGE_READ
                                                 : EUSAGE_NOUSE;
  const bool ok = InitLogMsgManager(usage);
  std::cout << "init=" << ok << " mode=" << LogMsgManager::GetUsage()
            << " error=" << GetLogMsgError() << "\n";
  for (int i = 3; i < argc; ++i) {
    const auto id = static_cast<std::uint32_t>(std::atoi(argv[i]));
    std::cout << "text " << id << "=" << GetLogMsg(id) << "\n";
  }
  std::cout << "ready" << std::endl;
  if (hold) {
    std::string ignored;
    while (std::getline(std::cin, ignored)) {
    }
  }
  ReleaseLogMsgManager();
  return 0;
}

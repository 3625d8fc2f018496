// CreateServer and DeleteServer, the reference module's entry points for
// the host.
#include <mutex>

#include "interface/moduleexports.h"
#include "platform/export.h"
#include "server.h"

namespace {

// The one server object of this module image.
std::mutex g_server_mutex;
refmod::CReferenceServer* g_server = nullptr;

// Where the switches live: the host's current directory.
constexpr const char* kSwitchFile = ".\\ReferenceModule.ini";

}  // namespace

extern "C" SERVERAPP_EXPORT int32_t CreateServer(uint32_t nVersion, void** pModuleData,
                                                 IGameServer** ppServer) {
  if (ppServer == nullptr) return 1;
  *ppServer = nullptr;
  // Only the contract this module was built for is served.
  if (nVersion != SERVER_INTERFACE_VERSION) return 3;
  refmod::ServerSwitches switches = refmod::ReadServerSwitches(kSwitchFile);
  if (switches.create_status != 0) return switches.create_status;
  if (switches.create_null) return 0;

  std::lock_guard<std::mutex> lock(g_server_mutex);
  delete g_server;  // a second CreateServer replaces the first object
  g_server = new refmod::CReferenceServer(switches);
  if (pModuleData != nullptr) *pModuleData = g_server;
  *ppServer = g_server;
  return 0;
}

extern "C" SERVERAPP_EXPORT void DeleteServer(bool bAll) {
  std::lock_guard<std::mutex> lock(g_server_mutex);
  if (g_server != nullptr) g_server->trace().Line("DeleteServer all=%d", bAll ? 1 : 0);
  delete g_server;
  g_server = nullptr;
}

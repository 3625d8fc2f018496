// The reference module's server object: a small but real implementation of
// IGameServer for module authors to read and for the host's tests to drive.
//
// The "room" it runs is deliberately simple: it is preparing for a set
// number of updates and then ready, it counts the users the host inserts,
// and it answers console commands. Every answer the host acts on can be
// changed by a switch (serverswitches.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "interface/igameserver.h"
#include "serverswitches.h"
#include "servertrace.h"

namespace refmod {

class CReferenceServer final : public IGameServer {
 public:
  explicit CReferenceServer(const ServerSwitches& switches);
  ~CReferenceServer();

  int32_t SetAppHandler(ServerAppHandler* pHandler) override;
  int32_t RunConsoleString(const char* pszCommand) override;
  int32_t SendToServerShell(ILTMessage_Read* pMessage) override;
  bool SetRezFileList(const char* const* ppszFiles, int32_t nCount) override;
  bool Initialize(bool bLocalTest) override;
  int32_t GetUserCount() override;
  void GetReadyText(char* pszText, uint32_t nSize) override;
  bool IsPreparing(int32_t nReserved) override;
  bool OpenNetwork(const void* pReserved1, const void* pReserved2) override;
  bool ListNetServices(NET_SERVICE_NODE** ppList) override;
  void FreeNetServices(NET_SERVICE_NODE* pList) override;
  bool UseNetService(uint64_t hService) override;
  int32_t ProbeServer(SERVER_PROBE_BLOCK* pBlock) override;
  void SetManagerHandle(const char* pszHandle) override;

  const ServerTrace& trace() const { return trace_; }

 private:
  // A line into the host's log through the handler (category 0, info).
  void Say(const std::string& text);
  int32_t RunCommand(const std::string& command, const std::string& argument);

  ServerSwitches switches_;
  ServerTrace trace_;
  ServerAppHandler* handler_ = nullptr;

  // Network state.
  bool network_open_ = false;
  uint64_t service_ = 0;
  size_t probe_calls_ = 0;
  int32_t port_ = 0;
  std::string manager_handle_;

  // Room state. The user count is asked without the host's module lock
  // (heartbeats), hence atomic.
  std::atomic<int32_t> users_{0};
  int32_t preparing_left_ = 0;
  uint64_t preparing_calls_ = 0;
  bool initialized_ = false;
  std::vector<std::string> rez_files_;
  uint32_t group_ = 0;
  int32_t server_index_ = -1;
  uint32_t messages_ = 0;
};

}  // namespace refmod

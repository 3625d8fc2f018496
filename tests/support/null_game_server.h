// A server object that answers every operation neutrally; fakes override
// what their test looks at.
#pragma once

#include <cstdint>

#include "interface/igameserver.h"

class NullGameServer : public IGameServer {
 public:
  int32_t SetAppHandler(ServerAppHandler*) override { return 0; }
  int32_t RunConsoleString(const char*) override { return 0; }
  int32_t SendToServerShell(ILTMessage_Read*) override { return 0; }
  bool SetRezFileList(const char* const*, int32_t) override { return true; }
  bool Initialize(bool) override { return true; }
  int32_t GetUserCount() override { return 0; }
  void GetReadyText(char* text, uint32_t size) override {
    if (size > 0) text[0] = '\0';
  }
  bool IsPreparing(int32_t) override { return false; }
  bool OpenNetwork(const void*, const void*) override { return true; }
  bool ListNetServices(NET_SERVICE_NODE**) override { return false; }
  void FreeNetServices(NET_SERVICE_NODE*) override {}
  bool UseNetService(uint64_t) override { return true; }
  int32_t ProbeServer(SERVER_PROBE_BLOCK*) override { return 0; }
  void SetManagerHandle(const char*) override {}
};

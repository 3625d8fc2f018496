// IGameServer: the server object a module creates with CreateServer, and the
// two memory layouts it exchanges with the host (the network service list and
// the start probe block).
//
// The order of the virtual operations is part of the contract: host and
// module are built from this one header.
#pragma once

#include <stddef.h>
#include <stdint.h>

class ILTMessage_Read;
class ServerAppHandler;

// One node of the module's network service list. The module owns the memory;
// the host only reads it and hands the head back to FreeNetServices.
struct NET_SERVICE_NODE {
  uint64_t hService;        // handle passed to UseNetService
  uint32_t dwFlags;         // NET_SERVICE_SELECTED marks the host's choice
  char szName[128];         // the service's name for logs, zero-terminated
  uint8_t reserved[20];     // 0
  NET_SERVICE_NODE* pNext;  // null ends the list
};
inline constexpr uint32_t NET_SERVICE_SELECTED = 0x1;
static_assert(offsetof(NET_SERVICE_NODE, hService) == 0);
static_assert(offsetof(NET_SERVICE_NODE, dwFlags) == 8);
static_assert(offsetof(NET_SERVICE_NODE, szName) == 12);
static_assert(offsetof(NET_SERVICE_NODE, pNext) == 160);
static_assert(sizeof(NET_SERVICE_NODE) == 168);

// The start probe block the host builds for ProbeServer: byte-packed, 4110
// bytes.
#pragma pack(push, 1)
struct SERVER_PROBE_BLOCK {
  int32_t nPort;      // the host's port
  uint32_t dwUnused;  // 0
  uint32_t dwValue;   // 128
  char szText[4096];  // "HAHAHA", zero-terminated
  uint8_t byTail[2];  // 0, 0
};
#pragma pack(pop)
static_assert(offsetof(SERVER_PROBE_BLOCK, nPort) == 0);
static_assert(offsetof(SERVER_PROBE_BLOCK, dwUnused) == 4);
static_assert(offsetof(SERVER_PROBE_BLOCK, dwValue) == 8);
static_assert(offsetof(SERVER_PROBE_BLOCK, szText) == 12);
static_assert(offsetof(SERVER_PROBE_BLOCK, byTail) == 4108);
static_assert(sizeof(SERVER_PROBE_BLOCK) == 4110);

// ProbeServer's answers the host acts on.
inline constexpr int32_t SERVER_PROBE_PASS = 0;
inline constexpr int32_t SERVER_PROBE_REPORT = 80;

// The size of the buffer the host passes to GetReadyText.
inline constexpr uint32_t SERVER_READY_TEXT_SIZE = 255;

class IGameServer {
 public:
  // Attaches the host's handler, or detaches it (null). 0 = success.
  virtual int32_t SetAppHandler(ServerAppHandler* pHandler) = 0;
  // Runs a console command line. 0 = success.
  virtual int32_t RunConsoleString(const char* pszCommand) = 0;
  // Delivers a host message. The reader is valid during the call only; a
  // module that keeps it takes a reference. 0 = success.
  virtual int32_t SendToServerShell(ILTMessage_Read* pMessage) = 0;
  // The content packages and folders to use, in order. The texts are valid
  // during the call only: the module copies what it keeps. true = accepted.
  virtual bool SetRezFileList(const char* const* ppszFiles, int32_t nCount) = 0;
  virtual bool Initialize(bool bLocalTest) = 0;
  virtual int32_t GetUserCount() = 0;
  // Writes a zero-terminated text of at most nSize bytes (the host passes
  // SERVER_READY_TEXT_SIZE).
  virtual void GetReadyText(char* pszText, uint32_t nSize) = 0;
  // true while the room is not ready yet.
  virtual bool IsPreparing(int32_t nReserved) = 0;
  virtual bool OpenNetwork(const void* pReserved1, const void* pReserved2) = 0;
  // Hands out the service list in *ppList (module-owned); false: no list.
  virtual bool ListNetServices(NET_SERVICE_NODE** ppList) = 0;
  virtual void FreeNetServices(NET_SERVICE_NODE* pList) = 0;
  virtual bool UseNetService(uint64_t hService) = 0;
  // SERVER_PROBE_PASS, SERVER_PROBE_REPORT or another failure.
  virtual int32_t ProbeServer(SERVER_PROBE_BLOCK* pBlock) = 0;
  // The manager's window handle as decimal text.
  virtual void SetManagerHandle(const char* pszHandle) = 0;

 protected:
  ~IGameServer() = default;
};

// ServerAppHandler: the object through which the server module calls back
// into the host. The host derives its handler from it and gives it to the
// module with IGameServer::SetAppHandler.
//
// The order of the virtual operations is part of the contract with the
// module; the three reserved slots keep that order and are never called by
// the host itself.
#pragma once

#include <stdint.h>

class ILTMessage_Read;

class ServerAppHandler {
 public:
  // A module message for the host (first 8 bits: its SERVERAPPMSG_* id).
  virtual int32_t OnShellMessage(ILTMessage_Read* /*pMessage*/) { return 0; }
  // A finished log line of the module; never used as a format. category
  // picks the host log (0 host, 1 time-out, 2 misc info, 3 packet, 4 none,
  // 5 kernel, 6 host with the room prefix); level is 1 (fatal) to 5 (low).
  virtual int32_t WriteLog(int32_t /*category*/, int32_t /*level*/, const char* /*pszText*/) {
    return 0;
  }
  // An information line: WriteLog(0, 4, text).
  virtual int32_t WriteInfo(const char* /*pszText*/) { return 0; }
  virtual double ReservedQueryDouble() { return 0.0; }
  // The module hit a fatal condition.
  virtual int32_t ReportFatal() { return 0; }
  virtual int32_t ReservedQuery() { return 0; }
  // Asks the host to notify the manager (manager message 24).
  virtual int32_t NotifyManager() { return 0; }
  virtual bool ReservedCall(void* /*pData*/, int32_t /*nValue*/) { return false; }
  // The host process's private bytes, truncated to 32 bits; 0 on failure.
  virtual uint32_t GetProcessMemoryUsage() = 0;
  // True from the game's end until the next map finished loading.
  virtual bool IsGameEnded() { return false; }

 protected:
  ServerAppHandler() = default;
  ServerAppHandler(const ServerAppHandler&) = default;
  ServerAppHandler& operator=(const ServerAppHandler&) = default;
  ~ServerAppHandler() = default;
};

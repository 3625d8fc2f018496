// CGameServerAppHandler: the handler the host gives the server module. The
// module calls back through it on either thread; every operation does its
// work only once the dialog's back pointer is set.
#pragma once

#include <atomic>
#include <cstdint>

#include "interface/serverapphandler.h"

class CServerAppDlg;

// The system calls behind GetProcessMemoryUsage. The default is the real
// system; tests replace single calls to reach each failure line.
struct ProcessMemoryQuery {
  uint32_t (*ProcessId)();               // 0: no id
  bool (*CanOpenProcess)(uint32_t pid);  // query-information and memory-read access
  uint64_t (*PrivateBytes)();            // 0: the counters could not be read
  int32_t (*LastError)();                // the system's error number of the failed call
};
const ProcessMemoryQuery& RealProcessMemoryQuery();

class CGameServerAppHandler final : public ServerAppHandler {
 public:
  CGameServerAppHandler() = default;

  // Set by the dialog's constructor.
  void SetDialog(CServerAppDlg* pDialog) { m_pDialog = pDialog; }
  // Written by the dialog's handling of the module's messages.
  void SetGameEnded(bool bEnded) { m_bGameEnded.store(bEnded); }
  // `query` must outlive the handler.
  void SetProcessMemoryQuery(const ProcessMemoryQuery& query) { m_pMemoryQuery = &query; }

  // In the order of ServerAppHandler; the reserved slots keep their defaults.
  int32_t OnShellMessage(ILTMessage_Read* pMessage) override;
  int32_t WriteLog(int32_t category, int32_t level, const char* pszText) override;
  int32_t WriteInfo(const char* pszText) override;
  int32_t ReportFatal() override;
  int32_t NotifyManager() override;
  uint32_t GetProcessMemoryUsage() override;
  bool IsGameEnded() override;

 private:
  CServerAppDlg* m_pDialog = nullptr;
  std::atomic<bool> m_bGameEnded{false};
  const ProcessMemoryQuery* m_pMemoryQuery = &RealProcessMemoryQuery();
};

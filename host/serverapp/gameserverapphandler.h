// CGameServerAppHandler: the handler the host gives the server module. The
// module calls back through it on either thread; every operation does its
// work only once the dialog's back pointer is set.
#pragma once

#include <atomic>
#include <cstdint>

#include "interface/serverapphandler.h"

class CServerAppDlg;

class CGameServerAppHandler final : public ServerAppHandler {
 public:
  CGameServerAppHandler() = default;

  // Set by the dialog's constructor.
  void SetDialog(CServerAppDlg* pDialog) { m_pDialog = pDialog; }
  // Written by the dialog's handling of the module's messages.
  void SetGameEnded(bool bEnded) { m_bGameEnded.store(bEnded); }

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
};

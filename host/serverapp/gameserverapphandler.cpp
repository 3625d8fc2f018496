// The handler's operations. Module texts are finished lines: they are
// written verbatim, never used as formats.
#include "gameserverapphandler.h"

#include <string>

#include "hostlogger.h"
#include "logmsgmanager.h"
#include "serverappdlg.h"
#include "serverglobals.h"

namespace {

// The longest console line the list box takes.
constexpr size_t kConsoleLineMax = 259;

}  // namespace

int32_t CGameServerAppHandler::OnShellMessage(ILTMessage_Read* pMessage) {
  if (m_pDialog != nullptr && pMessage != nullptr) m_pDialog->OnShellMessage(pMessage);
  return 0;
}

int32_t CGameServerAppHandler::WriteLog(int32_t category, int32_t level, const char* pszText) {
  if (m_pDialog == nullptr || pszText == nullptr) return 0;
  std::string text(pszText);
  if (g_bConsoleCommand.load()) {
    // The list shows the line without its last character (its line end).
    if (!text.empty()) text.pop_back();
    if (text.size() > kConsoleLineMax) text.resize(kConsoleLineMax);
    m_pDialog->AppendConsoleLine(text);
    return 0;
  }
  uint32_t lvl = static_cast<uint32_t>(level);
  switch (category) {
    case 0:
      HostLogText(lvl, text);
      break;
    case 1:
      TimeoutLogText(text);
      break;
    case 2:
      EtcInfoLogText(text);
      break;
    case 3:
      PacketLogText(text);
      break;
    case 5:
      KernelLogText(lvl, text);
      break;
    case 6: {
      std::string line = "ServerappIndex(" + std::to_string(m_pDialog->m_sServerIndex) +
                         "), Port(" + std::to_string(m_pDialog->m_nPort) + ") " + text;
      HostLogText(lvl, line);
      break;
    }
    default:  // 4 is dropped on purpose; 7 and above are unknown
      break;
  }
  return 0;
}

int32_t CGameServerAppHandler::WriteInfo(const char* pszText) {
  return WriteLog(0, 4, pszText);
}

int32_t CGameServerAppHandler::ReportFatal() {
  if (m_pDialog != nullptr) HostLogEntryText(HLOG_FATAL, 1);
  return 0;
}

int32_t CGameServerAppHandler::NotifyManager() {
  if (m_pDialog != nullptr) m_pDialog->PostToManager(24, 1);
  return 0;
}

uint32_t CGameServerAppHandler::GetProcessMemoryUsage() {
  // The private-bytes query needs a process-memory seam that is not there
  // yet; until then the host answers the failure value.
  return 0;
}

bool CGameServerAppHandler::IsGameEnded() {
  return m_pDialog != nullptr && m_bGameEnded.load();
}

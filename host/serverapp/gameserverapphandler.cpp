// The handler's operations. Module texts are finished lines: they are
// written verbatim, never used as formats.
#include "gameserverapphandler.h"

#include <string>

#include "hostlogger.h"
#include "logmsgmanager.h"
#include "platform/identity.h"
#include "platform/process_memory.h"
#include "platform/runtime.h"
#include "serverappdlg.h"
#include "serverglobals.h"

namespace {

// The longest console line the list box takes.
constexpr size_t kConsoleLineMax = 259;

// Manager message 24: the module asks the host to notify the manager.
constexpr uint16_t kManagerMsgModuleNotice = 24;

// The highest category WriteLog knows; 4 is known and dropped.
constexpr int32_t kLastLogCategory = 6;

const ProcessMemoryQuery kRealQuery = {
    [] { return platform::CurrentProcessId(); },
    [](uint32_t pid) {
      return platform::ProcessMemory::Open(pid, platform::ProcessMemoryAccess::kRead) != nullptr;
    },
    [] { return platform::CurrentProcessPrivateBytes(); },
    [] { return static_cast<int32_t>(platform::LastSystemError()); },
};

}  // namespace

const ProcessMemoryQuery& RealProcessMemoryQuery() {
  return kRealQuery;
}

int32_t CGameServerAppHandler::OnShellMessage(ILTMessage_Read* pMessage) {
  if (m_pDialog != nullptr && pMessage != nullptr) m_pDialog->OnShellMessage(pMessage);
  return 0;
}

int32_t CGameServerAppHandler::WriteLog(int32_t category, int32_t level, const char* pszText) {
  if (m_pDialog == nullptr || pszText == nullptr) return 0;
  std::string text(pszText);
  if (g_bConsoleCommand.load()) {
    // The list shows the line without its last character (its line end);
    // an empty line stays empty.
    if (!text.empty()) text.pop_back();
    if (text.size() > kConsoleLineMax) text.resize(kConsoleLineMax);
    m_pDialog->AppendConsoleLine(text);
    return 0;
  }
  if (category < 0 || category > kLastLogCategory) return 0;
  const uint32_t lvl = static_cast<uint32_t>(level);
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
      // Only the prefix is formatted; the module's text is appended as is.
      std::string line = "ServerappIndex(" + std::to_string(m_pDialog->m_sServerIndex) +
                         "), Port(" + std::to_string(m_pDialog->m_nPort) + ") " + text;
      HostLogText(lvl, line);
      break;
    }
    default:  // 4: dropped on purpose
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
  if (m_pDialog != nullptr) m_pDialog->PostToManager(kManagerMsgModuleNotice, 1);
  return 0;
}

uint32_t CGameServerAppHandler::GetProcessMemoryUsage() {
  if (m_pDialog == nullptr) return 0;
  const int index = m_pDialog->m_sServerIndex;
  const ProcessMemoryQuery& query = *m_pMemoryQuery;

  const uint32_t pid = query.ProcessId();
  if (pid == 0) {
    HostLog(HLOG_ERROR,
            "GetProcessMemoryUsage() Get pid error. (server index: %d, error number: %d)", index,
            query.LastError());
    return 0;
  }
  // On POSIX the open checks the access and is closed again at once: the
  // counters themselves need no handle.
  if (!query.CanOpenProcess(pid)) {
    HostLog(HLOG_ERROR,
            "GetProcessMemoryUsage() Open process error. (server index: %d, error number: %d)",
            index, query.LastError());
    return 0;
  }
  const uint64_t bytes = query.PrivateBytes();
  if (bytes == 0) {
    HostLog(HLOG_ERROR,
            "GetProcessMemoryUsage() GetProcessMemoryInfo error. (server index: %d, error "
            "number: %d)",
            index, query.LastError());
    return 0;
  }
  return static_cast<uint32_t>(bytes);
}

bool CGameServerAppHandler::IsGameEnded() {
  return m_pDialog != nullptr && m_bGameEnded.load();
}

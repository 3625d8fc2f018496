// The console: a command line for the module ("Go"), and its result list.
#include "hostlogger.h"
#include "interface/igameserver.h"
#include "serverappdlg.h"
#include "serverglobals.h"

namespace {

// The edit box's text is read into a 260-byte buffer.
constexpr size_t kConsoleCommandMax = 259;

}  // namespace

void CServerAppDlg::OnConsoleGo(const std::string& text) {
  m_editConsole = text.substr(0, kConsoleCommandMax);
  if (m_editConsole.empty()) return;
  if (m_pServer == nullptr) return;

  // The module writes its lines under the module lock (the update thread
  // holds it for a whole frame). Switching the capture on, clearing the list
  // and switching it off again under that lock keeps a frame's line from
  // landing in the list, or being cleared from it, instead of the log.
  int32_t result;
  {
    platform::LockGuard lock(*g_csServer);
    g_bConsoleCommand.store(true);
    m_listConsole.clear();
    platform::ClearResultLines();
    result = m_pServer->RunConsoleString(m_editConsole.c_str());
    g_bConsoleCommand.store(false);
  }
  if (result != 0) ShowMessageBox("RunConsoleString error.");
}

void CServerAppDlg::AppendConsoleLine(const std::string& line) {
  m_listConsole.push_back(line);
  platform::AppendResultLine(line);
}

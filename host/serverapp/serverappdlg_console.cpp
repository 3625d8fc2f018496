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

  g_bConsoleCommand.store(true);
  m_listConsole.clear();
  platform::ClearResultLines();
  int32_t result;
  {
    platform::LockGuard lock(*g_csServer);
    result = m_pServer->RunConsoleString(m_editConsole.c_str());
  }
  if (result != 0) ShowMessageBox("RunConsoleString error.");
  g_bConsoleCommand.store(false);
}

void CServerAppDlg::AppendConsoleLine(const std::string& line) {
  m_listConsole.push_back(line);
  platform::AppendResultLine(line);
}

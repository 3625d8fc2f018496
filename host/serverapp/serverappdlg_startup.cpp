// OnInitDialog: the start-up sequence, from the five parameters to the
// report of the window to the manager.
#include <cstdlib>
#include <ctime>

#include "crashhook.h"
#include "hostlogger.h"
#include "interface/hostltcommon.h"
#include "interface/igameserver.h"
#include "logmsgmanager.h"
#include "platform/identity.h"
#include "platform/runtime.h"
#include "platform/settings.h"
#include "protocol/gameservermsg.h"
#include "protocol/serverappmsg.h"
#include "protocol/tomodule.h"
#include "serverappdlg.h"
#include "serverglobals.h"
#include "startparams.h"

namespace {

constexpr char kTerminateBadWindow[] = "Invalid manager window handle found. Terminating App";
constexpr char kTerminateBadIndex[] = "Invalid server index found. Terminating App";
constexpr char kTerminateBadCount[] = "Number of parameters is invalid. Terminating App";
constexpr char kManagerNotStarted[] = "GameServerManager has not been started";

constexpr char kSettingFile[] = ".\\Setting.ini";

// Room for the host's log, table and snapshot files beside the module's own
// streams: the Windows runtime allows 512 at once unless raised.
constexpr int kMaxOpenStreams = 768;

}  // namespace

bool CServerAppDlg::ReadStartParameters(bool* from_command_line) {
  StartParams params;
  *from_command_line = !m_args.empty();
  if (*from_command_line) {
    // A command line too short for the five values is answered before any
    // of it is read: its missing arguments must not be taken for values.
    if (m_args.size() < 5) {
      ShowMessageBox(kTerminateBadCount);
      EndDialog(platform::kIdAbort);
      return false;
    }
    params = ParseCommandLineParams(m_args);
    if (params.hManagerWnd == 0 || !platform::IsWindow(params.hManagerWnd)) {
      ShowMessageBox(kTerminateBadWindow);
      EndDialog(platform::kIdAbort);
      return false;
    }
  } else if (!ReadParameterFile(kParameterFile, &params)) {
    ShowMessageBox(kManagerNotStarted);
  }
  m_hManagerWnd = params.hManagerWnd;
  m_nPort = params.nPort;
  m_sServerIndex = params.sServerIndex;
  m_nReserved = params.nReserved;
  m_nGroupNumber = params.nGroupNumber;

  // The title, from the caption the window has now and the command line as
  // the system gave it (on Windows with its own quotes and spacing).
  std::vector<std::string> shown;
  if (!m_args.empty()) shown.push_back(platform::CommandLineText(m_args));
  std::string title = FormatTitle(platform::DialogTitle(), shown, params);
  if (!title.empty()) platform::SetDialogTitle(title);
  std::srand(static_cast<unsigned>(std::time(nullptr)));

  // The checks. The index is checked on every command line (one
  // with "-SaveGameInfo=" after the five values included); values from the
  // parameter file are taken as they are.
  if (*from_command_line) {
    // The value as written, before it is cut to 16 bits: "65536" and
    // "4294967296" must not pass as index 0.
    if (!ServerIndexInRange(params)) {
      ShowMessageBox(kTerminateBadIndex);
      EndDialog(platform::kIdAbort);
      return false;
    }
  } else if (m_hManagerWnd == 0) {
    ShowMessageBox(kTerminateBadCount);
    EndDialog(platform::kIdAbort);
    return false;
  }
  return true;
}

bool CServerAppDlg::InitLogging() {
  InstallCrashHandlerHook(m_strHostName.c_str(), "ServerApp", m_strInstanceFolder.c_str());
  InitHostLogger(m_strHostName.c_str(), "ServerApp", m_strInstanceFolder.c_str(), nullptr);
  m_bLoggerUp = true;
  HostLog(HLOG_INFO, "ServerApp title: %s", platform::DialogTitle().c_str());

  ESharedMemUsage usage = m_sServerIndex == 0 ? EUSAGE_WRITE : EUSAGE_READ;
  if (InitLogMsgManager(usage)) return true;
  uint32_t error = GetLogMsgError();
  HostLog(HLOG_ERROR, "Logger Init Failed : ErrCode[%d]", static_cast<int>(error));
  if (error == 1) {
    HostLog(HLOG_FATAL, "Log Msz File Load Failed. Level 1");
    return false;
  }
  if (InitLogMsgManager(EUSAGE_NOUSE)) {
    HostLog(HLOG_WARN, "Logger USAGE_NOUSE Setted.");
    return true;
  }
  HostLog(HLOG_FATAL, "Log Msz File Load Failed. Level 2");
  return false;
}

bool CServerAppDlg::SendServerInfo() {
  platform::LockGuard lock(*g_csServer);
  ILTMessage_Write* message = nullptr;
  if (g_pLTCommon == nullptr || g_pLTCommon->NewMessage(&message) != 0 || message == nullptr) {
    return true;  // a message that cannot be created is not sent
  }
  message->Acquire();
  proto::WriteServerInfo(*message, static_cast<uint32_t>(m_nGroupNumber),
                         static_cast<uint32_t>(static_cast<int32_t>(m_sServerIndex)));
  int32_t result = m_pServer != nullptr ? m_pServer->SendToServerShell(message->ToReadable()) : 0;
  message->Release();
  return result == 0;
}

void CServerAppDlg::ReadMemoryTransportSwitches() {
  m_bUseReadProcessMemory =
      platform::GetPrivateProfileInt("GameMgmt", "ReadProcessMemory", 0, kSettingFile) != 0;
  m_bUseWriteProcessMemory =
      platform::GetPrivateProfileInt("GameMgmt", "WriteProcessMemory", 0, kSettingFile) != 0;
  HostLog(HLOG_INFO, "ReadProcessMemory=%d, WriteProcessMemory=%d", m_bUseReadProcessMemory ? 1 : 0,
          m_bUseWriteProcessMemory ? 1 : 0);
}

void CServerAppDlg::ReportWindowToManager() {
  bool posted =
      platform::PostMessage(m_hManagerWnd, WM_GAMESERVER,
                            (static_cast<uint32_t>(static_cast<uint16_t>(m_sServerIndex)) << 16) |
                                GAMESERVERMSG_REPORT_HWND,
                            static_cast<platform::LParam>(GetSafeHwnd()));
  HostLog(HLOG_INFO,
          "GAMESERVERMSG_REPORT_HWND PostMessage RESULT : %ld, GSM WND_Handle : %ld, ServerApp "
          "WND_Handle : %ld ServerIndex : %ld\n",
          posted ? 1L : 0L, static_cast<long>(m_hManagerWnd), static_cast<long>(GetSafeHwnd()),
          static_cast<long>(m_sServerIndex));
}

bool CServerAppDlg::OnInitDialog() {
  // A refusal is reported, and start-up goes on with the runtime's limit.
  if (!platform::SetMaxOpenStreams(kMaxOpenStreams)) {
    platform::ReportAssertion("fopen buffer size error", __FILE__, __LINE__);
  }
  bool from_command_line = false;
  if (!ReadStartParameters(&from_command_line)) return false;
  // Before the update thread exists: it posts and sends through the link.
  m_ManagerLink.Attach(m_hManagerWnd, GetSafeHwnd(), m_sServerIndex);

  m_strHostName = platform::HostName();
  m_strInstanceFolder = InstanceFolderName(m_nGroupNumber, m_sServerIndex);
  if (!InitLogging()) return false;

  m_dwProcessId = platform::CurrentProcessId();
  TimeoutLogMsg(GetLogMsg(2), m_dwProcessId);
  LogShellText(hostlog::SafeFormat(GetLogMsg(3), m_nPort, static_cast<int>(m_sServerIndex)), 0);
  LogShellText(hostlog::SafeFormat(GetLogMsg(4), m_nPort), 0);

  if (!InitServer()) return false;
  if (!SendServerInfo()) return false;

  ReadMemoryTransportSwitches();
  ReportWindowToManager();
  ArmHeartbeatWatchdog();
  return true;
}

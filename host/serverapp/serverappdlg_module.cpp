// Loading, starting and stopping the server module.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "hostlogger.h"
#include "interface/igameserver.h"
#include "interface/interfaceerror.h"
#include "interface/interfacestate.h"
#include "interface/moduleexports.h"
#include "logmsgmanager.h"
#include "netservice.h"
#include "protocol/gameservermsg.h"
#include "serverappdlg.h"
#include "serverglobals.h"

namespace {

// How long StopServer gives the update thread after the stop event.
constexpr uint32_t kUpdateThreadGraceMs = 5000;

// A registration the host's interface database refuses (the module's
// SetMasterDatabase bringing a name with another version) goes to the host
// log, where the failing start-up is read about, not only to the debugger.
void LogInterfaceError(const char* text) {
  HostLogText(HLOG_ERROR, text);
}

}  // namespace

bool CServerAppDlg::InitServer() {
  if (!LoadServer() || !StartServer()) {
    HostLogEntryText(HLOG_FATAL, 5);
    return false;
  }
  return true;
}

bool CServerAppDlg::LoadServer() {
  StopServer();
  SetInterfaceErrorSink(&LogInterfaceError);

  int32_t status = 0;
  g_hServerDll = platform::LoadLibrary(ServerModuleFileName());
  if (g_hServerDll != nullptr) {
    auto create = reinterpret_cast<CreateServerFn>(
        platform::GetLibrarySymbol(g_hServerDll, kCreateServerExport));
    if (create != nullptr) {
      status = create(SERVER_INTERFACE_VERSION, &m_pModuleData, &m_pServer);
    }
  }
  if (status != 0 || m_pServer == nullptr) {
    HostLog(HLOG_FATAL,
            "CServerAppDlg::LoadServer(), Fail!!!, LoadFIle=%s, GetLastError=%d, status=%d, "
            "g_hServerDll=%d",
            ServerModuleFileName(), static_cast<int>(platform::LastLibraryError()), status,
            static_cast<int>(reinterpret_cast<intptr_t>(g_hServerDll)));
    // The loader's own words say which file it refused and why.
    if (!platform::LastLibraryErrorText().empty()) {
      HostLog(HLOG_FATAL, "CServerAppDlg::LoadServer(), loader: %s",
              platform::LastLibraryErrorText().c_str());
    }
    return false;
  }

  auto set_master = reinterpret_cast<SetMasterDatabaseFn>(
      platform::GetLibrarySymbol(g_hServerDll, kSetMasterDatabaseExport));
  if (set_master != nullptr) set_master(GetMasterDatabase());

  if (m_pServer->SetAppHandler(&m_AppHandler) != 0) {
    HostLogEntryText(HLOG_FATAL, 13);
    return false;
  }
  if (!BuildRezFileList()) {
    HostLogEntryText(HLOG_FATAL, 14);
    ShowMessageBox("Resource Load Failed");
    return false;
  }
  return true;
}

bool CServerAppDlg::StartServer() {
  if (m_pServer == nullptr) return false;
  if (!SelectNetService()) {
    HostLogEntryText(HLOG_FATAL, 15);
    return false;
  }
  if (!StartProbe()) {
    HostLogEntryText(HLOG_FATAL, 16);
    return false;
  }
  char handle[32];
  std::snprintf(handle, sizeof(handle), "%d", static_cast<int>(m_hManagerWnd));
  m_pServer->SetManagerHandle(handle);
  if (!m_pServer->Initialize(m_bLocalTest != 0)) {
    HostLogEntryText(HLOG_FATAL, 17);
    return false;
  }

  m_hStopEvent.Reset();
  m_bUpdateRunning.store(true);
  m_hUpdateThread = platform::Thread::Start([this] { ThreadUpdate(this); });
  if (!m_hUpdateThread) {
    m_bUpdateRunning.store(false);
    HostLog(HLOG_FATAL, "CServerAppDlg::StartServer - the update thread could not be started");
    StopServer();
    return false;
  }
  return true;
}

bool CServerAppDlg::SelectNetService() {
  if (m_pServer == nullptr) return false;
  if (!m_pServer->OpenNetwork(nullptr, nullptr)) return false;
  NET_SERVICE_NODE* list = nullptr;
  if (!m_pServer->ListNetServices(&list) || list == nullptr) return false;
  std::optional<uint64_t> handle = FindSelectedService(list);
  m_pServer->FreeNetServices(list);
  if (!handle) return false;
  return m_pServer->UseNetService(*handle);
}

bool CServerAppDlg::StartProbe() {
  if (m_pServer == nullptr) return false;
  SERVER_PROBE_BLOCK block = MakeProbeBlock(m_nPort);
  if (m_pServer->ProbeServer(&block) == SERVER_PROBE_PASS) return true;
  if (m_pServer->ProbeServer(&block) == SERVER_PROBE_REPORT) {
    bool posted = PostToManager(GAMESERVERMSG_SERVER_PROBE_NTY, 0);
    HostLog(HLOG_INFO,
            "GAMESERVERMSG_REPORT_HWND PostMessage RESULT : %ld, GSM WND_Handle : %ld, ServerApp "
            "WND_Handle : %ld ServerIndex : %ld\n",
            posted ? 1L : 0L, static_cast<long>(m_hManagerWnd), static_cast<long>(GetSafeHwnd()),
            static_cast<long>(m_sServerIndex));
  }
  return false;
}

bool CServerAppDlg::StopServer() {
  if (m_hUpdateThread) {
    m_hStopEvent.Set();
    if (!m_hUpdateThread->Wait(kUpdateThreadGraceMs)) {
      // Whatever the thread held stays held: the module lock, a queue lock,
      // and, when it was inside a log line, a log lock or the standard
      // output's. The lines still to come must not wait for those.
      AbandonHostLogLocks();
      if (m_hUpdateThread->Terminate()) {
        // The locks it may own are never deleted.
        m_bLocksAbandoned = true;
        HostLog(HLOG_FATAL,
                "CServerAppDlg::StopServer - the update thread did not end within %u ms: "
                "terminated",
                kUpdateThreadGraceMs);
      } else {
        // The thread still runs inside the module: neither the object nor
        // the library may be touched, and the dialog's own memory is about
        // to go. Ending the process now is the only safe way out; the
        // manager still learns that the room's module is gone.
        if (IsManagerWindowValid()) {
          HostLogEntryText(HLOG_INFO, 18);
          PostToManager(kManagerMsgModuleDeleted, 0);
        }
        HostLog(HLOG_FATAL,
                "CServerAppDlg::StopServer - the update thread could not be stopped; the "
                "process ends now");
        std::_Exit(static_cast<int>(m_nModalResult));
      }
    }
    m_hUpdateThread.reset();
    m_bUpdateRunning.store(false);
    m_hStopEvent.Reset();
  }
  if (m_pServer == nullptr) return true;

  m_pServer->SetAppHandler(nullptr);
  if (g_hServerDll != nullptr) {
    if (IsManagerWindowValid()) {
      HostLogEntryText(HLOG_INFO, 18);
      PostToManager(kManagerMsgModuleDeleted, 0);
    }
    auto remove = reinterpret_cast<DeleteServerFn>(
        platform::GetLibrarySymbol(g_hServerDll, kDeleteServerExport));
    if (remove != nullptr) remove(true);
    platform::FreeLibrary(g_hServerDll);
    g_hServerDll = nullptr;
  }
  m_pServer = nullptr;
  return true;
}

// CServerAppDlg: the main dialog of ServerApp, and through it the whole
// life of one room host: start-up (serverappdlg_startup.cpp), module loading
// (serverappdlg_module.cpp), the update thread (serverappdlg_update.cpp),
// the console (serverappdlg_console.cpp), posts to the manager
// (serverappdlg_transport.cpp) and shutdown (serverappdlg_shutdown.cpp).
//
// The dialog is a window (platform/window.h) whose handlers run on the
// thread that called DoModal, the window thread. The update thread shares
// the server module with it under g_csServer (serverglobals.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gameserverapphandler.h"
#include "platform/dialog.h"
#include "platform/thread.h"
#include "platform/window.h"

class IGameServer;
class ILTMessage_Read;

// The manager's window message (WM_USER+0x40).
inline constexpr uint32_t WM_GAMESERVER = platform::kWmUser + 0x40;

// Manager message 20: the host tells the manager that its module is being
// deleted. It has no name in the catalogue.
inline constexpr uint16_t kManagerMsgModuleDeleted = 20;

class CServerAppDlg : public platform::WindowHandler {
 public:
  // args: the command line after the program name (argv[1] onwards).
  explicit CServerAppDlg(std::vector<std::string> args);
  ~CServerAppDlg() override;
  CServerAppDlg(const CServerAppDlg&) = delete;
  CServerAppDlg& operator=(const CServerAppDlg&) = delete;

  // Creates the window, runs OnInitDialog and the modal loop, and answers
  // the modal result (platform::kIdOk, kIdCancel, kIdAbort), or -1 when no
  // window could be created.
  int64_t DoModal();
  // Ends the modal loop with `result`; safe from any thread.
  void EndDialog(int64_t result);

  // The start-up sequence. True when everything succeeded; false when a
  // step stopped it (the dialog then stays open, idle, or was ended).
  bool OnInitDialog();

  // Module loading.
  bool InitServer();
  bool LoadServer();
  bool StartServer();
  bool StopServer();
  bool SelectNetService();
  bool StartProbe();
  // Hands the module its content-package list; false fails the load.
  bool BuildRezFileList();

  // The update thread and its per-frame step (called with g_csServer held).
  static void ThreadUpdate(void* pDialog);
  void ServerUpdate();

  // The console: "Go" with the edit box's text.
  void OnConsoleGo(const std::string& text);
  // A line for the console result list (the handler, while a command runs).
  void AppendConsoleLine(const std::string& line);

  // Messages and log texts from the module (through the handler).
  void OnShellMessage(ILTMessage_Read* pMessage);
  void LogShellText(const std::string& text, uint32_t level);

  // Posts WM_USER+0x40 to the manager with wParam (tIndex << 16) | msgID,
  // only while the manager window is valid. True when the post was made.
  bool PostToManager(uint16_t msgID, int64_t lParam);
  bool IsManagerWindowValid() const;

  // Window messages (the manager's dispatch lands in these).
  void OnPost(uint32_t msg, platform::WParam w_param, platform::LParam l_param) override;
  platform::LResult OnSend(uint32_t msg, platform::WParam w_param, platform::LParam l_param,
                           const platform::CopyData& copy) override;
  void OnTimer(uint64_t timer_id) override;

  // Shows a start-up or console message box; also into the host log once
  // the logger is up.
  void ShowMessageBox(const std::string& text);

  platform::WindowHandle GetSafeHwnd() const;

  // --- members named after the dialog's data (see docs/host.md) ---
  CGameServerAppHandler m_AppHandler;
  int32_t m_bLocalTest = 0;
  std::string m_editConsole;
  std::vector<std::string> m_listConsole;
  std::unique_ptr<platform::Thread> m_hUpdateThread;
  IGameServer* m_pServer = nullptr;
  platform::WindowHandle m_hManagerWnd = 0;
  std::atomic<int32_t> m_lPendingNotice{0};
  int16_t m_sServerIndex = -1;
  platform::ManualResetEvent m_hStopEvent;
  std::atomic<int32_t> m_bServerReady{0};    // read by the heartbeat handling too
  std::vector<uint64_t> m_RwpmAddressTable;  // 3050 addresses, zero until the manager sends its own
  bool m_bUseReadProcessMemory = false;
  bool m_bUseWriteProcessMemory = false;
  int32_t m_nLastManagerMessageValue = 0;
  int32_t m_nPort = 0;
  uint32_t m_dwProcessId = 0;
  int32_t m_nReserved = 0;
  int32_t m_nGroupNumber = 0;
  std::string m_strHostName;
  std::string m_strInstanceFolder;

 private:
  // Start-up steps of OnInitDialog, split by concern.
  bool ReadStartParameters(bool* from_command_line);
  bool InitLogging();
  bool SendServerInfo();
  void ReadMemoryTransportSwitches();
  void ReportWindowToManager();
  void SendPendingReset();
  void StartDialogFeed();

  std::vector<std::string> m_args;
  std::unique_ptr<platform::Window> m_pWindow;
  std::unique_ptr<platform::DialogFeed> m_pFeed;
  // The module variable CreateServer receives; the host never reads it.
  void* m_pModuleData = nullptr;
  std::atomic<bool> m_bUpdateRunning{false};
  // The update thread was parked while it may have held g_csServer or a
  // queue lock: those locks are abandoned, never deleted.
  bool m_bLocksAbandoned = false;
  bool m_bLoggerUp = false;
  int64_t m_nModalResult = platform::kIdCancel;
};

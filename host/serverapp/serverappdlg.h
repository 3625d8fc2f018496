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
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "content/uccdownload.h"
#include "gameserverapphandler.h"
#include "managerlink/managerlink.h"
#include "platform/dialog.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "snapshot/gameinfosnapshot.h"

class IGameServer;
class ILTMessage_Read;
class ILTMessage_Write;
struct PROTO_START_HOST;
struct PROTO_GAME_USER_INFO;
struct stUCCGamePlay;
namespace proto {
struct CopyDataPayload;
}

// The manager's window message (WM_USER+0x40).
inline constexpr uint32_t WM_GAMESERVER = platform::kWmUser + 0x40;

// Manager message 20: the host tells the manager that its module is being
// deleted. It has no name in the catalogue.
inline constexpr uint16_t kManagerMsgModuleDeleted = 20;

// The frame length (ms) of a round type, set on the manager's map load.
uint32_t FrameIntervalForRoundType(uint8_t roundType);

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
  // The copy-data send of one payload to the manager (wParam: this window),
  // only while the manager window is valid; blocks until the manager has
  // handled it. True when it was delivered (serverappdlg_shellsend.cpp).
  bool SendPayloadToManager(const proto::CopyDataPayload& payload);

  // Window messages (the manager's dispatch lands in these).
  void OnPost(uint32_t msg, platform::WParam w_param, platform::LParam l_param) override;
  platform::LResult OnSend(uint32_t msg, platform::WParam w_param, platform::LParam l_param,
                           const platform::CopyData& copy) override;
  void OnTimer(uint64_t timer_id) override;

  // The manager-to-module dispatch (serverappdlg_dispatch*.cpp): posted
  // WM_USER+0x40 messages, WM_COPYDATA (answers the default handling's 0),
  // and the forward of one module message under g_csServer. A failed
  // delivery runs `on_failure`, by default message-definition entry 41.
  void OnGameServerMessage(platform::WParam wParam, platform::LParam lParam);
  platform::LResult OnCopyData(platform::WindowHandle hSender, const platform::CopyData& copy);
  void ForwardToModule(const std::function<void(ILTMessage_Write&)>& write,
                       const std::function<void()>& on_failure = {});
  // GAMESERVERMSG_TERMINATE and the heartbeat watchdog: no dump from here
  // on, entry 43, the dialog ends as its OK button would.
  void EndByManagerRequest();
  // GAMESERVERMSG_UCC_MAP_LOAD's one call into the content download.
  void StartUccMapLoad(const stUCCGamePlay& play);
  // Arms timer 1 when ".\Setting.ini" [GameMgmt] HeartbeatWatchdogMs is
  // above 0 (docs/dispatch.md). Answers the period, 0 when off.
  uint32_t ArmHeartbeatWatchdog();

  // The queued records' delivery on the update thread, with g_csServer
  // held (serverappdlg_queue.cpp).
  void SendGameInfo(const PROTO_START_HOST& record);
  void SendUserInfo(const PROTO_GAME_USER_INFO& record);

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
  std::atomic<int32_t> m_bServerReady{0};  // read by the heartbeat handling too
  // Posts, copy-data sends and reads to and from the manager; it also keeps
  // the RWPM address table.
  CManagerLink m_ManagerLink;
  // Set by GAMESERVERMSG_RESET_ROOM, cleared by a map load and by the
  // heartbeat that finds the room empty.
  std::atomic<int32_t> m_lIdleRequest{0};
  std::atomic<uint8_t> m_byCurrentRoundType{0};
  // Timer-1 ticks since the last heartbeat (window thread only).
  int32_t m_nHeartbeatMisses = 0;
  bool m_bUseReadProcessMemory = false;
  bool m_bUseWriteProcessMemory = false;
  int32_t m_nLastManagerMessageValue = 0;
  int32_t m_nPort = 0;
  uint32_t m_dwProcessId = 0;
  int32_t m_nReserved = 0;
  int32_t m_nGroupNumber = 0;
  std::string m_strHostName;
  std::string m_strInstanceFolder;
  // The module's last SERVERAPPMSG_HEARTBEAT_VALUE: the high half of the
  // heartbeat answer; 0 at start.
  std::atomic<uint32_t> m_dwHeartbeatValue{0};
  // The content-package map load (GAMESERVERMSG_UCC_MAP_LOAD): its request,
  // download and wait, wired to this dialog in the constructor.
  CUccDownload m_Ucc;

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
  // The arguments joined by single spaces: the command line that the
  // snapshot's "-SaveGameInfo=" is read from.
  std::string m_strCommandLine;
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

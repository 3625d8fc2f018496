// A server module built with the Windows compiler's C++ ABI and no standard
// library, implementing everything of the module boundary that the host
// uses: the exports, the IGameServer operations, ILTCommon and its messages
// (registered with a holder and a hook of its own), the calls back through
// ServerAppHandler, and unregistration when the library is unloaded.
//
// The room answers a map initialisation with SERVERAPPMSG_LOADING_COMPLETE,
// an inserted character with SERVERAPPMSG_ADDCLIENT and a disconnected user
// with SERVERAPPMSG_REMOVECLIENT (message ids and records: docs/protocol.md).
// It registers two implementations of "ILTCommon.Server": "backup", which
// sorts first and so becomes current when the host's database takes it in,
// and "msvcabi", which its hook then selects. That selection runs in this
// module's code on the host's name manager and re-points the host's holder
// through its Set slot; the room's answers need the module's own holder,
// which the host's code re-points through the same slot. A slot that differs
// between the two compilers leaves the host without a message factory or
// the module with the wrong one. At unload it writes "MsvcAbiModule.txt" in
// the current folder: what a test checks for leaks and for those slots.
#include "interface/apiholder.h"
#include "interface/apiregistration.h"
#include "interface/igameserver.h"
#include "interface/iltcommon.h"
#include "interface/interfacenamemgr.h"
#include "interface/interfacestate.h"
#include "interface/moduleexports.h"
#include "interface/serverapphandler.h"
#include "message.h"
#include "runtime.h"

namespace msvcabi {
namespace {

// Module message ids (docs/protocol.md).
constexpr uint32_t kMsgInit = 0;               // host to module: map initialisation
constexpr uint32_t kMsgInsertCharacter = 14;   // host to module
constexpr uint32_t kMsgUserDisconnected = 16;  // host to module
constexpr uint32_t kMsgLoadingComplete = 0;    // module to host
constexpr uint32_t kMsgAddClient = 1;          // module to host
constexpr uint32_t kMsgRemoveClient = 2;       // module to host
constexpr uint32_t kRemoveClientBytes = 56;    // GAMEPROTO_SC_REMOVECLIENT
constexpr uint32_t kUserInfoBytes = 4195;      // PROTO_GAME_USER_INFO
constexpr int kSlots = 50;

// What the unload report says.
struct CReport {
  int32_t nHolderSets = 0;    // Set calls on the module's own holder
  int32_t nHolderClears = 0;  // Clear calls on it
  int32_t nHookChoices = 0;   // ChooseImplementation calls on its hook
  uint32_t nHostMemory = 0;   // the host's answer to the memory query
  int32_t nMessages = 0;      // messages delivered by the host
  int32_t nAnswers = 0;       // messages sent to the host
} s_Report;

ILTCommon* s_pLTCommon = nullptr;  // set by the module's own holder

// The holder the database points at the current "ILTCommon.Server"; the
// room builds its answers through it, and the unload report counts the Set
// and Clear calls it got (after the merge, from the host's code).
class CCountingHolder final : public CAPIHolderBase {
 public:
  CCountingHolder() : CAPIHolderBase(kLTCommonServerName, kLTCommonServerVersion) {
    InterfaceStateAddUsage();
    RegisterHolder(this);
  }
  ~CCountingHolder() {
    s_pLTCommon = nullptr;
    UnregisterHolder(this);
    InterfaceStateReleaseUsage();
  }
  void Clear() override {
    ++s_Report.nHolderClears;
    s_pLTCommon = nullptr;
  }
  void Set(IInterfaceImpl* pImpl) override {
    ++s_Report.nHolderSets;
    s_pLTCommon = static_cast<ILTCommon*>(pImpl);
  }
  IInterfaceImpl* Get() const override { return s_pLTCommon; }
};

// Prefers this module's implementation whenever it is there; it selects
// through the name manager it is given, which after SetMasterDatabase is one
// of the host's.
class CPreferOwnHook final : public CAPIHookBase {
 public:
  CPreferOwnHook() : CAPIHookBase(kLTCommonServerName, kLTCommonServerVersion) {
    InterfaceStateAddUsage();
    RegisterHook(this);
  }
  ~CPreferOwnHook() {
    UnregisterHook(this);
    InterfaceStateReleaseUsage();
  }
  void OnImplementationAdded(IInterfaceImpl*, CInterfaceNameMgr* pMgr) override {
    pMgr->SelectImplementation("msvcabi");
  }
  void OnImplementationRemoved(IInterfaceImpl*, CInterfaceNameMgr* pMgr) override {
    pMgr->SelectImplementation("msvcabi");
  }
  int32_t ChooseImplementation(CInterfaceNameMgr* pMgr) override {
    ++s_Report.nHookChoices;
    return pMgr->SelectImplementation("msvcabi") ? 0 : 5;
  }
};

CLTCommonImpl* s_pLTCommonImpl = nullptr;
CLTCommonImpl* s_pBackupImpl = nullptr;
CAPIRegistration* s_pRegistration = nullptr;
CAPIRegistration* s_pBackupRegistration = nullptr;
CCountingHolder* s_pHolder = nullptr;
CPreferOwnHook* s_pHook = nullptr;

class CServer final : public IGameServer {
 public:
  ~CServer() { FreeNetServices(m_pServices); }

  int32_t SetAppHandler(ServerAppHandler* pHandler) override {
    m_pHandler = pHandler;
    if (m_pHandler) {
      s_Report.nHostMemory = m_pHandler->GetProcessMemoryUsage();
      CText text;
      text.Add("msvcabi: handler attached, host memory ").Num(s_Report.nHostMemory);
      Log(text);
    }
    return 0;
  }
  int32_t RunConsoleString(const char* pszCommand) override {
    CText text;
    Log(text.Add("msvcabi: console ").Add(pszCommand));
    return 0;
  }
  int32_t SendToServerShell(ILTMessage_Read* pMessage) override;
  bool SetRezFileList(const char* const*, int32_t) override { return true; }
  bool Initialize(bool) override { return true; }
  int32_t GetUserCount() override { return m_nUsers; }
  void GetReadyText(char* pszText, uint32_t nSize) override {
    const char szReady[] = "msvcabi ready";
    for (uint32_t i = 0; i < nSize; ++i) {
      pszText[i] = i + 1 < nSize && i < sizeof(szReady) ? szReady[i] : '\0';
    }
  }
  bool IsPreparing(int32_t) override { return !m_bMapLoaded; }
  bool OpenNetwork(const void*, const void*) override { return true; }
  bool ListNetServices(NET_SERVICE_NODE** ppList) override {
    if (!ppList) return false;
    if (!m_pServices) {
      m_pServices = new NET_SERVICE_NODE{};
      const char szName[] = "msvcabi loopback";
      for (uint32_t i = 0; i < sizeof(szName); ++i) m_pServices->szName[i] = szName[i];
      m_pServices->hService = 1;
      m_pServices->dwFlags = NET_SERVICE_SELECTED;
    }
    *ppList = m_pServices;
    return true;
  }
  void FreeNetServices(NET_SERVICE_NODE* pList) override {
    if (pList && pList == m_pServices) {
      delete m_pServices;
      m_pServices = nullptr;
    }
  }
  bool UseNetService(uint64_t hService) override { return hService == 1; }
  int32_t ProbeServer(SERVER_PROBE_BLOCK*) override { return SERVER_PROBE_PASS; }
  void SetManagerHandle(const char* pszHandle) override {
    CText text;
    Log(text.Add("msvcabi: manager window ").Add(pszHandle));
  }

 private:
  void Log(const CText& text) {
    if (m_pHandler) m_pHandler->WriteLog(0, 4, text.sz);
  }
  ILTMessage_Write* NewAnswer(uint32_t nId) {
    ILTMessage_Write* pMessage = nullptr;
    if (!s_pLTCommon || s_pLTCommon->NewMessage(&pMessage) != 0 || !pMessage) return nullptr;
    pMessage->Acquire();
    pMessage->WriteBits(nId, 8);
    return pMessage;
  }
  void Send(ILTMessage_Write* pMessage) {
    if (!pMessage) return;
    if (m_pHandler && !pMessage->HasError()) {
      m_pHandler->OnShellMessage(pMessage->ToReadable());
      ++s_Report.nAnswers;
    }
    pMessage->Release();
  }

  ServerAppHandler* m_pHandler = nullptr;
  NET_SERVICE_NODE* m_pServices = nullptr;
  int32_t m_nUsers = 0;
  bool m_bMapLoaded = false;
  uint64_t m_Usn[kSlots] = {};
  bool m_bUsed[kSlots] = {};
};

int32_t CServer::SendToServerShell(ILTMessage_Read* pMessage) {
  if (!pMessage) return 1;
  ++s_Report.nMessages;
  const uint32_t nId = pMessage->ReadBits(8);
  CText text;
  text.Add("msvcabi: message ").Num(nId).Add(", bits ").Num(pMessage->Size());
  Log(text);
  if (nId == kMsgInit) {
    const int16_t nMap = static_cast<int16_t>(pMessage->ReadBits(16));
    if (pMessage->IsOverrun()) return 2;
    m_bMapLoaded = true;
    if (ILTMessage_Write* pAnswer = NewAnswer(kMsgLoadingComplete)) {
      pAnswer->WriteBits(static_cast<uint16_t>(nMap), 16);
      Send(pAnswer);
    }
  } else if (nId == kMsgInsertCharacter) {
    const int8_t nSlot = static_cast<int8_t>(pMessage->ReadBits(8));
    const uint64_t nUsn = pMessage->ReadBits64(64);  // the record's first field
    pMessage->Seek(pMessage->Tell() + (kUserInfoBytes - 8) * 8);
    if (pMessage->IsOverrun() || nSlot < 0 || nSlot >= kSlots) return 2;
    if (!m_bUsed[nSlot]) ++m_nUsers;
    m_bUsed[nSlot] = true;
    m_Usn[nSlot] = nUsn;
    if (ILTMessage_Write* pAnswer = NewAnswer(kMsgAddClient)) {
      pAnswer->WriteBits64(nUsn, 64);
      pAnswer->WriteBits(0, 32);
      pAnswer->WriteBits(static_cast<uint32_t>(nSlot), 16);
      pAnswer->WriteBits(0, 16);
      Send(pAnswer);
    }
  } else if (nId == kMsgUserDisconnected) {
    const uint64_t nUsn = pMessage->ReadBits64(64);
    if (pMessage->IsOverrun()) return 2;
    for (int i = 0; i < kSlots; ++i) {
      if (!m_bUsed[i] || m_Usn[i] != nUsn) continue;
      m_bUsed[i] = false;
      --m_nUsers;
      uint8_t record[kRemoveClientBytes] = {};
      for (int b = 0; b < 8; ++b) record[32 + b] = static_cast<uint8_t>(nUsn >> (8 * b));
      record[49] = static_cast<uint8_t>(i);
      if (ILTMessage_Write* pAnswer = NewAnswer(kMsgRemoveClient)) {
        pAnswer->WriteData(record, kRemoveClientBytes * 8);
        Send(pAnswer);
      }
      break;
    }
  }
  return pMessage->IsOverrun() ? 2 : 0;
}

CServer* s_pServer = nullptr;

void Attach() {
  // Providers first, then the consumer side: the holder is set at once and
  // the hook chooses among what is there. No C runtime runs constructors of
  // static objects here, hence objects made at load.
  s_pLTCommonImpl = new CLTCommonImpl("msvcabi");
  s_pBackupImpl = new CLTCommonImpl("backup");
  s_pRegistration =
      new CAPIRegistration(s_pLTCommonImpl, kLTCommonServerName, kLTCommonServerVersion);
  s_pBackupRegistration =
      new CAPIRegistration(s_pBackupImpl, kLTCommonServerName, kLTCommonServerVersion);
  s_pHolder = new CCountingHolder();
  s_pHook = new CPreferOwnHook();
}

void Detach() {
  delete s_pServer;
  s_pServer = nullptr;
  const int32_t nMessages = s_pLTCommonImpl->MessagesMade();
  const int32_t nBackupMessages = s_pBackupImpl->MessagesMade();
  delete s_pRegistration;
  delete s_pBackupRegistration;
  delete s_pHolder;
  delete s_pHook;
  delete s_pLTCommonImpl;
  delete s_pBackupImpl;
  CText text;
  text.Add("live=").Num(LiveAllocations());
  text.Add(" state=").Num(HasInterfaceState() ? 1 : 0);
  text.Add(" holder_sets=").Num(s_Report.nHolderSets);
  text.Add(" holder_clears=").Num(s_Report.nHolderClears);
  text.Add(" hook_choices=").Num(s_Report.nHookChoices);
  text.Add(" made=").Num(nMessages);
  text.Add(" backup_made=").Num(nBackupMessages);
  text.Add(" host_memory=").Num(s_Report.nHostMemory);
  text.Add(" messages=").Num(s_Report.nMessages);
  text.Add(" answers=").Num(s_Report.nAnswers);
  WriteTextFile("MsvcAbiModule.txt", text.sz);
}

}  // namespace
}  // namespace msvcabi

extern "C" SERVERAPP_EXPORT int32_t CreateServer(uint32_t nVersion, void** pModuleData,
                                                 IGameServer** ppServer) {
  if (!ppServer) return 1;
  *ppServer = nullptr;
  if (nVersion != SERVER_INTERFACE_VERSION) return 3;
  delete msvcabi::s_pServer;
  msvcabi::s_pServer = new msvcabi::CServer();
  if (pModuleData) *pModuleData = msvcabi::s_pServer;
  *ppServer = msvcabi::s_pServer;
  return 0;
}

extern "C" SERVERAPP_EXPORT void DeleteServer(bool) {
  delete msvcabi::s_pServer;
  msvcabi::s_pServer = nullptr;
}

// The entry point (no C runtime to call it for us): registrations are made
// when the library is loaded and withdrawn when it is unloaded.
extern "C" int DllMain(void*, uint32_t nReason, void*) {
  constexpr uint32_t kProcessAttach = 1;
  constexpr uint32_t kProcessDetach = 0;
  if (nReason == kProcessAttach) msvcabi::Attach();
  if (nReason == kProcessDetach) msvcabi::Detach();
  return 1;
}

#include "interface/interfacestate.h"

#include "interface/interfacedatabase.h"

CInterfaceState::~CInterfaceState() {
  Release();
}

CInterfaceDatabase* CInterfaceState::CurrentOrCreate() {
  if (!m_pCurrent) {
    if (!m_pOwn) m_pOwn = new CInterfaceDatabase();
    m_pCurrent = m_pOwn;
  }
  return m_pCurrent;
}

CInterfaceDatabase* CInterfaceState::GetMasterDatabase() {
  if (m_pMaster) return m_pMaster;
  return CurrentOrCreate();
}

void CInterfaceState::SetMasterDatabase(CInterfaceDatabase* pMaster) {
  if (!pMaster || pMaster == m_pOwn || m_pMaster) return;
  m_pMaster = pMaster;
  if (m_pOwn) {
    // Merge runs in the master's image, so every moved entry lands there.
    // Names rejected for their version stay behind and are dropped with the
    // own database (the rejection was reported).
    pMaster->Merge(m_pOwn);
    m_pOwn->DeleteThis(1);
    m_pOwn = nullptr;
  }
  m_pCurrent = pMaster;
}

bool CInterfaceState::RegisterHolder(CAPIHolderBase* pHolder) {
  return CurrentOrCreate()->AddHolder(pHolder);
}

void CInterfaceState::UnregisterHolder(CAPIHolderBase* pHolder) {
  if (!m_pCurrent) return;
  m_pCurrent->RemoveHolder(pHolder);
  DropIfEmpty();
}

bool CInterfaceState::RegisterImplementation(IInterfaceImpl* pImpl, const char* pszName,
                                             uint32_t nVersion) {
  return CurrentOrCreate()->AddImplementation(pImpl, pszName, nVersion);
}

void CInterfaceState::UnregisterImplementation(IInterfaceImpl* pImpl, const char* pszName) {
  if (!m_pCurrent) return;
  m_pCurrent->RemoveImplementation(pImpl, pszName);
  DropIfEmpty();
}

bool CInterfaceState::RegisterHook(CAPIHookBase* pHook) {
  return CurrentOrCreate()->AddHook(pHook);
}

void CInterfaceState::UnregisterHook(CAPIHookBase* pHook) {
  if (!m_pCurrent) return;
  m_pCurrent->RemoveHook(pHook);
  DropIfEmpty();
}

int32_t CInterfaceState::Choose(CAPIHookBase* pHook) {
  if (!m_pCurrent) return kChooseNoDatabase;
  return m_pCurrent->Choose(pHook);
}

void CInterfaceState::DropIfEmpty() {
  if (!m_pCurrent || !m_pCurrent->IsEmpty()) return;
  // A master belongs to the image that created it, which still points at it;
  // it is deleted here only after that image gave it up.
  if (m_pCurrent != m_pOwn && !m_pCurrent->IsAbandoned()) return;
  CInterfaceDatabase* pDead = m_pCurrent;
  pDead->DeleteThis(1);  // the code and heap of the image that created it
  if (m_pOwn == pDead) m_pOwn = nullptr;
  if (m_pMaster == pDead) m_pMaster = nullptr;
  m_pCurrent = nullptr;
}

void CInterfaceState::Release() {
  if (m_pOwn) {
    if (m_pOwn->IsEmpty()) {
      m_pOwn->DeleteThis(1);
    } else {
      // Another image still has registrations in it (a module not yet
      // unloaded); that image deletes it once it removed the last one.
      m_pOwn->SetAbandoned();
    }
  }
  m_pOwn = nullptr;
  m_pMaster = nullptr;
  m_pCurrent = nullptr;
}

// The image's one state. A plain pointer rather than a static object: it
// must exist before any static holder of this image is constructed and
// outlive the last one destroyed, whatever the order of static
// initialisation.
namespace {
CInterfaceState* s_pState = nullptr;
int32_t s_nUsage = 0;
}  // namespace

CInterfaceState* GetInterfaceState() {
  if (!s_pState) s_pState = new CInterfaceState();
  return s_pState;
}

bool HasInterfaceState() {
  return s_pState != nullptr;
}

int32_t GetInterfaceStateUsage() {
  return s_nUsage;
}

void InterfaceStateAddUsage() {
  GetInterfaceState();
  ++s_nUsage;
}

void InterfaceStateReleaseUsage() {
  --s_nUsage;
  if (s_nUsage < 1 && s_pState) {
    delete s_pState;
    s_pState = nullptr;
  }
}

CInterfaceDatabase* GetMasterDatabase() {
  return GetInterfaceState()->GetMasterDatabase();
}

extern "C" void SetMasterDatabase(CInterfaceDatabase* pMaster) {
  GetInterfaceState()->SetMasterDatabase(pMaster);
}

bool RegisterHolder(CAPIHolderBase* pHolder) {
  return GetInterfaceState()->RegisterHolder(pHolder);
}

void UnregisterHolder(CAPIHolderBase* pHolder) {
  if (s_pState) s_pState->UnregisterHolder(pHolder);
}

bool RegisterImplementation(IInterfaceImpl* pImpl, const char* pszName, uint32_t nVersion) {
  return GetInterfaceState()->RegisterImplementation(pImpl, pszName, nVersion);
}

void UnregisterImplementation(IInterfaceImpl* pImpl, const char* pszName) {
  if (s_pState) s_pState->UnregisterImplementation(pImpl, pszName);
}

bool RegisterHook(CAPIHookBase* pHook) {
  return GetInterfaceState()->RegisterHook(pHook);
}

void UnregisterHook(CAPIHookBase* pHook) {
  if (s_pState) s_pState->UnregisterHook(pHook);
}

int32_t ChooseByHook(CAPIHookBase* pHook) {
  if (!s_pState) return CInterfaceState::kChooseNoDatabase;
  return s_pState->Choose(pHook);
}

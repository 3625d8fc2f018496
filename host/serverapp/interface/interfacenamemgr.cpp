#include "interface/interfacenamemgr.h"

namespace {

char* CopyName(const char* pszName) {
  uint32_t nLen = 0;
  while (pszName[nLen]) ++nLen;
  char* pszCopy = new char[nLen + 1];
  for (uint32_t i = 0; i <= nLen; ++i) pszCopy[i] = pszName[i];
  return pszCopy;
}

// The first implementation whose name sorts after pszName (bAfterEqual) or
// does not sort before it.
uint32_t ImplBound(const CInterfacePtrArray<IInterfaceImpl>& impls, const char* pszName,
                   bool bAfterEqual) {
  uint32_t nLow = 0;
  uint32_t nHigh = impls.m_nCount;
  while (nLow < nHigh) {
    const uint32_t nMid = nLow + (nHigh - nLow) / 2;
    const int nCmp = InterfaceNameCompare(impls.m_ppItems[nMid]->GetImplName(), pszName);
    if (nCmp < 0 || (bAfterEqual && nCmp == 0)) {
      nLow = nMid + 1;
    } else {
      nHigh = nMid;
    }
  }
  return nLow;
}

}  // namespace

CInterfaceNameMgr::CInterfaceNameMgr(const char* pszName, uint32_t nVersion)
    : m_pszName(CopyName(pszName)), m_nVersion(nVersion) {}

CInterfaceNameMgr::~CInterfaceNameMgr() {
  delete[] m_pszName;
  m_Impls.Free();
  m_Holders.Free();
  m_Hooks.Free();
}

void* CInterfaceNameMgr::DeleteThis(unsigned int nFlags) {
  this->CInterfaceNameMgr::~CInterfaceNameMgr();
  if (nFlags & 1) ::operator delete(this);
  return this;
}

void CInterfaceNameMgr::AddHolder(CAPIHolderBase* pHolder) {
  if (m_pCurrent) pHolder->Set(m_pCurrent);
  m_Holders.Append(pHolder);
}

bool CInterfaceNameMgr::RemoveHolder(CAPIHolderBase* pHolder) {
  return m_Holders.Erase(pHolder);
}

void CInterfaceNameMgr::AddImplementation(IInterfaceImpl* pImpl) {
  if (m_Impls.Empty()) MakeCurrent(pImpl);
  // After equal names, so that of two implementations with one name the
  // earlier stays first in name order.
  m_Impls.Insert(ImplBound(m_Impls, pImpl->GetImplName(), true), pImpl);
  if (!m_Hooks.Empty()) {
    m_Hooks.Back()->OnImplementationAdded(pImpl, this);
  } else {
    MakeCurrent(pImpl);
  }
}

bool CInterfaceNameMgr::RemoveImplementation(IInterfaceImpl* pImpl) {
  if (!m_Impls.Erase(pImpl)) return false;
  if (!m_Hooks.Empty()) m_Hooks.Back()->OnImplementationRemoved(pImpl, this);
  // Checked after the hook: a hook may already have chosen a successor. A
  // current pointer that still names the removed object must never stay.
  if (m_pCurrent == pImpl) {
    if (!m_Impls.Empty()) {
      MakeCurrent(m_Impls.At(0));
    } else {
      for (uint32_t i = m_Holders.m_nCount; i-- > 0;) m_Holders.m_ppItems[i]->Clear();
      m_pCurrent = nullptr;
    }
  }
  return true;
}

void CInterfaceNameMgr::AddHook(CAPIHookBase* pHook) {
  m_Hooks.Append(pHook);
  pHook->ChooseImplementation(this);
}

bool CInterfaceNameMgr::RemoveHook(CAPIHookBase* pHook) {
  return m_Hooks.Erase(pHook);
}

bool CInterfaceNameMgr::SelectImplementation(const char* pszImplName) {
  if (!pszImplName) return false;
  const uint32_t nPos = ImplBound(m_Impls, pszImplName, false);
  IInterfaceImpl* pImpl = m_Impls.At(nPos);
  if (!pImpl || InterfaceNameCompare(pImpl->GetImplName(), pszImplName) != 0) return false;
  MakeCurrent(pImpl);
  return true;
}

void CInterfaceNameMgr::MakeCurrent(IInterfaceImpl* pImpl) {
  if (m_pCurrent == pImpl) return;
  m_pCurrent = pImpl;
  for (uint32_t i = m_Holders.m_nCount; i-- > 0;) m_Holders.m_ppItems[i]->Set(pImpl);
}

int32_t CInterfaceNameMgr::Choose(CAPIHookBase* pHook) {
  if (m_Hooks.Empty()) return kChooseNoHooks;
  if (m_Hooks.Back() != pHook) return kChooseNotLastHook;
  return pHook->ChooseImplementation(this);
}

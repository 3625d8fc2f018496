#include "interface/interfacenamemgr.h"

#include <algorithm>
#include <cstring>

namespace {

bool ImplNameLess(const IInterfaceImpl* pA, const IInterfaceImpl* pB) {
  return std::strcmp(pA->GetImplName(), pB->GetImplName()) < 0;
}

template <typename T>
bool EraseOne(std::vector<T*>& rVec, T* pItem) {
  auto it = std::find(rVec.begin(), rVec.end(), pItem);
  if (it == rVec.end()) return false;
  rVec.erase(it);
  return true;
}

char* CopyName(const char* pszName) {
  const size_t nLen = std::strlen(pszName);
  char* pszCopy = new char[nLen + 1];
  std::memcpy(pszCopy, pszName, nLen + 1);
  return pszCopy;
}

}  // namespace

CInterfaceNameMgr::CInterfaceNameMgr(const char* pszName, uint32_t nVersion)
    : m_pszName(CopyName(pszName)), m_nVersion(nVersion) {}

CInterfaceNameMgr::~CInterfaceNameMgr() {
  delete[] m_pszName;
}

IInterfaceImpl* CInterfaceNameMgr::GetImpl(size_t nIndex) const {
  return nIndex < m_Impls.size() ? m_Impls[nIndex] : nullptr;
}

void CInterfaceNameMgr::AddHolder(CAPIHolderBase* pHolder) {
  if (m_pCurrent) pHolder->Set(m_pCurrent);
  m_Holders.push_back(pHolder);
}

bool CInterfaceNameMgr::RemoveHolder(CAPIHolderBase* pHolder) {
  return EraseOne(m_Holders, pHolder);
}

void CInterfaceNameMgr::AddImplementation(IInterfaceImpl* pImpl) {
  if (m_Impls.empty()) MakeCurrent(pImpl);
  // After equal names, so that of two implementations with one name the
  // earlier stays first in name order.
  auto it = std::upper_bound(m_Impls.begin(), m_Impls.end(), pImpl, ImplNameLess);
  m_Impls.insert(it, pImpl);
  if (!m_Hooks.empty()) {
    m_Hooks.back()->OnImplementationAdded(pImpl, this);
  } else {
    MakeCurrent(pImpl);
  }
}

bool CInterfaceNameMgr::RemoveImplementation(IInterfaceImpl* pImpl) {
  if (!EraseOne(m_Impls, pImpl)) return false;
  if (!m_Hooks.empty()) m_Hooks.back()->OnImplementationRemoved(pImpl, this);
  // Checked after the hook: a hook may already have chosen a successor. A
  // current pointer that still names the removed object must never stay.
  if (m_pCurrent == pImpl) {
    if (!m_Impls.empty()) {
      MakeCurrent(m_Impls.front());
    } else {
      for (auto it = m_Holders.rbegin(); it != m_Holders.rend(); ++it) (*it)->Clear();
      m_pCurrent = nullptr;
    }
  }
  return true;
}

void CInterfaceNameMgr::AddHook(CAPIHookBase* pHook) {
  m_Hooks.push_back(pHook);
  pHook->ChooseImplementation(this);
}

bool CInterfaceNameMgr::RemoveHook(CAPIHookBase* pHook) {
  return EraseOne(m_Hooks, pHook);
}

bool CInterfaceNameMgr::SelectImplementation(const char* pszImplName) {
  auto it = std::lower_bound(m_Impls.begin(), m_Impls.end(), pszImplName,
                             [](const IInterfaceImpl* pImpl, const char* pszName) {
                               return std::strcmp(pImpl->GetImplName(), pszName) < 0;
                             });
  if (it == m_Impls.end() || std::strcmp((*it)->GetImplName(), pszImplName) != 0) return false;
  MakeCurrent(*it);
  return true;
}

void CInterfaceNameMgr::MakeCurrent(IInterfaceImpl* pImpl) {
  if (m_pCurrent == pImpl) return;
  m_pCurrent = pImpl;
  for (auto it = m_Holders.rbegin(); it != m_Holders.rend(); ++it) (*it)->Set(pImpl);
}

int32_t CInterfaceNameMgr::Choose(CAPIHookBase* pHook) {
  if (m_Hooks.empty()) return kChooseNoHooks;
  if (m_Hooks.back() != pHook) return kChooseNotLastHook;
  return pHook->ChooseImplementation(this);
}

void CInterfaceNameMgr::TakeAllFrom(CInterfaceNameMgr* pOther) {
  // Detach the entries first so that pOther is consistent (and empty) while
  // this manager's callbacks run.
  std::vector<CAPIHookBase*> hooks;
  std::vector<CAPIHolderBase*> holders;
  std::vector<IInterfaceImpl*> impls;
  hooks.swap(pOther->m_Hooks);
  holders.swap(pOther->m_Holders);
  impls.swap(pOther->m_Impls);
  pOther->m_pCurrent = nullptr;
  for (CAPIHookBase* pHook : hooks) AddHook(pHook);
  for (CAPIHolderBase* pHolder : holders) AddHolder(pHolder);
  for (IInterfaceImpl* pImpl : impls) AddImplementation(pImpl);
}

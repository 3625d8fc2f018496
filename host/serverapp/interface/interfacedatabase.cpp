#include "interface/interfacedatabase.h"

#include <cstring>
#include <string>

#include "interface/interfaceerror.h"
#include "interface/interfacenamemgr.h"

namespace {

void ReportVersionMismatch(const char* pszWhat, const char* pszName, uint32_t nKnown,
                           uint32_t nAsked) {
  std::string text = "Interface registration rejected: ";
  text += pszWhat;
  text += " of \"";
  text += pszName;
  text += "\" version " + std::to_string(nAsked) + ", but the name is registered with version " +
          std::to_string(nKnown);
  ReportInterfaceError(text);
}

}  // namespace

CInterfaceDatabase::CInterfaceDatabase() = default;

CInterfaceDatabase::~CInterfaceDatabase() {
  for (CInterfaceNameMgr* pMgr : m_NameMgrs) delete pMgr;
}

size_t CInterfaceDatabase::LowerBound(const char* pszName) const {
  size_t nLow = 0;
  size_t nHigh = m_NameMgrs.size();
  while (nLow < nHigh) {
    const size_t nMid = nLow + (nHigh - nLow) / 2;
    if (std::strcmp(m_NameMgrs[nMid]->GetName(), pszName) < 0) {
      nLow = nMid + 1;
    } else {
      nHigh = nMid;
    }
  }
  return nLow;
}

CInterfaceNameMgr* CInterfaceDatabase::FindNameMgr(const char* pszName) const {
  if (!pszName) return nullptr;
  const size_t nPos = LowerBound(pszName);
  if (nPos < m_NameMgrs.size() && std::strcmp(m_NameMgrs[nPos]->GetName(), pszName) == 0) {
    return m_NameMgrs[nPos];
  }
  return nullptr;
}

CInterfaceNameMgr* CInterfaceDatabase::FindOrCreate(const char* pszName, uint32_t nVersion,
                                                    const char* pszWhat) {
  const size_t nPos = LowerBound(pszName);
  if (nPos < m_NameMgrs.size() && std::strcmp(m_NameMgrs[nPos]->GetName(), pszName) == 0) {
    CInterfaceNameMgr* pMgr = m_NameMgrs[nPos];
    if (pMgr->GetVersion() != nVersion) {
      ReportVersionMismatch(pszWhat, pszName, pMgr->GetVersion(), nVersion);
      return nullptr;
    }
    return pMgr;
  }
  auto* pMgr = new CInterfaceNameMgr(pszName, nVersion);
  m_NameMgrs.insert(m_NameMgrs.begin() + static_cast<std::ptrdiff_t>(nPos), pMgr);
  return pMgr;
}

void CInterfaceDatabase::EraseIfEmpty(CInterfaceNameMgr* pMgr) {
  if (!pMgr->IsEmpty()) return;
  const size_t nPos = LowerBound(pMgr->GetName());
  if (nPos < m_NameMgrs.size() && m_NameMgrs[nPos] == pMgr) {
    m_NameMgrs.erase(m_NameMgrs.begin() + static_cast<std::ptrdiff_t>(nPos));
    delete pMgr;
  }
}

bool CInterfaceDatabase::Merge(CInterfaceDatabase* pOther) {
  if (!pOther || pOther == this) return true;
  bool bAllMerged = true;
  for (size_t i = pOther->m_NameMgrs.size(); i-- > 0;) {
    CInterfaceNameMgr* pFrom = pOther->m_NameMgrs[i];
    CInterfaceNameMgr* pTo = FindOrCreate(pFrom->GetName(), pFrom->GetVersion(), "merge");
    if (!pTo) {
      bAllMerged = false;
      continue;
    }
    pTo->TakeAllFrom(pFrom);
  }
  return bAllMerged;
}

bool CInterfaceDatabase::AddHook(CAPIHookBase* pHook) {
  if (!pHook || !pHook->GetName()) return false;
  CInterfaceNameMgr* pMgr = FindOrCreate(pHook->GetName(), pHook->GetVersion(), "hook");
  if (!pMgr) return false;
  pMgr->AddHook(pHook);
  return true;
}

bool CInterfaceDatabase::AddHolder(CAPIHolderBase* pHolder) {
  if (!pHolder || !pHolder->GetName()) return false;
  CInterfaceNameMgr* pMgr = FindOrCreate(pHolder->GetName(), pHolder->GetVersion(), "holder");
  if (!pMgr) return false;
  pMgr->AddHolder(pHolder);
  return true;
}

bool CInterfaceDatabase::AddImplementation(IInterfaceImpl* pImpl, const char* pszName,
                                           uint32_t nVersion) {
  if (!pImpl || !pszName) return false;
  CInterfaceNameMgr* pMgr = FindOrCreate(pszName, nVersion, "implementation");
  if (!pMgr) return false;
  pMgr->AddImplementation(pImpl);
  return true;
}

bool CInterfaceDatabase::RemoveHook(CAPIHookBase* pHook) {
  if (!pHook) return false;
  CInterfaceNameMgr* pMgr = FindNameMgr(pHook->GetName());
  if (!pMgr || !pMgr->RemoveHook(pHook)) return false;
  EraseIfEmpty(pMgr);
  return true;
}

bool CInterfaceDatabase::RemoveHolder(CAPIHolderBase* pHolder) {
  if (!pHolder) return false;
  CInterfaceNameMgr* pMgr = FindNameMgr(pHolder->GetName());
  if (!pMgr || !pMgr->RemoveHolder(pHolder)) return false;
  EraseIfEmpty(pMgr);
  return true;
}

bool CInterfaceDatabase::RemoveImplementation(IInterfaceImpl* pImpl, const char* pszName) {
  if (!pImpl) return false;
  CInterfaceNameMgr* pMgr = FindNameMgr(pszName);
  if (!pMgr || !pMgr->RemoveImplementation(pImpl)) return false;
  EraseIfEmpty(pMgr);
  return true;
}

int32_t CInterfaceDatabase::Choose(CAPIHookBase* pHook) {
  CInterfaceNameMgr* pMgr = pHook ? FindNameMgr(pHook->GetName()) : nullptr;
  if (!pMgr) return kChooseNoSuchName;
  return pMgr->Choose(pHook);
}

bool CInterfaceDatabase::IsEmpty() const {
  return m_NameMgrs.empty();
}

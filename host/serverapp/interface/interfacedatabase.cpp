#include "interface/interfacedatabase.h"

#include "interface/interfaceerror.h"
#include "interface/interfacenamemgr.h"

namespace {

// A bounded text builder: the database code is also built without a C or
// C++ library (tests/interface/msvcabi).
struct CErrorText {
  char szText[512] = {};
  uint32_t nLen = 0;

  void Add(const char* psz) {
    while (psz && *psz && nLen + 1 < sizeof(szText)) szText[nLen++] = *psz++;
  }
  void AddNumber(uint32_t nValue) {
    char szDigits[11];
    uint32_t n = 0;
    do {
      szDigits[n++] = static_cast<char>('0' + nValue % 10);
      nValue /= 10;
    } while (nValue);
    while (n && nLen + 1 < sizeof(szText)) szText[nLen++] = szDigits[--n];
  }
};

void ReportVersionMismatch(const char* pszWhat, const char* pszName, uint32_t nKnown,
                           uint32_t nAsked) {
  CErrorText text;
  text.Add("Interface registration rejected: ");
  text.Add(pszWhat);
  text.Add(" of \"");
  text.Add(pszName);
  text.Add("\" version ");
  text.AddNumber(nAsked);
  text.Add(", but the name is registered with version ");
  text.AddNumber(nKnown);
  ReportInterfaceError(text.szText);
}

}  // namespace

CInterfaceDatabase::~CInterfaceDatabase() {
  for (uint32_t i = 0; i < m_NameMgrs.m_nCount; ++i) m_NameMgrs.m_ppItems[i]->DeleteThis(1);
  m_NameMgrs.Free();
}

void* CInterfaceDatabase::DeleteThis(unsigned int nFlags) {
  this->CInterfaceDatabase::~CInterfaceDatabase();
  if (nFlags & 1) ::operator delete(this);
  return this;
}

uint32_t CInterfaceDatabase::LowerBound(const char* pszName) const {
  uint32_t nLow = 0;
  uint32_t nHigh = m_NameMgrs.m_nCount;
  while (nLow < nHigh) {
    const uint32_t nMid = nLow + (nHigh - nLow) / 2;
    if (InterfaceNameCompare(m_NameMgrs.m_ppItems[nMid]->GetName(), pszName) < 0) {
      nLow = nMid + 1;
    } else {
      nHigh = nMid;
    }
  }
  return nLow;
}

CInterfaceNameMgr* CInterfaceDatabase::FindNameMgr(const char* pszName) const {
  if (!pszName) return nullptr;
  CInterfaceNameMgr* pMgr = m_NameMgrs.At(LowerBound(pszName));
  return pMgr && InterfaceNameCompare(pMgr->GetName(), pszName) == 0 ? pMgr : nullptr;
}

CInterfaceNameMgr* CInterfaceDatabase::FindOrCreate(const char* pszName, uint32_t nVersion,
                                                    const char* pszWhat) {
  const uint32_t nPos = LowerBound(pszName);
  CInterfaceNameMgr* pMgr = m_NameMgrs.At(nPos);
  if (pMgr && InterfaceNameCompare(pMgr->GetName(), pszName) == 0) {
    if (pMgr->GetVersion() != nVersion) {
      ReportVersionMismatch(pszWhat, pszName, pMgr->GetVersion(), nVersion);
      return nullptr;
    }
    return pMgr;
  }
  pMgr = new CInterfaceNameMgr(pszName, nVersion);
  m_NameMgrs.Insert(nPos, pMgr);
  return pMgr;
}

void CInterfaceDatabase::EraseIfEmpty(CInterfaceNameMgr* pMgr) {
  if (!pMgr->IsEmpty()) return;
  const uint32_t nPos = LowerBound(pMgr->GetName());
  if (m_NameMgrs.At(nPos) == pMgr) {
    m_NameMgrs.EraseAt(nPos);
    pMgr->DeleteThis(1);
  }
}

bool CInterfaceDatabase::Merge(CInterfaceDatabase* pOther) {
  if (!pOther || pOther == this) return true;
  bool bAllMerged = true;
  // pOther may belong to another image: its managers and their arrays are
  // only read here, and emptied by setting their counts to 0. The memory
  // stays with that image, which frees it when it deletes its database.
  for (uint32_t i = pOther->m_NameMgrs.m_nCount; i-- > 0;) {
    CInterfaceNameMgr* pFrom = pOther->m_NameMgrs.m_ppItems[i];
    const char* pszName = pFrom->m_pszName;
    const uint32_t nVersion = pFrom->m_nVersion;
    if (!FindOrCreate(pszName, nVersion, "merge")) {
      bAllMerged = false;
      continue;
    }
    // Detach first so that pFrom is consistent (and empty) while the
    // callbacks of the re-registration run.
    const CInterfacePtrArray<CAPIHookBase> hooks = pFrom->m_Hooks;
    const CInterfacePtrArray<CAPIHolderBase> holders = pFrom->m_Holders;
    const CInterfacePtrArray<IInterfaceImpl> impls = pFrom->m_Impls;
    pFrom->m_Hooks.m_nCount = 0;
    pFrom->m_Holders.m_nCount = 0;
    pFrom->m_Impls.m_nCount = 0;
    pFrom->m_pCurrent = nullptr;
    for (uint32_t n = 0; n < hooks.m_nCount; ++n) AddHook(hooks.m_ppItems[n]);
    for (uint32_t n = 0; n < holders.m_nCount; ++n) AddHolder(holders.m_ppItems[n]);
    for (uint32_t n = 0; n < impls.m_nCount; ++n) {
      AddImplementation(impls.m_ppItems[n], pszName, nVersion);
    }
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
  return m_NameMgrs.Empty();
}

// CInterfaceNameMgr: everything an interface database knows about one
// interface name: its implementations, the holders pointing at the current
// one, and the hooks that choose it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "interface/apiholder.h"
#include "interface/interfaceimpl.h"

class CInterfaceNameMgr {
 public:
  CInterfaceNameMgr(const char* pszName, uint32_t nVersion);
  virtual ~CInterfaceNameMgr();
  CInterfaceNameMgr(const CInterfaceNameMgr&) = delete;
  CInterfaceNameMgr& operator=(const CInterfaceNameMgr&) = delete;

  const char* GetName() const { return m_pszName; }
  uint32_t GetVersion() const { return m_nVersion; }
  IInterfaceImpl* GetCurrent() const { return m_pCurrent; }

  // Implementations in order of their own names, for hooks that choose.
  size_t GetImplCount() const { return m_Impls.size(); }
  IInterfaceImpl* GetImpl(size_t nIndex) const;
  size_t GetHolderCount() const { return m_Holders.size(); }
  size_t GetHookCount() const { return m_Hooks.size(); }

  // The holder is set at once when an implementation is current.
  void AddHolder(CAPIHolderBase* pHolder);
  bool RemoveHolder(CAPIHolderBase* pHolder);

  // Without hooks the newest implementation becomes current; with hooks the
  // last hook is told and decides (the first implementation of an empty
  // manager is made current before it is asked).
  void AddImplementation(IInterfaceImpl* pImpl);
  // Answers false when pImpl was not registered here. Removing the current
  // implementation makes the first remaining one (in name order) current, or
  // clears every holder when none remains.
  bool RemoveImplementation(IInterfaceImpl* pImpl);

  // Appends the hook and lets it choose at once.
  void AddHook(CAPIHookBase* pHook);
  bool RemoveHook(CAPIHookBase* pHook);

  // Makes the implementation with this implementation name current; false
  // when there is none.
  bool SelectImplementation(const char* pszImplName);
  // Points every holder (last to first) at pImpl unless it is current.
  void MakeCurrent(IInterfaceImpl* pImpl);

  // Choose codes: 3 no hooks, 4 not the deciding hook, else the hook's own.
  static constexpr int32_t kChooseNoHooks = 3;
  static constexpr int32_t kChooseNotLastHook = 4;
  int32_t Choose(CAPIHookBase* pHook);

  bool IsEmpty() const { return m_Impls.empty() && m_Holders.empty() && m_Hooks.empty(); }

  // Moves every hook, holder and implementation of pOther into this manager
  // (re-registering each, so holders are updated) and leaves pOther empty.
  void TakeAllFrom(CInterfaceNameMgr* pOther);

 private:
  char* m_pszName;
  uint32_t m_nVersion;
  std::vector<IInterfaceImpl*> m_Impls;
  std::vector<CAPIHolderBase*> m_Holders;
  IInterfaceImpl* m_pCurrent = nullptr;
  std::vector<CAPIHookBase*> m_Hooks;
};

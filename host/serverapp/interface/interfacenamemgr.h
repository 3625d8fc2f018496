// CInterfaceNameMgr: everything an interface database knows about one
// interface name: its implementations, the holders pointing at the current
// one, and the hooks that choose it.
//
// A hook of one image calls the operations below on a manager of the other
// image's database, and Merge reads another image's managers, so the fields
// are plain (docs/building-a-module.md). The operations that only read or
// re-point (SelectImplementation, MakeCurrent, the getters) work on any
// manager; those that grow or free the arrays are called by the owning
// image only.
#pragma once

#include <stdint.h>

#include "interface/apiholder.h"
#include "interface/interfaceimpl.h"
#include "interface/interfaceptrarray.h"

// Not final, for the reason given at CInterfaceDatabase.
class CInterfaceNameMgr {
 public:
  CInterfaceNameMgr(const char* pszName, uint32_t nVersion);
  // Public for owners that keep a manager on the stack (tests); any other
  // deletion goes through DeleteThis, so that the creating image's code and
  // heap free it.
  ~CInterfaceNameMgr();
  CInterfaceNameMgr(const CInterfaceNameMgr&) = delete;
  CInterfaceNameMgr& operator=(const CInterfaceNameMgr&) = delete;

  // The deleting destructor's slot, the only virtual operation: destroys
  // the manager and, with bit 0 of nFlags set, frees its memory.
  virtual void* DeleteThis(unsigned int nFlags);

  const char* GetName() const { return m_pszName; }
  uint32_t GetVersion() const { return m_nVersion; }
  IInterfaceImpl* GetCurrent() const { return m_pCurrent; }

  // Implementations in order of their own names, for hooks that choose.
  uint32_t GetImplCount() const { return m_Impls.m_nCount; }
  IInterfaceImpl* GetImpl(uint32_t nIndex) const { return m_Impls.At(nIndex); }
  uint32_t GetHolderCount() const { return m_Holders.m_nCount; }
  uint32_t GetHookCount() const { return m_Hooks.m_nCount; }

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

  bool IsEmpty() const { return m_Impls.Empty() && m_Holders.Empty() && m_Hooks.Empty(); }

 private:
  friend class CInterfaceDatabase;  // Merge reads and empties another image's managers

  char* m_pszName;  // this image's heap copy, zero-terminated
  uint32_t m_nVersion;
  [[maybe_unused]] uint32_t m_nReserved = 0;
  CInterfacePtrArray<IInterfaceImpl> m_Impls;  // sorted by GetImplName (strcmp)
  CInterfacePtrArray<CAPIHolderBase> m_Holders;
  IInterfaceImpl* m_pCurrent = nullptr;
  CInterfacePtrArray<CAPIHookBase> m_Hooks;  // the last one decides
};
static_assert(sizeof(CInterfaceNameMgr) == 80, "the layout both images read");

// Holders and hooks: the consumer side of the interface database.
//
// A holder names an interface (name and version) and points a variable of
// the consumer at the current implementation of that name; the database
// re-points it whenever implementations come or go. A hook, registered only
// by a providing module, decides which of several implementations is current.
//
// Holders and hooks of one image are called by the other image's database
// code, so their table of virtual operations and their leading fields are
// fixed by this header alone (docs/building-a-module.md): no C++ virtual
// destructor (compilers disagree on how many slots it takes), one explicit
// slot where the Windows compiler puts its deleting destructor.
#pragma once

#include <stdint.h>

#include "interface/interfaceimpl.h"

class CInterfaceNameMgr;

class CAPIHolderBase {
 public:
  CAPIHolderBase(const char* pszName, uint32_t nVersion);
  CAPIHolderBase(const CAPIHolderBase&) = delete;
  CAPIHolderBase& operator=(const CAPIHolderBase&) = delete;

  // The deleting destructor's slot. Holders belong to their consumer (static
  // objects, usually) and the database never deletes them, so the base does
  // nothing and answers this; a holder made with new overrides it.
  virtual void* DeleteThis(unsigned int nFlags);
  // The held pointer becomes null.
  virtual void Clear() = 0;
  virtual void Set(IInterfaceImpl* pImpl) = 0;
  virtual IInterfaceImpl* Get() const = 0;

  // Not copied: the name must outlive the holder (a literal, usually).
  const char* GetName() const { return m_pszName; }
  uint32_t GetVersion() const { return m_nVersion; }

 protected:
  ~CAPIHolderBase();

 private:
  const char* m_pszName;
  uint32_t m_nVersion;
  // Explicit, so that derived fields start at 24 on every compiler.
  [[maybe_unused]] uint32_t m_nReserved = 0;
};
static_assert(sizeof(CAPIHolderBase) == 24, "vtable pointer, name, version, reserved");

// Binds a consumer's T* variable to the interface pszName/nVersion of this
// image's current database. Construction registers the holder (the variable
// is set at once if an implementation exists), destruction nulls the
// variable and unregisters.
template <typename T>
class CAPIHolder final : public CAPIHolderBase {
 public:
  CAPIHolder(const char* pszName, uint32_t nVersion, T*& rpVariable);
  ~CAPIHolder();

  void* DeleteThis(unsigned int nFlags) override {
    this->~CAPIHolder();
    if (nFlags & 1) ::operator delete(this);
    return this;
  }
  void Clear() override { *m_ppVariable = nullptr; }
  // The static_cast compiles only for a T derived from IInterfaceImpl.
  void Set(IInterfaceImpl* pImpl) override { *m_ppVariable = static_cast<T*>(pImpl); }
  IInterfaceImpl* Get() const override { return *m_ppVariable; }

 private:
  T** m_ppVariable;
};

// Decides among several implementations of one name; the hook added last is
// the deciding one. Same header as a holder (name, version after the table).
class CAPIHookBase {
 public:
  CAPIHookBase(const char* pszName, uint32_t nVersion) : m_pszName(pszName), m_nVersion(nVersion) {}
  CAPIHookBase(const CAPIHookBase&) = delete;
  CAPIHookBase& operator=(const CAPIHookBase&) = delete;

  virtual void OnImplementationAdded(IInterfaceImpl* pImpl, CInterfaceNameMgr* pMgr) = 0;
  virtual void OnImplementationRemoved(IInterfaceImpl* pImpl, CInterfaceNameMgr* pMgr) = 0;
  // Answers the hook's own result code (passed on by Choose).
  virtual int32_t ChooseImplementation(CInterfaceNameMgr* pMgr) = 0;

  const char* GetName() const { return m_pszName; }
  uint32_t GetVersion() const { return m_nVersion; }

 protected:
  ~CAPIHookBase() = default;

 private:
  const char* m_pszName;
  uint32_t m_nVersion;
  [[maybe_unused]] uint32_t m_nReserved = 0;
};
static_assert(sizeof(CAPIHookBase) == 24, "vtable pointer, name, version, reserved");

// The usage count of this image's interface state (see interfacestate.h);
// declared here so the holder template can keep it.
void InterfaceStateAddUsage();
void InterfaceStateReleaseUsage();
bool RegisterHolder(CAPIHolderBase* pHolder);
void UnregisterHolder(CAPIHolderBase* pHolder);

template <typename T>
CAPIHolder<T>::CAPIHolder(const char* pszName, uint32_t nVersion, T*& rpVariable)
    : CAPIHolderBase(pszName, nVersion), m_ppVariable(&rpVariable) {
  *m_ppVariable = nullptr;
  InterfaceStateAddUsage();
  RegisterHolder(this);
}

template <typename T>
CAPIHolder<T>::~CAPIHolder() {
  *m_ppVariable = nullptr;
  UnregisterHolder(this);
  InterfaceStateReleaseUsage();
}

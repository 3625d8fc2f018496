// Holders and hooks: the consumer side of the interface database.
//
// A holder names an interface (name and version) and points a variable of
// the consumer at the current implementation of that name; the database
// re-points it whenever implementations come or go. A hook, registered only
// by a providing module, decides which of several implementations is current.
#pragma once

#include <cstdint>
#include <type_traits>

#include "interface/interfaceimpl.h"

class CInterfaceNameMgr;

class CAPIHolderBase {
 public:
  CAPIHolderBase(const char* pszName, uint32_t nVersion);
  virtual ~CAPIHolderBase();
  CAPIHolderBase(const CAPIHolderBase&) = delete;
  CAPIHolderBase& operator=(const CAPIHolderBase&) = delete;

  // The held pointer becomes null.
  virtual void Clear() = 0;
  virtual void Set(IInterfaceImpl* pImpl) = 0;
  virtual IInterfaceImpl* Get() const = 0;

  // Not copied: the name must outlive the holder (a literal, usually).
  const char* GetName() const { return m_pszName; }
  uint32_t GetVersion() const { return m_nVersion; }

 private:
  const char* m_pszName;
  uint32_t m_nVersion;
};

// Binds a consumer's T* variable to the interface pszName/nVersion of this
// image's current database. Construction registers the holder (the variable
// is set at once if an implementation exists), destruction nulls the
// variable and unregisters.
template <typename T>
class CAPIHolder final : public CAPIHolderBase {
  static_assert(std::is_base_of_v<IInterfaceImpl, T>, "held interfaces derive from IInterfaceImpl");

 public:
  CAPIHolder(const char* pszName, uint32_t nVersion, T*& rpVariable);
  ~CAPIHolder() override;

  void Clear() override { *m_ppVariable = nullptr; }
  void Set(IInterfaceImpl* pImpl) override { *m_ppVariable = static_cast<T*>(pImpl); }
  IInterfaceImpl* Get() const override { return *m_ppVariable; }

 private:
  T** m_ppVariable;
};

// Decides among several implementations of one name; the hook added last is
// the deciding one.
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
};

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

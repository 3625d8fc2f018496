// Small fakes for the interface database tests: implementations with a name,
// holders and hooks that record what the database did to them.
#pragma once

#include <string>
#include <vector>

#include "interface/apiholder.h"
#include "interface/interfaceimpl.h"
#include "interface/interfacenamemgr.h"

namespace ifacetest {

class FakeImpl final : public IInterfaceImpl {
 public:
  explicit FakeImpl(const char* pszName) : m_pszName(pszName) {}
  const char* GetImplName() const override { return m_pszName; }

 private:
  const char* m_pszName;
};

// Every holder appends "<tag>:set:<impl>" or "<tag>:clear" to a shared
// journal, so tests can check the order holders were updated in.
class FakeHolder final : public CAPIHolderBase {
 public:
  FakeHolder(const char* pszName, uint32_t nVersion, std::string tag,
             std::vector<std::string>* pJournal)
      : CAPIHolderBase(pszName, nVersion), m_Tag(std::move(tag)), m_pJournal(pJournal) {}

  void Clear() override {
    m_pImpl = nullptr;
    if (m_pJournal) m_pJournal->push_back(m_Tag + ":clear");
  }
  void Set(IInterfaceImpl* pImpl) override {
    m_pImpl = pImpl;
    if (m_pJournal) m_pJournal->push_back(m_Tag + ":set:" + pImpl->GetImplName());
  }
  IInterfaceImpl* Get() const override { return m_pImpl; }

 private:
  std::string m_Tag;
  std::vector<std::string>* m_pJournal;
  IInterfaceImpl* m_pImpl = nullptr;
};

// Records its calls; on each call it may select an implementation by name.
class FakeHook final : public CAPIHookBase {
 public:
  FakeHook(const char* pszName, uint32_t nVersion) : CAPIHookBase(pszName, nVersion) {}

  void OnImplementationAdded(IInterfaceImpl* pImpl, CInterfaceNameMgr* pMgr) override {
    calls.push_back(std::string("added:") + pImpl->GetImplName());
    if (!select.empty()) pMgr->SelectImplementation(select.c_str());
  }
  void OnImplementationRemoved(IInterfaceImpl* pImpl, CInterfaceNameMgr* pMgr) override {
    calls.push_back(std::string("removed:") + pImpl->GetImplName());
    if (!select.empty()) pMgr->SelectImplementation(select.c_str());
  }
  int32_t ChooseImplementation(CInterfaceNameMgr* pMgr) override {
    calls.push_back("choose");
    if (!select.empty()) pMgr->SelectImplementation(select.c_str());
    return answer;
  }

  std::vector<std::string> calls;
  std::string select;  // implementation name to make current; "" = none
  int32_t answer = 0;
};

}  // namespace ifacetest

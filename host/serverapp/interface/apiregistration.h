// The provider side: a scoped registration of one implementation object,
// meant to be a static object of the providing image.
#pragma once

#include <stdint.h>

#include "interface/apiholder.h"
#include "interface/interfaceimpl.h"
#include "interface/interfacestate.h"

// Registers pImpl under pszName/nVersion for its lifetime. It keeps a use of
// the image's interface state like a holder does, so that a module with
// implementations only still releases its state when it is unloaded.
class CAPIRegistration {
 public:
  CAPIRegistration(IInterfaceImpl* pImpl, const char* pszName, uint32_t nVersion)
      : m_pImpl(pImpl), m_pszName(pszName) {
    InterfaceStateAddUsage();
    m_bRegistered = RegisterImplementation(pImpl, pszName, nVersion);
  }
  ~CAPIRegistration() {
    if (m_bRegistered) UnregisterImplementation(m_pImpl, m_pszName);
    InterfaceStateReleaseUsage();
  }
  CAPIRegistration(const CAPIRegistration&) = delete;
  CAPIRegistration& operator=(const CAPIRegistration&) = delete;

  bool IsRegistered() const { return m_bRegistered; }

 private:
  IInterfaceImpl* m_pImpl;
  const char* m_pszName;
  bool m_bRegistered = false;
};

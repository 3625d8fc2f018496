#include "interface/apiholder.h"

CAPIHolderBase::CAPIHolderBase(const char* pszName, uint32_t nVersion)
    : m_pszName(pszName), m_nVersion(nVersion) {
  InterfaceStateAddUsage();
}

CAPIHolderBase::~CAPIHolderBase() {
  InterfaceStateReleaseUsage();
}

void* CAPIHolderBase::DeleteThis(unsigned int /*nFlags*/) {
  return this;
}

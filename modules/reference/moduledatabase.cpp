#include "moduledatabase.h"

#include "interface/apiregistration.h"

namespace refmod {

namespace {
// In this order: the object exists before it is registered and is
// unregistered before it goes.
CLTCommon s_LTCommon;
CAPIRegistration s_LTCommonRegistration(&s_LTCommon, kLTCommonServerName, kLTCommonServerVersion);
}  // namespace

CLTCommon& ModuleLTCommon() {
  return s_LTCommon;
}

bool IsModuleLTCommonRegistered() {
  return s_LTCommonRegistration.IsRegistered();
}

}  // namespace refmod

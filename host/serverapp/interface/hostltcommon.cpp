#include "interface/hostltcommon.h"

#include "interface/apiholder.h"

ILTCommon* g_pLTCommon = nullptr;

namespace {
// Constructed during static initialisation, before the application object
// runs; destroyed at process exit.
CAPIHolder<ILTCommon> s_LTCommonHolder(kLTCommonServerName, kLTCommonServerVersion, g_pLTCommon);
}  // namespace

extern "C" bool IsDebugMode() {
  return true;
}

// The module's side of the interface database: its ILTCommon object,
// registered as "ILTCommon.Server" version 4 in the module's own database
// from static initialisation until the module is unloaded.
//
// The module's SetMasterDatabase export comes with the database code
// (interfacedb): when the host calls it, this registration moves into the
// host's database and the host's ILTCommon holder points here.
#pragma once

#include "ltcommon.h"

namespace refmod {

// The module's one ILTCommon (the registered object).
CLTCommon& ModuleLTCommon();

// True when the registration was accepted.
bool IsModuleLTCommonRegistered();

}  // namespace refmod

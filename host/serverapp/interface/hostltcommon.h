// The host's consumer side of the interface database: its one holder,
// CAPIHolder<ILTCommon> "ILTCommon.Server" version 4, and the host exports.
#pragma once

#include "interface/iltcommon.h"
#include "platform/export.h"

// The module's common interface as the host sees it: null until a module's
// implementation reached the host's database (SetMasterDatabase), null again
// after the module unregistered it.
extern ILTCommon* g_pLTCommon;

// Host export looked up by the module: the host is a debug host.
extern "C" SERVERAPP_EXPORT bool IsDebugMode();

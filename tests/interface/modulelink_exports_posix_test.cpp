// The test image exports what the host executable exports, and nothing
// else: the dynamic symbol table as the module's lookup sees it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "interface/hostltcommon.h"
#include "interface/interfacestate.h"
#include "interface/moduleexports.h"

namespace {

TEST(ModuleLink, ThisImageExportsWhatTheHostExportsAndNothingElse) {
  EXPECT_EQ(dlsym(RTLD_DEFAULT, kSetMasterDatabaseExport),
            reinterpret_cast<void*>(&SetMasterDatabase));
  EXPECT_EQ(dlsym(RTLD_DEFAULT, kIsDebugModeExport), reinterpret_cast<void*>(&IsDebugMode));
  EXPECT_TRUE(IsDebugMode());
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "_Z17GetMasterDatabasev"), nullptr);
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "g_pLTCommon"), nullptr);
}

}  // namespace

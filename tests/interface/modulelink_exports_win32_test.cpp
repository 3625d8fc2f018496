// The test image exports what the host executable exports, and nothing
// else: its export table, where the module finds the host's functions
// through GetModuleHandle(NULL).
#include <gtest/gtest.h>
#include <windows.h>

#include "interface/hostltcommon.h"
#include "interface/interfacestate.h"
#include "interface/moduleexports.h"

namespace {

void* OwnExport(const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), name));
}

TEST(ModuleLink, ThisImageExportsWhatTheHostExportsAndNothingElse) {
  EXPECT_EQ(OwnExport(kSetMasterDatabaseExport), reinterpret_cast<void*>(&SetMasterDatabase));
  EXPECT_EQ(OwnExport(kIsDebugModeExport), reinterpret_cast<void*>(&IsDebugMode));
  EXPECT_TRUE(IsDebugMode());
  EXPECT_EQ(OwnExport("_Z17GetMasterDatabasev"), nullptr);
  EXPECT_EQ(OwnExport("g_pLTCommon"), nullptr);
}

}  // namespace

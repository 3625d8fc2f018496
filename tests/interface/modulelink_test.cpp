// The real module loaded into this test image, which links and exports the
// host's side of the interface database as the host executable does.
#include <gtest/gtest.h>

#include <string>

#include "interface/hostltcommon.h"
#include "interface/interfacedatabase.h"
#include "interface/interfacenamemgr.h"
#include "interface/interfacestate.h"
#include "interface/moduleexports.h"
#include "platform/library.h"

// This image's export of `name` (one source per system).
void* OwnExport(const char* name);

namespace {

const std::string kModulePath =
    std::string(SERVERAPP_DIST_DIR) + "/" + platform::LibraryFileName("server_d_x64");

size_t HostImplCount() {
  const CInterfaceNameMgr* pMgr = GetMasterDatabase()->FindNameMgr(kLTCommonServerName);
  return pMgr ? pMgr->GetImplCount() : 0;
}

TEST(ModuleLink, TheModuleKeepsItsOwnStateUntilSetMasterDatabaseMergesIt) {
  ASSERT_EQ(g_pLTCommon, nullptr);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("load " + std::to_string(round + 1));
    platform::LibraryHandle hModule = platform::LoadLibrary(kModulePath);
    ASSERT_NE(hModule, nullptr) << platform::LastLibraryErrorText();

    // The module registered its ILTCommon at load, in its own database.
    EXPECT_EQ(g_pLTCommon, nullptr);
    EXPECT_EQ(HostImplCount(), 0u);

    // Only the three exports leave the module.
    auto pSetMaster = reinterpret_cast<SetMasterDatabaseFn>(
        platform::GetLibrarySymbol(hModule, kSetMasterDatabaseExport));
    ASSERT_NE(pSetMaster, nullptr);
    EXPECT_NE(reinterpret_cast<void*>(pSetMaster), reinterpret_cast<void*>(&SetMasterDatabase));
    EXPECT_EQ(platform::GetLibrarySymbol(hModule, "_Z17GetMasterDatabasev"), nullptr);
    EXPECT_EQ(platform::GetLibrarySymbol(hModule, kIsDebugModeExport), nullptr);

    CInterfaceDatabase* pHostDb = GetMasterDatabase();
    pSetMaster(pHostDb);
    ASSERT_NE(g_pLTCommon, nullptr);
    EXPECT_STREQ(g_pLTCommon->GetImplName(), "ReferenceModule.LTCommon");
    EXPECT_EQ(HostImplCount(), 1u);
    // This image's state did not change: it is still on its own database.
    EXPECT_EQ(GetInterfaceState()->GetCurrent(), pHostDb);
    EXPECT_EQ(GetInterfaceState()->GetMaster(), nullptr);

    // Unloading unregisters the module's implementation, clearing the holder.
    ASSERT_TRUE(platform::FreeLibrary(hModule));
    EXPECT_EQ(g_pLTCommon, nullptr);
    EXPECT_EQ(HostImplCount(), 0u);
  }
}

// The module finds the host's functions among this image's exports.
TEST(ModuleLink, ThisImageExportsWhatTheHostExportsAndNothingElse) {
  EXPECT_EQ(OwnExport(kSetMasterDatabaseExport), reinterpret_cast<void*>(&SetMasterDatabase));
  EXPECT_EQ(OwnExport(kIsDebugModeExport), reinterpret_cast<void*>(&IsDebugMode));
  EXPECT_TRUE(IsDebugMode());
  EXPECT_EQ(OwnExport("_Z17GetMasterDatabasev"), nullptr);
  EXPECT_EQ(OwnExport("g_pLTCommon"), nullptr);
}

}  // namespace

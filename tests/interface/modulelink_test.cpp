// "One state per library image" with the real module: server_d_x64 is
// loaded into this test process, which links the host's side of the
// interface database and exports SetMasterDatabase and IsDebugMode exactly as
// the host executable does. The module must keep its own state anyway, and
// its SetMasterDatabase must move its ILTCommon into this image's holder.
#include <gtest/gtest.h>

#include <string>

#include "interface/hostltcommon.h"
#include "interface/interfacedatabase.h"
#include "interface/interfacenamemgr.h"
#include "interface/interfacestate.h"
#include "interface/moduleexports.h"
#include "platform/library.h"

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

    // A second master changes nothing in the module.
    CInterfaceDatabase other;
    pSetMaster(&other);
    EXPECT_TRUE(other.IsEmpty());
    EXPECT_EQ(HostImplCount(), 1u);

    // The host builds a real module message through it.
    ILTMessage_Write* pWriter = nullptr;
    ASSERT_EQ(g_pLTCommon->NewMessage(&pWriter), 0);
    pWriter->Acquire();
    pWriter->WriteBits(39, 8);
    pWriter->WriteBits(7, 32);
    pWriter->WriteString("rez");
    ILTMessage_Read* pReader = pWriter->ToReadable();
    ASSERT_NE(pReader, nullptr);
    EXPECT_EQ(pReader->ReadBits(8), 39u);
    EXPECT_EQ(pReader->ReadBits(32), 7u);
    char text[8];
    EXPECT_EQ(pReader->ReadString(text, sizeof(text)), 3u);
    EXPECT_STREQ(text, "rez");
    pWriter->Release();

    // Unloading unregisters the module's implementation from this image's
    // database, which clears the holder.
    ASSERT_TRUE(platform::FreeLibrary(hModule));
    EXPECT_EQ(g_pLTCommon, nullptr);
    EXPECT_EQ(HostImplCount(), 0u);
  }
}

}  // namespace

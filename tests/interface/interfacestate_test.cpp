// The interface state of one image: SetMasterDatabase between two images
// (two CInterfaceState objects stand for host and module), the deletion of
// emptied databases, and the process-wide holder and usage count.
#include "interface/interfacestate.h"

#include <gtest/gtest.h>

#include "interface/apiregistration.h"
#include "interface/hostltcommon.h"
#include "interface/interfacedatabase.h"
#include "interface/interfacenamemgr.h"
#include "interface_fakes.h"

namespace ifacetest {
namespace {

TEST(InterfaceState, AnEmptiedDatabaseIsDeletedThroughTheUnregisterOperations) {
  CInterfaceState image;
  FakeHolder holder("Api", 1, "h", nullptr);
  FakeImpl impl("i");
  FakeHook hook("Api", 1);
  EXPECT_EQ(image.Choose(&hook), CInterfaceState::kChooseNoDatabase);
  image.RegisterHolder(&holder);
  image.RegisterImplementation(&impl, "Api", 1);
  image.RegisterHook(&hook);
  EXPECT_EQ(image.Choose(&hook), 0);

  image.UnregisterHook(&hook);
  image.UnregisterImplementation(&impl, "Api");
  ASSERT_NE(image.GetCurrent(), nullptr);
  image.UnregisterHolder(&holder);
  EXPECT_EQ(image.GetOwnDatabase(), nullptr);
  EXPECT_EQ(image.GetCurrent(), nullptr);
  EXPECT_EQ(image.Choose(&hook), CInterfaceState::kChooseNoDatabase);
  // Unregistering without a database is harmless; the next use creates one.
  image.UnregisterHolder(&holder);
  EXPECT_NE(image.GetMasterDatabase(), nullptr);
}

TEST(InterfaceState, AMasterIsDeletedOnlyByItsOwnerOrAfterItWasAbandoned) {
  auto* pHost = new CInterfaceState();
  CInterfaceState module;
  FakeImpl impl("m");
  FakeHolder hostHolder("Api", 1, "h", nullptr);
  module.RegisterImplementation(&impl, "Api", 1);
  CInterfaceDatabase* pHostDb = pHost->GetMasterDatabase();
  ASSERT_EQ(pHostDb, pHost->GetOwnDatabase());
  module.SetMasterDatabase(pHostDb);
  EXPECT_EQ(module.GetOwnDatabase(), nullptr);  // merged, then deleted
  EXPECT_EQ(pHostDb->FindNameMgr("Api")->GetImplCount(), 1u);
  // A second master, a null one, or the image's own: nothing changes.
  CInterfaceDatabase other;
  module.SetMasterDatabase(&other);
  module.SetMasterDatabase(nullptr);
  pHost->SetMasterDatabase(pHostDb);
  EXPECT_EQ(module.GetMasterDatabase(), pHostDb);
  EXPECT_EQ(pHost->GetMaster(), nullptr);

  // A non-owner leaves an emptied master to its owner.
  module.UnregisterImplementation(&impl, "Api");
  EXPECT_TRUE(pHostDb->IsEmpty());
  EXPECT_EQ(module.GetCurrent(), pHostDb);
  EXPECT_EQ(pHost->GetOwnDatabase(), pHostDb);

  // The host image ends first while the module's entry is still in its
  // database: the database survives, marked abandoned.
  pHost->RegisterHolder(&hostHolder);
  module.RegisterImplementation(&impl, "Api", 1);
  pHost->UnregisterHolder(&hostHolder);
  EXPECT_FALSE(pHostDb->IsEmpty());
  delete pHost;
  EXPECT_TRUE(pHostDb->IsAbandoned());

  // The module's last removal empties it, and the module deletes it (the
  // sanitizer build proves it is freed exactly once).
  module.UnregisterImplementation(&impl, "Api");
  EXPECT_EQ(module.GetCurrent(), nullptr);
  EXPECT_EQ(module.GetMaster(), nullptr);
}

// The process-wide state of this test image, which links the host's holder.
class TestApi final : public IInterfaceImpl {
 public:
  const char* GetImplName() const override { return "TestApi.Impl"; }
};

TEST(InterfaceProcessState, HoldersKeepTheUsageCountAndFollowRegistrations) {
  ASSERT_TRUE(HasInterfaceState());
  const int32_t nBase = GetInterfaceStateUsage();
  EXPECT_GE(nBase, 2);  // the host's ILTCommon holder
  const CInterfaceNameMgr* pHostName = GetMasterDatabase()->FindNameMgr(kLTCommonServerName);
  ASSERT_NE(pHostName, nullptr);
  EXPECT_EQ(pHostName->GetVersion(), kLTCommonServerVersion);
  EXPECT_EQ(pHostName->GetHolderCount(), 1u);
  EXPECT_EQ(g_pLTCommon, nullptr);  // no module, no implementation

  TestApi impl;
  {
    TestApi* pVariable = &impl;  // construction nulls it
    CAPIHolder<TestApi> holder("Test.Process.Api", 7, pVariable);
    EXPECT_EQ(pVariable, nullptr);
    EXPECT_EQ(GetInterfaceStateUsage(), nBase + 2);
    {
      CAPIRegistration registration(&impl, "Test.Process.Api", 7);
      EXPECT_TRUE(registration.IsRegistered());
      EXPECT_EQ(pVariable, &impl);
      EXPECT_EQ(holder.Get(), &impl);
    }
    EXPECT_EQ(pVariable, nullptr);
    pVariable = &impl;
    // The destructor nulls the variable too.
    { CAPIHolder<TestApi> second("Test.Process.Api", 7, pVariable); }
    EXPECT_EQ(pVariable, nullptr);
  }
  EXPECT_EQ(GetInterfaceStateUsage(), nBase);
  EXPECT_EQ(GetMasterDatabase()->FindNameMgr("Test.Process.Api"), nullptr);
}

}  // namespace
}  // namespace ifacetest

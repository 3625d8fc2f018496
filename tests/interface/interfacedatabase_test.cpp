// The interface database and its name managers, the state of one image
// between two images, and the process-wide holders and usage count.
#include "interface/interfacedatabase.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "interface/apiholder.h"
#include "interface/apiregistration.h"
#include "interface/hostltcommon.h"
#include "interface/interfaceerror.h"
#include "interface/interfaceimpl.h"
#include "interface/interfacenamemgr.h"
#include "interface/interfacestate.h"
#include "platform/identity.h"

namespace {

using ::testing::HasSubstr;
using Journal = std::vector<std::string>;

class FakeImpl final : public IInterfaceImpl {
 public:
  explicit FakeImpl(const char* pszName) : m_pszName(pszName) {}
  const char* GetImplName() const override { return m_pszName; }

 private:
  const char* m_pszName;
};

// Appends "<tag>:set:<impl>" or "<tag>:clear" to a journal shared by holders.
class FakeHolder final : public CAPIHolderBase {
 public:
  FakeHolder(const char* pszName, uint32_t nVersion, std::string tag,
             std::vector<std::string>* pJournal)
      : CAPIHolderBase(pszName, nVersion), m_Tag(std::move(tag)), m_pJournal(pJournal) {}

  void Clear() override {
    m_pImpl = nullptr;
    if (m_pJournal) m_pJournal->push_back(m_Tag + ":clear");
  }
  void Set(IInterfaceImpl* pImpl) override {
    m_pImpl = pImpl;
    if (m_pJournal) m_pJournal->push_back(m_Tag + ":set:" + pImpl->GetImplName());
  }
  IInterfaceImpl* Get() const override { return m_pImpl; }

 private:
  std::string m_Tag;
  std::vector<std::string>* m_pJournal;
  IInterfaceImpl* m_pImpl = nullptr;
};

// Records its calls; on each call it may select an implementation by name.
class FakeHook final : public CAPIHookBase {
 public:
  FakeHook(const char* pszName, uint32_t nVersion) : CAPIHookBase(pszName, nVersion) {}

  void OnImplementationAdded(IInterfaceImpl* pImpl, CInterfaceNameMgr* pMgr) override {
    calls.push_back(std::string("added:") + pImpl->GetImplName());
    if (!select.empty()) pMgr->SelectImplementation(select.c_str());
  }
  void OnImplementationRemoved(IInterfaceImpl* pImpl, CInterfaceNameMgr* pMgr) override {
    calls.push_back(std::string("removed:") + pImpl->GetImplName());
    if (!select.empty()) pMgr->SelectImplementation(select.c_str());
  }
  int32_t ChooseImplementation(CInterfaceNameMgr* pMgr) override {
    calls.push_back("choose");
    if (!select.empty()) pMgr->SelectImplementation(select.c_str());
    return answer;
  }

  std::vector<std::string> calls;
  std::string select;  // implementation name to make current; "" = none
  int32_t answer = 0;
};

TEST(InterfaceDatabase, RemovalRepointsToFirstInNameOrderAndLastRemovalClears) {
  CInterfaceDatabase db;
  Journal journal;
  FakeHolder h1("Api", 1, "h1", &journal), h2("Api", 1, "h2", &journal);
  FakeImpl implC("c"), implA("a"), implB("b");
  db.AddHolder(&h1);
  db.AddHolder(&h2);
  // Registration order c, a, b: b is current, c was first registered, a is
  // first in name order.
  db.AddImplementation(&implC, "Api", 1);
  db.AddImplementation(&implA, "Api", 1);
  db.AddImplementation(&implB, "Api", 1);
  // The later one wins whatever its name; holders are pointed last to first.
  EXPECT_EQ(journal,
            (Journal{"h2:set:c", "h1:set:c", "h2:set:a", "h1:set:a", "h2:set:b", "h1:set:b"}));
  ASSERT_EQ(h1.Get(), &implB);
  // A holder registered after its implementation is set at once.
  FakeHolder late("Api", 1, "late", nullptr);
  ASSERT_TRUE(db.AddHolder(&late));
  EXPECT_EQ(late.Get(), &implB);

  EXPECT_TRUE(db.RemoveImplementation(&implB, "Api"));
  EXPECT_EQ(h1.Get(), &implA);
  EXPECT_EQ(h2.Get(), &implA);

  // Removing a non-current one leaves the holders alone.
  journal.clear();
  EXPECT_TRUE(db.RemoveImplementation(&implC, "Api"));
  EXPECT_TRUE(journal.empty());
  EXPECT_EQ(h1.Get(), &implA);

  // Not registered (any more), or under another name: not found.
  EXPECT_FALSE(db.RemoveImplementation(&implC, "Api"));
  EXPECT_FALSE(db.RemoveImplementation(&implA, "Other"));

  journal.clear();
  EXPECT_TRUE(db.RemoveImplementation(&implA, "Api"));
  EXPECT_EQ(h1.Get(), nullptr);
  EXPECT_EQ(late.Get(), nullptr);
  EXPECT_EQ(journal, (Journal{"h2:clear", "h1:clear"}));
  ASSERT_NE(db.FindNameMgr("Api"), nullptr);  // the holders keep the name alive
  EXPECT_EQ(db.FindNameMgr("Api")->GetCurrent(), nullptr);
}

std::vector<std::string> g_errors;
void CaptureError(const char* text) {
  g_errors.emplace_back(text);
}

TEST(InterfaceDatabase, HooksDecideAndChooseAnswersItsCodes) {
  CInterfaceDatabase db;
  FakeImpl implA("a"), implB("b"), implC("c");
  FakeHolder holder("Api", 1, "h", nullptr);
  FakeHook first("Api", 1), last("Api", 1);
  FakeHook stranger("Unknown", 1);

  EXPECT_EQ(db.Choose(&stranger), CInterfaceDatabase::kChooseNoSuchName);
  db.AddHolder(&holder);
  EXPECT_EQ(holder.Get(), nullptr);  // a name without implementations
  EXPECT_EQ(db.Choose(&first), CInterfaceNameMgr::kChooseNoHooks);

  ASSERT_TRUE(db.AddHook(&first));
  EXPECT_EQ(first.calls, (Journal{"choose"}));  // asked at once
  ASSERT_TRUE(db.AddHook(&last));
  last.answer = 42;
  EXPECT_EQ(db.Choose(&first), CInterfaceNameMgr::kChooseNotLastHook);
  EXPECT_EQ(db.Choose(&last), 42);

  // The first implementation of an empty name is current before the hook
  // hears of it; a later one is left to the hook, which keeps "a" here.
  db.AddImplementation(&implA, "Api", 1);
  EXPECT_EQ(holder.Get(), &implA);
  db.AddImplementation(&implB, "Api", 1);
  db.AddImplementation(&implC, "Api", 1);
  EXPECT_EQ(holder.Get(), &implA);
  EXPECT_EQ(last.calls, (Journal{"choose", "choose", "added:a", "added:b", "added:c"}));
  EXPECT_EQ(first.calls, (Journal{"choose"}));  // only the last hook is told

  // A hook that picks the successor itself ("c") is not overruled by the
  // first-in-name-order rule (which would pick "b").
  last.select = "c";
  db.RemoveImplementation(&implA, "Api");
  EXPECT_EQ(holder.Get(), &implC);
  EXPECT_EQ(last.calls.back(), "removed:a");

  // Selecting by implementation name: only known names.
  CInterfaceNameMgr* pMgr = db.FindNameMgr("Api");
  EXPECT_FALSE(pMgr->SelectImplementation("a"));
  EXPECT_TRUE(pMgr->SelectImplementation("b"));
  EXPECT_EQ(holder.Get(), &implB);

  EXPECT_TRUE(db.RemoveHook(&last));
  EXPECT_FALSE(db.RemoveHook(&last));
  EXPECT_EQ(db.Choose(&first), 0);  // "first" decides again
}

TEST(InterfaceDatabase, NamesAreFoundAmongManyAndEmptiedManagersAreDeleted) {
  CInterfaceDatabase db;
  EXPECT_TRUE(db.IsEmpty());
  std::vector<std::string> names;
  for (int i = 0; i < 200; ++i) names.push_back("Name." + std::to_string(i * 7919 % 1000));
  names.push_back("a");  // byte-wise order: lower case after upper case
  names.push_back("Z");
  std::vector<std::string> shuffled = names;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  std::vector<FakeImpl> impls;
  impls.reserve(shuffled.size());
  for (const std::string& name : shuffled) {
    impls.emplace_back("impl");
    ASSERT_TRUE(db.AddImplementation(&impls.back(), name.c_str(), 1));
  }
  for (const std::string& name : names) {
    const CInterfaceNameMgr* pMgr = db.FindNameMgr(name.c_str());
    ASSERT_NE(pMgr, nullptr) << name;
    EXPECT_EQ(std::string(pMgr->GetName()), name);
  }
  EXPECT_EQ(db.FindNameMgr("Name."), nullptr);
  EXPECT_EQ(db.FindNameMgr("name.7"), nullptr);  // case-sensitive
  EXPECT_EQ(db.FindNameMgr(nullptr), nullptr);

  for (size_t i = 0; i < shuffled.size(); ++i) {
    ASSERT_TRUE(db.RemoveImplementation(&impls[i], shuffled[i].c_str()));
    EXPECT_EQ(db.FindNameMgr(shuffled[i].c_str()), nullptr);
  }
  EXPECT_TRUE(db.IsEmpty());
}

// A name of another version than its first is rejected and reported; a merge leaves it behind.
TEST(InterfaceDatabase, MergeMovesEverythingAndKeepsConflictingNamesBehind) {
  g_errors.clear();
  std::vector<std::string> asserts;
  SetInterfaceErrorSink(&CaptureError);
  platform::SetAssertionSink([&](std::string_view text) { asserts.emplace_back(text); });

  CInterfaceDatabase master, module;
  FakeHolder hostHolder("Common", 4, "host", nullptr);
  FakeHolder moduleHolder("Common", 4, "module", nullptr);
  FakeHook moduleHook("Common", 4);
  FakeImpl moduleImpl("m");
  FakeImpl otherImpl("o");
  FakeImpl clashImpl("clash");
  FakeImpl masterClash("mc");
  master.AddHolder(&hostHolder);
  master.AddImplementation(&masterClash, "Clash", 1);
  module.AddHolder(&moduleHolder);
  module.AddImplementation(&moduleImpl, "Common", 4);
  module.AddHook(&moduleHook);
  module.AddImplementation(&otherImpl, "Other", 2);
  module.AddImplementation(&clashImpl, "Clash", 9);
  ASSERT_EQ(hostHolder.Get(), nullptr);

  EXPECT_FALSE(master.Merge(&module));  // "Clash" was rejected

  const CInterfaceNameMgr* pCommon = master.FindNameMgr("Common");
  ASSERT_NE(pCommon, nullptr);
  EXPECT_EQ(pCommon->GetHolderCount(), 2u);
  EXPECT_EQ(pCommon->GetImplCount(), 1u);
  EXPECT_EQ(pCommon->GetHookCount(), 1u);
  EXPECT_EQ(hostHolder.Get(), &moduleImpl);
  EXPECT_EQ(moduleHolder.Get(), &moduleImpl);
  ASSERT_NE(master.FindNameMgr("Other"), nullptr);
  EXPECT_EQ(master.FindNameMgr("Other")->GetVersion(), 2u);
  EXPECT_EQ(master.FindNameMgr("Clash")->GetImplCount(), 1u);

  // The moved managers are left empty; the rejected one keeps its entry.
  EXPECT_TRUE(module.FindNameMgr("Common")->IsEmpty());
  EXPECT_TRUE(module.FindNameMgr("Other")->IsEmpty());
  EXPECT_EQ(module.FindNameMgr("Clash")->GetImplCount(), 1u);
  ASSERT_EQ(g_errors.size(), 1u);
  EXPECT_THAT(g_errors[0], HasSubstr("\"Clash\" version 9")) << g_errors[0];
  EXPECT_THAT(g_errors[0], HasSubstr("registered with version 1")) << g_errors[0];

  FakeHolder wrongHolder("Common", 5, "w", nullptr);
  FakeHook wrongHook("Common", 3);
  EXPECT_FALSE(master.AddHolder(&wrongHolder));
  EXPECT_FALSE(master.AddHook(&wrongHook));
  EXPECT_EQ(pCommon->GetVersion(), 4u);
  EXPECT_EQ(pCommon->GetHolderCount(), 2u);
  EXPECT_EQ(pCommon->GetHookCount(), 1u);
  EXPECT_EQ(wrongHolder.Get(), nullptr);
  EXPECT_TRUE(wrongHook.calls.empty());
  EXPECT_EQ(g_errors.size(), 3u);
  EXPECT_EQ(asserts.size(), 3u);

  EXPECT_TRUE(master.Merge(nullptr));
  EXPECT_TRUE(master.Merge(&master));
  SetInterfaceErrorSink(nullptr);
  platform::SetAssertionSink({});
}

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

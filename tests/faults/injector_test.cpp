// The injector itself: which calls fail, with what, what is counted, and the
// SERVERAPP_FAULTS syntax.
#include "platform/fault_injection.h"

#include "fault_test.h"

#include <string>
#include <vector>

namespace {

class InjectorTest : public FaultTest<> {
 protected:
  static std::vector<int> Run(Point p, int calls) {
    std::vector<int> answers;
    for (int i = 0; i < calls; ++i) answers.push_back(fault::Check(p));
    return answers;
  }
};

TEST_F(InjectorTest, FailsTheNthCallOnlyOrEveryCallFromItUntilReset) {
  fault::Arm(Point::kMkdir, 2, 13);
  EXPECT_EQ(Run(Point::kMkdir, 4), (std::vector<int>{0, 13, 0, 0}));
  EXPECT_EQ(fault::Calls(Point::kMkdir), 4u);
  EXPECT_EQ(fault::Failures(Point::kMkdir), 1u);
  // Other points are untouched, though counted while the injector is active.
  EXPECT_EQ(Run(Point::kFileOpen, 2), (std::vector<int>{0, 0}));
  EXPECT_EQ(fault::Calls(Point::kFileOpen), 2u);

  fault::Arm(Point::kFileWrite, 3, 28, /*and_after=*/true);
  EXPECT_EQ(Run(Point::kFileWrite, 5), (std::vector<int>{0, 0, 28, 28, 28}));
  EXPECT_EQ(fault::Failures(Point::kFileWrite), 3u);

  // Disarming stops the failures but keeps counting; re-arming counts on
  // from where the point stands.
  fault::Disarm(Point::kFileWrite);
  EXPECT_EQ(Run(Point::kFileWrite, 2), (std::vector<int>{0, 0}));
  EXPECT_EQ(fault::Calls(Point::kFileWrite), 7u);
  fault::Arm(Point::kFileWrite, 8, 5);
  EXPECT_EQ(Run(Point::kFileWrite, 2), (std::vector<int>{5, 0}));

  // An error or call number of 0 arms nothing.
  fault::Arm(Point::kShmMap, 1, 0);
  fault::Arm(Point::kShmOpen, 0, 12);
  EXPECT_EQ(fault::Check(Point::kShmMap), 0);
  EXPECT_EQ(fault::Check(Point::kShmOpen), 0);
  EXPECT_EQ(fault::Check(Point::kCount), 0);

  // Reset disarms and stops counting.
  fault::Arm(Point::kHttpRead, 1, 104, true);
  EXPECT_EQ(fault::Check(Point::kHttpRead), 104);
  fault::Reset();
  EXPECT_EQ(Run(Point::kHttpRead, 3), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(fault::Calls(Point::kHttpRead), 0u);
  EXPECT_EQ(fault::Failures(Point::kHttpRead), 0u);

  fault::StartCounting();
  Run(Point::kProcessRead, 3);
  EXPECT_EQ(fault::Calls(Point::kProcessRead), 3u);
  EXPECT_EQ(fault::Failures(Point::kProcessRead), 0u);
}

TEST_F(InjectorTest, SpecArmsEveryRuleOrNothing) {
  std::string why;
  ASSERT_TRUE(fault::ArmFromSpec("file_open:3+:13,shm_create:1:12,library_symbol:2", &why)) << why;
  EXPECT_EQ(Run(Point::kFileOpen, 4), (std::vector<int>{0, 0, 13, 13}));
  EXPECT_EQ(Run(Point::kShmCreate, 2), (std::vector<int>{12, 0}));
  EXPECT_EQ(Run(Point::kLibrarySymbol, 2), (std::vector<int>{0, fault::kDefaultError}));

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"", "a rule is <point>:<n>[+][:<error>]"},
      {"file_open", "a rule is <point>:<n>[+][:<error>]"},
      {"file_open:1:2:3", "a rule is <point>:<n>[+][:<error>]"},
      {"http_connect:1,", "a rule is <point>:<n>[+][:<error>]"},
      {"File_Open:1", "unknown point \"File_Open\""},
      {"count:1", "unknown point \"count\""},
      {"mkdir:0", "the call number of \"mkdir\" must be 1 or more"},
      {"mkdir:+", "the call number of \"mkdir\" must be 1 or more"},
      {"mkdir:1x", "the call number of \"mkdir\" must be 1 or more"},
      {"mkdir:-1", "the call number of \"mkdir\" must be 1 or more"},
      {"mkdir:99999999999999999999", "the call number of \"mkdir\" must be 1 or more"},
      {"mkdir:1:0", "the error of \"mkdir\" must be a number of 1 or more"},
      {"mkdir:1:", "the error of \"mkdir\" must be a number of 1 or more"},
      {"mkdir:1:EIO", "the error of \"mkdir\" must be a number of 1 or more"},
      {"mkdir:1:99999999999", "the error of \"mkdir\" must be a number of 1 or more"},
  };
  for (const auto& [spec, reason] : bad) {
    fault::Reset();
    why.clear();
    // A good rule before the bad one must not be armed either.
    EXPECT_FALSE(fault::ArmFromSpec("http_write:1:32," + spec, &why)) << spec;
    EXPECT_EQ(why, reason) << spec;
    EXPECT_EQ(fault::Check(Point::kHttpWrite), 0) << spec;
    EXPECT_EQ(fault::Check(Point::kMkdir), 0) << spec;
  }
  EXPECT_FALSE(fault::ArmFromSpec("nope:1", nullptr));
  EXPECT_FALSE(fault::ArmFromSpec("", &why));
  EXPECT_EQ(why, "no rule");
}

// Each point's name arms that point and no other.
TEST_F(InjectorTest, EveryPointIsArmedByItsName) {
  for (int i = 0; i < static_cast<int>(Point::kCount); ++i) {
    const std::string name = fault::PointName(static_cast<Point>(i));
    fault::Reset();
    ASSERT_TRUE(fault::ArmFromSpec(name + ":1:7", nullptr)) << name;
    for (int j = 0; j < static_cast<int>(Point::kCount); ++j) {
      EXPECT_EQ(fault::Check(static_cast<Point>(j)), i == j ? 7 : 0) << name;
    }
  }
  EXPECT_STREQ(fault::PointName(Point::kCount), "");
}

}  // namespace

// A record the manager posts by address whose read fails: one log line, no
// record handed on, no dump, and the next post is read again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "fault_test.h"
#include "link_test_support.h"
#include "managerlink/managerlink.h"
#include "protocol/dumptext.h"

namespace {

using ManagerLinkFaults = FaultTest<>;
using ::testing::ElementsAre;

TEST_F(ManagerLinkFaults, FailedReadOfAPostedRecordIsLoggedAndTheNextReadWorks) {
  linktest::LogSandbox logs(1, 0);
  auto manager = linktest::ManagerProcess::Start();
  ASSERT_NE(manager, nullptr);
  CManagerLink link;
  link.Attach(manager->window(), 0x4242, 3);

  PROTO_GAME_USER_INFO user;
  user.USN = 77;
  user.SlotIdx = 4;
  const uint64_t address =
      manager->Put({reinterpret_cast<const std::byte*>(&user), sizeof(PROTO_GAME_USER_INFO)});
  ASSERT_NE(address, 0u);

  fault::Arm(Point::kProcessRead, 1, EFAULT);
  int handled = 0;
  auto handler = [&](const PROTO_GAME_USER_INFO& record) {
    ++handled;
    EXPECT_EQ(std::memcmp(&record, &user, sizeof(user)), 0);
  };
  EXPECT_FALSE(link.FetchRecord<PROTO_GAME_USER_INFO>(static_cast<int64_t>(address), handler));
  EXPECT_EQ(handled, 0);
  EXPECT_THAT(logs.MainLines(),
              ElementsAre("[ERROR] [RWPM]ReadGSMMemory Failed!! ReadProcessMemory Error!! "
                          "tIndex[3], proto[" +
                          std::to_string(address) + "], proto_size[" +
                          std::to_string(sizeof(PROTO_GAME_USER_INFO)) + "]"));
  // The dump of a failed fetch shows the record's defaults, never stale or
  // partly read bytes.
  const PROTO_GAME_USER_INFO defaults{};
  EXPECT_THAT(logs.RwpmLines(), ElementsAre(proto::DumpText(proto::kRecvTag, 3, defaults)));

  EXPECT_TRUE(link.FetchRecord<PROTO_GAME_USER_INFO>(static_cast<int64_t>(address), handler));
  EXPECT_EQ(handled, 1);
  EXPECT_THAT(logs.RwpmLines(), ElementsAre(proto::DumpText(proto::kRecvTag, 3, defaults),
                                            proto::DumpText(proto::kRecvTag, 3, user)));
  EXPECT_EQ(logs.MainLines().size(), 1u);
}

}  // namespace

int main(int argc, char** argv) {
  int exit_code = 0;
  if (linktest::RunAsManagerProcess(argc, argv, &exit_code)) return exit_code;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

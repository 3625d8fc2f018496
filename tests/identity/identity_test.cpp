#include "platform/identity.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Identity, DescribesThisProcess) {
  EXPECT_FALSE(platform::HostName().empty());
  // Under ctest no tracer is attached; a trap here would kill the test.
  ASSERT_FALSE(platform::IsDebuggerAttached());
  platform::BreakIntoDebugger();
}

// A fully qualified host name too long for a computer name gives its host
// part; one whose host part is too long gives none (the crash report then
// names the machine "unknwon").
TEST(Identity, ComputerNameOfAHostName) {
  const std::pair<const char*, const char*> kRows[] = {
      {"fifteen-chars-x", "fifteen-chars-x"},
      {"gs01.a.example", "gs01.a.example"},
      {"gs01.rooms.example.com", "gs01"},
      {"fifteen-chars-x.example.com", "fifteen-chars-x"},
      {"sixteen-chars-xy.example.com", ""},
      {"sixteen-chars-xy", ""},
      {"", ""},
  };
  for (const auto& [host, computer] : kRows) {
    EXPECT_EQ(computer, platform::ComputerNameOf(host)) << host;
  }
  EXPECT_LE(platform::ComputerName().size(), platform::kComputerNameMax);
}

// (The debugger output's sink: LogMsgManagerTest.PrivateCopyAndItsFailures.)
TEST(Identity, AssertionSinkGetsTheFailedExpressionAndItsPlace) {
  std::vector<std::string> asserts;
  platform::SetAssertionSink([&](std::string_view t) { asserts.emplace_back(t); });
  int size = 3;
  const int line = __LINE__ + 1;
  SERVERAPP_ASSERT(size == 4);
  SERVERAPP_ASSERT(size == 3);  // holds: no report
  platform::SetAssertionSink({});
  ASSERT_EQ(asserts.size(), 1u);
  // The source path is the repository's, whatever folder it was built in.
  EXPECT_EQ(asserts[0], "Assertion failed: size == 4 (tests/identity/identity_test.cpp:" +
                            std::to_string(line) + ")");
}

}  // namespace

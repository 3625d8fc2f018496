// The module connection seen from outside: a host started through the
// manager's peer hands the module the start notice (group number, server
// index) and the package list, and the module's `status` command shows both.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "crashwire_host.h"

namespace {

using crashwire::CrashRoom;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The console's result lines (no time stamp, unlike the logger's echo)
// until the last line `status` writes, the last received message.
std::vector<std::string> StatusLines(platform::Process& host) {
  std::vector<std::string> lines;
  std::string line;
  bool received = false;
  while (host.ReadStdoutLine(&line, received ? 300 : 5000)) {
    if (line.rfind("received #", 0) == 0) received = true;
    lines.push_back(line);
  }
  return lines;
}

TEST(ModuleStatus, ShowsTheStartNoticeAndThePackageList) {
  CrashRoom room;
  if (!room.unavailable().empty()) GTEST_SKIP() << room.unavailable();
  const auto rez = room.folder().work() / "rez";
  for (const char* name : {"maps.rez", "_shared.rez", "b_c.rez"}) {
    std::ofstream(rez / name) << "package";
  }
  ASSERT_TRUE(room.Start());
  ASSERT_TRUE(room.Command("status"));
  const std::vector<std::string> lines = StatusLines(room.host());

  EXPECT_THAT(lines, Contains(AllOf(StartsWith("status: "), HasSubstr(", group 9, index 4"),
                                    HasSubstr("port 5000"))));

  // The listed packages, then the three folders; "b_c.rez" has an '_'
  // after its first character and is left out.
  EXPECT_THAT(lines, Contains(AllOf(StartsWith("messages "), HasSubstr(", packages 5,"))));
  std::vector<std::string> packages;
  for (const std::string& l : lines) {
    if (l.rfind("package ", 0) == 0) packages.push_back(l.substr(l.find(": ") + 2));
  }
  ASSERT_EQ(5u, packages.size());
  EXPECT_THAT(std::vector(packages.begin(), packages.begin() + 2),
              ::testing::UnorderedElementsAre("rez/_shared.rez", "rez/maps.rez"));
  EXPECT_THAT(std::vector(packages.begin() + 2, packages.end()),
              ::testing::ElementsAre("rez", "rez2", "rez3"));

  // The start notice as the module received it: id 39, group 9, index 4,
  // 32 bits each, little-endian.
  EXPECT_THAT(lines, Contains(HasSubstr(" id 39 (72 bits): 27 09 00 00 00 04 00 00 00")));
}

}  // namespace

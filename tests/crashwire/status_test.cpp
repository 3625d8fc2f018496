// The module connection seen from outside: a host started through the
// manager's peer hands the module the start notice (group number, server
// index) and the package list, and the module's `status` command shows both.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "crashwire_host.h"

namespace {

using namespace std::chrono_literals;
using crashwire::CrashRoom;

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

  auto status = std::find_if(lines.begin(), lines.end(),
                             [](const std::string& l) { return l.rfind("status: ", 0) == 0; });
  ASSERT_NE(status, lines.end());
  EXPECT_NE(std::string::npos, status->find(", group 9, index 4")) << *status;
  EXPECT_NE(std::string::npos, status->find("port 5000")) << *status;

  // The listed packages, then the three folders; "b_c.rez" has an '_'
  // after its first character and is left out.
  auto count = std::find_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("messages ", 0) == 0; });
  ASSERT_NE(count, lines.end());
  EXPECT_NE(std::string::npos, count->find(", packages 5,")) << *count;
  std::vector<std::string> packages;
  for (const std::string& l : lines) {
    if (l.rfind("package ", 0) == 0) packages.push_back(l.substr(l.find(": ") + 2));
  }
  ASSERT_EQ(5u, packages.size());
  std::vector<std::string> files(packages.begin(), packages.begin() + 2);
  std::sort(files.begin(), files.end());
  EXPECT_EQ((std::vector<std::string>{"rez/_shared.rez", "rez/maps.rez"}), files);
  EXPECT_EQ((std::vector<std::string>{"rez", "rez2", "rez3"}),
            std::vector<std::string>(packages.begin() + 2, packages.end()));

  // The start notice as the module received it: id 39, group 9, index 4,
  // 32 bits each, little-endian.
  bool notice = false;
  for (const std::string& l : lines) {
    if (l.find(" id 39 (72 bits): 27 09 00 00 00 04 00 00 00") != std::string::npos) notice = true;
  }
  EXPECT_TRUE(notice) << testing::PrintToString(lines);
}

}  // namespace

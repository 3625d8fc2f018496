// The package list handed to the module.
#include "content/rezfilelist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "interface/igameserver.h"
#include "platform/identity.h"
#include "support/log_sandbox.h"
#include "support/null_game_server.h"

namespace {

namespace fs = std::filesystem;

// Copies what SetRezFileList received (the texts die after the call).
class RecordingServer final : public NullGameServer {
 public:
  bool SetRezFileList(const char* const* ppszFiles, int32_t nCount) override {
    ++calls;
    count = nCount;
    files.assign(ppszFiles, ppszFiles + nCount);
    return answer;
  }

  int calls = 0;
  int32_t count = -1;
  std::vector<std::string> files;
  bool answer = true;
};

class RezFileList : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetDebuggerOutputSink([this](std::string_view text) { debug_.emplace_back(text); });
  }
  void TearDown() override { platform::SetDebuggerOutputSink({}); }
  // Empty: thousands of files with data are slow on discard-mounted disks.
  static void Touch(const fs::path& path) { std::ofstream{path}; }
  // Grows rez/ to nCount packages p0.rez, p1.rez, ...
  void AddPackages(int nCount) {
    fs::create_directories("rez");
    for (; packages_ < nCount; ++packages_) {
      Touch(fs::path("rez") / ("p" + std::to_string(packages_) + ".rez"));
    }
  }

  int packages_ = 0;
  testsupport::LogSandbox sandbox_{"rezlist-"};  // the current folder
  std::vector<std::string> debug_;
  RecordingServer server_;
};

const std::vector<std::string> kFolders = {"rez", "rez2", "rez3"};

TEST_F(RezFileList, UnderscoreRuleFoldersAndOtherFilesAreApplied) {
  // No rez folder: the three folder names. The module's answer is the result.
  EXPECT_TRUE(BuildRezFileList(&server_));
  EXPECT_EQ(server_.files, kFolders);
  server_.answer = false;
  EXPECT_FALSE(BuildRezFileList(&server_));
  EXPECT_FALSE(BuildRezFileList(nullptr));
  EXPECT_EQ(server_.calls, 2);
  server_.answer = true;

  fs::create_directories("rez/x.rez");  // a folder with a package's name
  Touch("rez/a.rez");
  Touch("rez/b_c.rez");
  Touch("rez/_d.rez");
  Touch("rez/notes.txt");
  Touch("top.rez");  // outside the rez folder
  ASSERT_TRUE(BuildRezFileList(&server_));
  ASSERT_EQ(server_.count, 5);
  // The packages come in the folder search's order, which is the system's.
  std::vector<std::string> packages(server_.files.begin(), server_.files.begin() + 2);
  std::sort(packages.begin(), packages.end());
  EXPECT_EQ(packages, (std::vector<std::string>{"rez/_d.rez", "rez/a.rez"}));
  EXPECT_EQ(std::vector<std::string>(server_.files.begin() + 2, server_.files.end()), kFolders);
  EXPECT_EQ(CollectRezEntries(), server_.files);
}

TEST_F(RezFileList, AFullArrayIsReportedAndLongerListsAreCut) {
  const std::vector<std::string> expectedDebug = {
      "----------------------------------------------------\n", "MAX_REZ_COUNT 카운트 초과!!!!\n",
      "----------------------------------------------------\n"};

  AddPackages(996);  // 999 entries: below the bound, no report
  ASSERT_TRUE(BuildRezFileList(&server_));
  EXPECT_EQ(server_.count, 999);
  EXPECT_TRUE(debug_.empty());

  AddPackages(997);  // exactly 1000: nothing dropped, reported all the same
  ASSERT_TRUE(BuildRezFileList(&server_));
  EXPECT_EQ(server_.count, MAX_REZ_COUNT);
  EXPECT_EQ(std::vector<std::string>(server_.files.end() - 3, server_.files.end()), kFolders);
  EXPECT_EQ(debug_, expectedDebug);

  debug_.clear();
  AddPackages(998);  // 1001 entries: rez3 is cut
  ASSERT_TRUE(BuildRezFileList(&server_));
  EXPECT_EQ(server_.count, MAX_REZ_COUNT);
  EXPECT_EQ(std::vector<std::string>(server_.files.end() - 2, server_.files.end()),
            (std::vector<std::string>{"rez", "rez2"}));
  EXPECT_EQ(debug_, expectedDebug);
}

}  // namespace

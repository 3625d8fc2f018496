// The host logger with writers in several processes (fork: POSIX only;
// Windows gets the same guarantee from FILE_APPEND_DATA, which the
// cross-process message-table tests exercise there).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hostlogger_fixture.h"

using logtest::Entries;
using logtest::HostLoggerTest;
using logtest::ReadFile;

TEST_F(HostLoggerTest, ConcurrentProcessesKeepEveryLineWhole) {
  Init("");
  constexpr int kLines = 1000;
  const std::string pad(180, '#');
  std::vector<pid_t> children;
  std::fflush(stdout);  // or the children would write our buffered echo again
  for (char who : {'P', 'Q'}) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < kLines; ++i) {
        HostLog(HLOG_INFO, "%c %05d %s", who, i, pad.c_str());
        EtcInfoLog("%c %05d %s", who, i, pad.c_str());
      }
      std::fflush(stdout);
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (const char* head : {"error", "etcinfo"}) {
    const std::vector<std::string> lines = Entries(ReadFile(File(head, "20261205", "_04")));
    ASSERT_EQ(lines.size(), 2u * kLines) << head;
    int next[2] = {0, 0};
    for (const std::string& line : lines) {
      ASSERT_GT(line.size(), pad.size() + 8) << line;
      const size_t at = line.size() - pad.size() - 8;
      const char who = line[at];
      ASSERT_TRUE(who == 'P' || who == 'Q') << line;
      EXPECT_EQ(line.substr(at + 2),
                (std::to_string(100000 + next[who - 'P']++)).substr(1) + " " + pad);
    }
  }
}

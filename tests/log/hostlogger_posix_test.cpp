// The host logger with writers in several processes (fork: POSIX only;
// Windows gets the same guarantee from FILE_APPEND_DATA, which the
// cross-process message-table tests exercise there).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "logtestutil.h"

using logtest::HostLoggerTest;

TEST_F(HostLoggerTest, ConcurrentProcessesKeepEveryLineWhole) {
  logs_.Start("");
  const std::string pad(180, '#');
  std::fflush(stdout);  // or the children would write our buffered echo again
  for (char who : {'P', 'Q'}) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      WriteNumbered(who, 1000, pad);
      std::fflush(stdout);
      ::_exit(0);
    }
  }
  for (int child = 0; child < 2; ++child) {
    int status = 0;
    ASSERT_GT(::wait(&status), 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ExpectWholeNumbered('P', 1000, pad);
}

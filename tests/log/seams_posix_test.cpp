// The POSIX emulation of the Win32 mapping lifetime: an object whose holders
// all died is stale (on Windows the system itself removes it with its last
// handle).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "logtestutil.h"
#include "platform/shm.h"

TEST(SharedMemory, ObjectOfADeadHolderIsStale) {
  logtest::ShmSession session;
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    platform::SharedMemory* m = platform::CreateSharedMemory("StaleTest", 512, nullptr);
    if (m) std::strcpy(static_cast<char*>(platform::MapSharedMemory(m, 0, true)), "old");
    ::_exit(m ? 0 : 1);  // dies holding it
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The name still exists in the system, but nobody holds it.
  const std::string posix_name =
      "/u" + std::to_string(::getuid()) + ".logtest" + std::to_string(::getpid()) + ".StaleTest";
  const int fd = ::shm_open(posix_name.c_str(), O_RDONLY, 0);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(platform::OpenSharedMemory("StaleTest", false), nullptr);
  // And creating it gives a fresh, zeroed object.
  bool existed = true;
  platform::SharedMemory* fresh = platform::CreateSharedMemory("StaleTest", 512, &existed);
  ASSERT_NE(fresh, nullptr);
  EXPECT_FALSE(existed);
  const char* view = static_cast<const char*>(platform::MapSharedMemory(fresh, 0, false));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0], 0);
  platform::UnmapSharedMemory(fresh, const_cast<char*>(view), 0);
  platform::CloseSharedMemory(fresh);
}

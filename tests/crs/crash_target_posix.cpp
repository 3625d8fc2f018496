// crs_crash_target on POSIX: a seccomp filter, pthread names.
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>

#include "crash_target_system.h"

bool DenyToThisProcess(const std::string& what) {
  const bool ptrace = what == "ptrace";
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ptrace ? unsigned{SYS_ptrace} : unsigned{SYS_clone}, 0,
               3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, ptrace ? 0u : unsigned{CLONE_THREAD}, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ptrace ? unsigned{EPERM} : unsigned{ENOMEM})),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof(filter) / sizeof(filter[0])), filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0) {
    return true;
  }
  std::perror("seccomp");
  return false;
}

void NameThisThread(const char* name) {
  pthread_setname_np(pthread_self(), name);
}

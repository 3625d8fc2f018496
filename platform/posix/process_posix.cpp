// Child processes with fork and exec. Everything the child needs is built
// before fork, so that the child only calls async-signal-safe functions.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/process.h"

extern char** environ;

namespace platform {
namespace {

// Finds a bare program name in PATH, as execvp would, but before fork.
std::string ResolveProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = ".";
    std::string candidate = dir;
    candidate.append("/").append(program);
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

std::vector<std::string> BuildEnvironment(
    const std::vector<std::pair<std::string, std::string>>& extra) {
  std::vector<std::string> result;
  for (char** e = environ; e && *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& [key, value] : extra) replaced = replaced || key == name;
    if (!replaced) result.push_back(entry);
  }
  for (const auto& [key, value] : extra) {
    std::string entry = key;
    entry.append("=").append(value);
    result.push_back(std::move(entry));
  }
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// The parent's end of one pipe, with a line buffer for reads.
struct PipeEnd {
  int fd = -1;
  std::string pending;
  bool eof = false;
  ~PipeEnd() {
    if (fd >= 0) close(fd);
  }
};

class PosixProcess final : public Process {
 public:
  PosixProcess(pid_t pid, int in, int out, int err, bool kill_on_destroy)
      : pid_(pid), kill_on_destroy_(kill_on_destroy) {
    stdin_.fd = in;
    stdout_.fd = out;
    stderr_.fd = err;
  }

  ~PosixProcess() override {
    if (!status_ && kill_on_destroy_) {
      Kill();
      Wait(-1);
    }
  }

  uint32_t pid() const override { return static_cast<uint32_t>(pid_); }

  std::optional<ExitStatus> Wait(int timeout_ms) override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    auto pause = std::chrono::microseconds(200);
    while (!status_) {
      int raw = 0;
      const pid_t r = waitpid(pid_, &raw, WNOHANG);
      if (r == pid_) {
        ExitStatus status;
        status.exited = WIFEXITED(raw);
        status.exit_code = status.exited ? WEXITSTATUS(raw) : 0;
        status.signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
        status_ = status;
        break;
      }
      if (r < 0 && errno != EINTR) break;  // not our child any more
      if (timeout_ms >= 0 && std::chrono::steady_clock::now() >= deadline) break;
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::microseconds(10000));
    }
    return status_;
  }

  bool Terminate() override { return Signal(SIGTERM); }
  bool Interrupt() override { return Signal(SIGINT); }
  bool Kill() override { return Signal(SIGKILL); }

  bool ReadStdoutLine(std::string* line, int timeout_ms) override {
    return ReadLine(stdout_, line, timeout_ms);
  }
  bool ReadStderrLine(std::string* line, int timeout_ms) override {
    return ReadLine(stderr_, line, timeout_ms);
  }

  bool WriteStdin(std::string_view data) override {
    if (stdin_.fd < 0) return false;
    while (!data.empty()) {
      const ssize_t n = write(stdin_.fd, data.data(), data.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }

  void CloseStdin() override {
    if (stdin_.fd >= 0) close(stdin_.fd);
    stdin_.fd = -1;
  }

 private:
  bool Signal(int signal) {
    // Once reaped, the pid may belong to another process: never signal it.
    if (status_ || Wait(0)) return false;
    return kill(pid_, signal) == 0;
  }

  static bool ReadLine(PipeEnd& end, std::string* line, int timeout_ms) {
    if (end.fd < 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      const size_t newline = end.pending.find('\n');
      if (newline != std::string::npos) {
        *line = end.pending.substr(0, newline);
        end.pending.erase(0, newline + 1);
        return true;
      }
      if (end.eof) {
        if (end.pending.empty()) return false;
        *line = std::move(end.pending);
        end.pending.clear();
        return true;
      }
      int wait = -1;
      if (timeout_ms >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) return false;
        wait = static_cast<int>(left.count());
      }
      pollfd p{end.fd, POLLIN, 0};
      const int ready = poll(&p, 1, wait);
      if (ready < 0 && errno != EINTR) return false;
      if (ready == 0 && timeout_ms >= 0 && std::chrono::steady_clock::now() >= deadline) {
        return false;
      }
      if (ready <= 0) continue;
      char chunk[4096];
      const ssize_t n = read(end.fd, chunk, sizeof(chunk));
      if (n > 0) {
        end.pending.append(chunk, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        end.eof = true;
      }
    }
  }

  const pid_t pid_;
  const bool kill_on_destroy_;
  std::optional<ExitStatus> status_;
  PipeEnd stdin_, stdout_, stderr_;
};

// The child's side of one standard stream, set up before fork: the
// descriptor to put in place (-1: leave as is) and the parent's end.
struct StreamPlan {
  int child_fd = -1;
  int parent_fd = -1;
};

bool PlanStream(StdStream mode, bool child_reads, StreamPlan* plan, std::string* error) {
  if (mode == StdStream::kInherit) return true;
  if (mode == StdStream::kNull) {
    plan->child_fd = open("/dev/null", (child_reads ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
    if (plan->child_fd < 0) *error = std::string("cannot open /dev/null: ") + strerror(errno);
    return plan->child_fd >= 0;
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *error = std::string("cannot create a pipe: ") + strerror(errno);
    return false;
  }
  plan->child_fd = child_reads ? fds[0] : fds[1];
  plan->parent_fd = child_reads ? fds[1] : fds[0];
  return true;
}

void ClosePlan(StreamPlan& plan, bool parent_too) {
  if (plan.child_fd >= 0) close(plan.child_fd);
  if (parent_too && plan.parent_fd >= 0) close(plan.parent_fd);
}

// In the child: write errno to the report pipe and leave without running
// any of the parent's atexit handlers.
[[noreturn]] void ChildFail(int report_fd) {
  const int e = errno;
  [[maybe_unused]] ssize_t n = write(report_fd, &e, sizeof(e));
  _exit(127);
}

}  // namespace

std::unique_ptr<Process> Process::Start(const ProcessOptions& options, std::string* error) {
  std::string scratch;
  std::string& why = error ? *error : scratch;
  const std::string program = ResolveProgram(options.program);
  if (program.empty()) {
    why = "program not found in PATH: ";
    why.append(options.program);
    return nullptr;
  }
  std::vector<std::string> argv_strings{options.program};
  argv_strings.insert(argv_strings.end(), options.args.begin(), options.args.end());
  std::vector<std::string> env_strings = BuildEnvironment(options.environment);
  std::vector<char*> argv = Pointers(argv_strings);
  std::vector<char*> envp = Pointers(env_strings);
  const char* cwd = options.working_directory.empty() ? nullptr : options.working_directory.c_str();

  StreamPlan plans[3];
  const StdStream modes[3] = {options.std_in, options.std_out, options.std_err};
  for (int i = 0; i < 3; ++i) {
    if (!PlanStream(modes[i], i == 0, &plans[i], &why)) {
      for (int j = 0; j < i; ++j) ClosePlan(plans[j], true);
      return nullptr;
    }
  }
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    why = std::string("cannot create a pipe: ") + strerror(errno);
    for (auto& plan : plans) ClosePlan(plan, true);
    return nullptr;
  }

  const pid_t pid = fork();
  if (pid == 0) {
    // The parent may block signals to take them on a thread of its own; the
    // child starts with none blocked and the default dispositions.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD}) signal(s, SIG_DFL);
    for (int i = 0; i < 3; ++i) {
      // dup2 clears close-on-exec on the copy.
      if (plans[i].child_fd >= 0 && dup2(plans[i].child_fd, i) < 0) ChildFail(report[1]);
    }
    if (cwd && chdir(cwd) != 0) ChildFail(report[1]);
    execve(program.c_str(), argv.data(), envp.data());
    ChildFail(report[1]);
  }
  close(report[1]);
  for (auto& plan : plans) ClosePlan(plan, pid < 0);
  if (pid < 0) {
    why = std::string("fork failed: ") + strerror(errno);
    close(report[0]);
    return nullptr;
  }
  auto process = std::make_unique<PosixProcess>(pid, plans[0].parent_fd, plans[1].parent_fd,
                                                plans[2].parent_fd, options.kill_on_destroy);
  int child_errno = 0;
  ssize_t n;
  do {
    n = read(report[0], &child_errno, sizeof(child_errno));
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (n == sizeof(child_errno)) {
    why = "cannot start ";
    why.append(program);
    if (cwd) why.append(" in ").append(cwd);
    why.append(": ").append(strerror(child_errno));
    process->Wait(-1);
    return nullptr;
  }
  return process;
}

}  // namespace platform

// Child processes with CreateProcess and anonymous pipes.
//
// Windows has no signals: Terminate and Interrupt ask a child that listens
// for stop requests (stop_request_win32.h) to stop, and end any other child
// with TerminateProcess. A child ended that way (or by Kill) reports the
// signal it stands for (15, 2, 9) as on POSIX, so callers see one status.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/process.h"
#include "stop_request_win32.h"
#include "win32_text.h"

namespace platform {
namespace {

constexpr int kSignalInterrupt = 2;
constexpr int kSignalKill = 9;
constexpr int kSignalTerminate = 15;
// The exit code TerminateProcess gives a child this object ended; chosen
// far from any code a program returns by itself.
constexpr UINT kForcedExitBase = 0xDEAD0000u;

// Inheritable handles exist only while this lock is held, so that a child
// started on another thread never inherits the pipe ends of this one.
std::mutex g_spawn_mutex;

// One argument in the form the C runtime splits back into argv.
void AppendQuoted(std::string* line, const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
    line->append(arg);
    return;
  }
  line->push_back('"');
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      line->append(backslashes * 2 + 1, '\\');
    else
      line->append(backslashes, '\\');
    backslashes = 0;
    line->push_back(c);
  }
  line->append(backslashes * 2, '\\');
  line->push_back('"');
}

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// This process's environment with `extra` added or replaced (names match
// without regard to case, as Windows treats them), as a CreateProcess block.
std::string BuildEnvironment(const std::vector<std::pair<std::string, std::string>>& extra) {
  std::string block;
  if (char* env = GetEnvironmentStringsA()) {
    for (const char* e = env; *e; e += std::strlen(e) + 1) {
      const std::string entry = e;
      // "=C:=C:\dir" entries keep the current folders of drives.
      const size_t eq = entry.find('=', 1);
      const std::string name = entry.substr(0, eq);
      bool replaced = false;
      for (const auto& [key, value] : extra) replaced = replaced || SameName(key, name);
      if (!replaced) block.append(entry).push_back('\0');
    }
    FreeEnvironmentStringsA(env);
  }
  for (size_t i = 0; i < extra.size(); ++i) {
    // A later entry of the same name wins, as when each was set in turn.
    bool overridden = false;
    for (size_t j = i + 1; j < extra.size(); ++j) {
      overridden = overridden || SameName(extra[i].first, extra[j].first);
    }
    if (!overridden) block.append(extra[i].first + "=" + extra[i].second).push_back('\0');
  }
  block.push_back('\0');
  return block;
}

// The parent's end of one pipe, with a line buffer for reads.
struct PipeEnd {
  HANDLE handle = nullptr;
  std::string pending;
  bool eof = false;
  void Close() {
    if (handle) CloseHandle(handle);
    handle = nullptr;
  }
  ~PipeEnd() { Close(); }
};

class Win32Process final : public Process {
 public:
  Win32Process(PROCESS_INFORMATION info, HANDLE in, HANDLE out, HANDLE err, bool kill_on_destroy)
      : process_(info.hProcess), pid_(info.dwProcessId), kill_on_destroy_(kill_on_destroy) {
    CloseHandle(info.hThread);
    stdin_.handle = in;
    stdout_.handle = out;
    stderr_.handle = err;
  }

  ~Win32Process() override {
    if (!status_ && kill_on_destroy_) {
      Kill();
      Wait(-1);
    }
    CloseHandle(process_);
  }

  uint32_t pid() const override { return pid_; }

  std::optional<ExitStatus> Wait(int timeout_ms) override {
    if (status_) return status_;
    const DWORD wait = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
    if (WaitForSingleObject(process_, wait) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!GetExitCodeProcess(process_, &code)) return std::nullopt;
    ExitStatus status;
    if (forced_signal_ != 0 && code == kForcedExitBase + static_cast<UINT>(forced_signal_)) {
      status.signal = forced_signal_;
    } else {
      status.exited = true;
      status.exit_code = static_cast<int>(code);
    }
    status_ = status;
    return status_;
  }

  bool Terminate() override { return Stop(win32::StopKind::kTerminate, kSignalTerminate); }
  bool Interrupt() override { return Stop(win32::StopKind::kInterrupt, kSignalInterrupt); }
  bool Kill() override { return Force(kSignalKill); }

  bool ReadStdoutLine(std::string* line, int timeout_ms) override {
    return ReadLine(stdout_, line, timeout_ms);
  }
  bool ReadStderrLine(std::string* line, int timeout_ms) override {
    return ReadLine(stderr_, line, timeout_ms);
  }

  bool WriteStdin(std::string_view data) override {
    if (!stdin_.handle) return false;
    while (!data.empty()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size(), 1u << 20));
      if (!WriteFile(stdin_.handle, data.data(), chunk, &written, nullptr) || written == 0) {
        return false;
      }
      data.remove_prefix(written);
    }
    return true;
  }

  void CloseStdin() override { stdin_.Close(); }

 private:
  bool Running() { return !status_ && !Wait(0); }

  bool Stop(win32::StopKind kind, int signal) {
    if (!Running()) return false;
    if (win32::SignalStopRequest(pid_, kind)) return true;
    return Force(signal);
  }

  bool Force(int signal) {
    if (!Running()) return false;
    if (forced_signal_ == 0) forced_signal_ = signal;
    return TerminateProcess(process_, kForcedExitBase + static_cast<UINT>(forced_signal_)) != FALSE;
  }

  // Anonymous pipes cannot wait with a time-out: peek, and sleep a little
  // (up to 5 ms) while nothing is there.
  static bool ReadLine(PipeEnd& end, std::string* line, int timeout_ms) {
    if (!end.handle) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    auto pause = std::chrono::microseconds(200);
    for (;;) {
      const size_t newline = end.pending.find('\n');
      if (newline != std::string::npos) {
        size_t stop = newline;
        if (stop > 0 && end.pending[stop - 1] == '\r') --stop;  // text-mode CR LF
        *line = end.pending.substr(0, stop);
        end.pending.erase(0, newline + 1);
        return true;
      }
      if (end.eof) {
        if (end.pending.empty()) return false;
        *line = std::move(end.pending);
        end.pending.clear();
        return true;
      }
      DWORD available = 0;
      if (!PeekNamedPipe(end.handle, nullptr, 0, nullptr, &available, nullptr)) {
        end.eof = true;  // the child closed its end (ERROR_BROKEN_PIPE)
        continue;
      }
      if (available > 0) {
        char chunk[4096];
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(available, sizeof(chunk));
        if (ReadFile(end.handle, chunk, want, &got, nullptr) && got > 0) {
          end.pending.append(chunk, got);
        } else {
          end.eof = true;
        }
        pause = std::chrono::microseconds(200);
        continue;
      }
      if (timeout_ms >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::microseconds(5000));
    }
  }

  const HANDLE process_;
  const uint32_t pid_;
  const bool kill_on_destroy_;
  int forced_signal_ = 0;
  std::optional<ExitStatus> status_;
  PipeEnd stdin_, stdout_, stderr_;
};

// The child's side of one standard stream and the parent's end of its pipe.
struct StreamPlan {
  HANDLE child = nullptr;   // inheritable; closed after CreateProcess
  HANDLE parent = nullptr;  // not inheritable
  bool owned = false;       // child was made here (not this process's own stream)
};

bool PlanStream(StdStream mode, DWORD std_id, StreamPlan* plan, std::string* error) {
  const bool child_reads = std_id == STD_INPUT_HANDLE;
  HANDLE own = nullptr;
  if (mode == StdStream::kInherit) {
    own = GetStdHandle(std_id);
  } else if (mode == StdStream::kNull) {
    own = CreateFileA("NUL", child_reads ? GENERIC_READ : GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (own == INVALID_HANDLE_VALUE) {
      *error = "cannot open NUL: " + win32::ErrorText(GetLastError());
      return false;
    }
    plan->owned = true;
  } else {
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, nullptr, 1 << 16)) {
      *error = "cannot create a pipe: " + win32::ErrorText(GetLastError());
      return false;
    }
    own = child_reads ? read_end : write_end;
    plan->parent = child_reads ? write_end : read_end;
    plan->owned = true;
  }
  if (own == nullptr || own == INVALID_HANDLE_VALUE) return true;  // no such stream here
  // An inheritable copy for the child; the original stays private.
  if (!DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &plan->child, 0, TRUE,
                       DUPLICATE_SAME_ACCESS)) {
    *error = "cannot pass a stream: " + win32::ErrorText(GetLastError());
    if (plan->owned) CloseHandle(own);
    if (plan->parent) CloseHandle(plan->parent);
    plan->parent = nullptr;
    return false;
  }
  if (plan->owned) CloseHandle(own);
  return true;
}

void ClosePlan(StreamPlan& plan, bool parent_too) {
  if (plan.child) CloseHandle(plan.child);
  plan.child = nullptr;
  if (parent_too && plan.parent) CloseHandle(plan.parent);
  if (parent_too) plan.parent = nullptr;
}

}  // namespace

std::unique_ptr<Process> Process::Start(const ProcessOptions& options, std::string* error) {
  std::string scratch;
  std::string& why = error ? *error : scratch;
  if (options.program.empty()) {
    why = "no program given";
    return nullptr;
  }
  const std::string program = win32::NativePath(options.program.c_str());
  std::string command_line;
  AppendQuoted(&command_line, program);
  for (const std::string& arg : options.args) {
    command_line.push_back(' ');
    AppendQuoted(&command_line, arg);
  }
  std::string environment = BuildEnvironment(options.environment);
  const char* cwd = options.working_directory.empty() ? nullptr : options.working_directory.c_str();

  std::lock_guard<std::mutex> lock(g_spawn_mutex);
  StreamPlan plans[3];
  const StdStream modes[3] = {options.std_in, options.std_out, options.std_err};
  const DWORD ids[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < 3; ++i) {
    if (!PlanStream(modes[i], ids[i], &plans[i], &why)) {
      for (int j = 0; j < i; ++j) ClosePlan(plans[j], true);
      return nullptr;
    }
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = plans[0].child;
  startup.hStdOutput = plans[1].child;
  startup.hStdError = plans[2].child;
  PROCESS_INFORMATION info{};
  const BOOL started = CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0,
                                      environment.data(), cwd, &startup, &info);
  const DWORD start_error = GetLastError();
  for (auto& plan : plans) ClosePlan(plan, !started);
  if (!started) {
    why = "cannot start " + options.program;
    if (cwd) why.append(" in ").append(cwd);
    why.append(": ").append(win32::ErrorText(start_error));
    return nullptr;
  }
  return std::make_unique<Win32Process>(info, plans[0].parent, plans[1].parent, plans[2].parent,
                                        options.kill_on_destroy);
}

}  // namespace platform

// Child processes: start one with arguments, a working directory and extra
// environment, talk to its standard streams, wait for it with a time-out,
// read how it ended, stop it.
//
// Used by the manager simulator to start hosts and by the integration tests.
// Nothing here throws; failures are answered by the return values described
// with each call.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// What a child's standard stream is connected to.
enum class StdStream {
  kInherit,  // this process's own stream
  kPipe,     // a pipe this process reads (stdout, stderr) or writes (stdin)
  kNull,     // the null device
};

struct ProcessOptions {
  // The program: a path, or a bare name looked up in PATH.
  std::string program;
  // Arguments after the program name (argv[1] onwards).
  std::vector<std::string> args;
  // The child's current directory; empty keeps this process's.
  std::string working_directory;
  // Variables added to (or replacing those of) this process's environment.
  std::vector<std::pair<std::string, std::string>> environment;
  StdStream std_in = StdStream::kInherit;
  StdStream std_out = StdStream::kInherit;
  StdStream std_err = StdStream::kInherit;
  // When true (the default) destroying the Process object kills a child that
  // still runs and reaps it, so that no test leaves a process behind.
  bool kill_on_destroy = true;
};

// How a child ended: an exit code, or the signal that ended it.
struct ExitStatus {
  bool exited = false;  // true: exit_code holds the code; false: signal holds the signal
  int exit_code = 0;
  int signal = 0;
  bool operator==(const ExitStatus&) const = default;
};

class Process {
 public:
  // Starts the child. Answers null, and a reason in *error when error is not
  // null, when the program cannot be found or run, the working directory
  // does not exist, or no process can be created.
  static std::unique_ptr<Process> Start(const ProcessOptions& options,
                                        std::string* error = nullptr);

  virtual ~Process() = default;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  virtual uint32_t pid() const = 0;

  // Waits up to timeout_ms (a negative value waits for ever) for the child
  // to end. Answers its status, or nothing when it still runs at the end of
  // the wait. Once the child ended, every call answers the same status.
  virtual std::optional<ExitStatus> Wait(int timeout_ms) = 0;

  // Asks the child to stop (SIGTERM). Answers false when it already ended.
  virtual bool Terminate() = 0;
  // Asks the child to stop as on Ctrl-C (SIGINT). Answers false when it
  // already ended.
  virtual bool Interrupt() = 0;
  // Ends the child at once (SIGKILL). Answers false when it already ended.
  virtual bool Kill() = 0;

  // Reads one line (without its '\n') from the child's stdout or stderr
  // pipe, waiting up to timeout_ms (negative: for ever). Answers false on a
  // time-out, at the end of the stream, or when that stream is not a pipe.
  // A last line without '\n' is answered at the end of the stream.
  virtual bool ReadStdoutLine(std::string* line, int timeout_ms) = 0;
  virtual bool ReadStderrLine(std::string* line, int timeout_ms) = 0;

  // Writes to the child's stdin pipe (blocking until written). Answers false
  // when stdin is not a pipe or the child closed it.
  virtual bool WriteStdin(std::string_view data) = 0;
  // Closes the stdin pipe: the child reads end-of-file.
  virtual void CloseStdin() = 0;

 protected:
  Process() = default;
};

}  // namespace platform

// Child processes: arguments, folder, environment, streams, waits with a
// time-out, how they ended, and start failures.
#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace platform {
namespace {

std::unique_ptr<Process> Shell(const std::string& script, ProcessOptions options = {}) {
  options.program = "sh";
  options.args.insert(options.args.begin(), {"-c", script, "sh"});
  std::string error;
  auto process = Process::Start(options, &error);
  EXPECT_TRUE(process) << error;
  return process;
}

TEST(Process, PassesArgumentsFolderAndEnvironmentAndReportsTheExitCode) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("proc-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  ProcessOptions options;
  options.args = {"two words", ""};
  options.working_directory = folder.string();
  options.environment = {{"PROCESS_TEST_VAR", "x=y"}, {"HOME", "/nowhere"}};
  options.std_out = StdStream::kPipe;
  options.std_err = StdStream::kPipe;
  auto child = Shell(R"sh(printf '%s|%s|%s|%s|%s\n' "$1" "$2" "$(pwd)" "$PROCESS_TEST_VAR" "$HOME";
                        printf 'no newline' >&2; exit 7)sh",
                     options);
  ASSERT_TRUE(child);
  std::string line;
  ASSERT_TRUE(child->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line, "two words||" + std::filesystem::canonical(folder).string() + "|x=y|/nowhere");
  EXPECT_FALSE(child->ReadStdoutLine(&line, 20000)) << "end of stream";
  ASSERT_TRUE(child->ReadStderrLine(&line, 20000));
  EXPECT_EQ(line, "no newline");
  const auto status = child->Wait(-1);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, (ExitStatus{.exited = true, .exit_code = 7}));
  EXPECT_EQ(child->Wait(0), status) << "the status is kept";
  EXPECT_FALSE(child->Kill()) << "an ended child is never signalled";
  std::filesystem::remove_all(folder);
}

TEST(Process, WaitTimesOutThenKillAndTerminateEndTheChild) {
  auto sleeper = Shell("exec sleep 60");
  ASSERT_TRUE(sleeper);
  EXPECT_FALSE(sleeper->Wait(50).has_value());
  EXPECT_TRUE(sleeper->Kill());
  EXPECT_EQ(sleeper->Wait(-1), (ExitStatus{.exited = false, .signal = SIGKILL}));

  // The stop signals reach the child even when the starting thread blocks
  // them (the host takes them on a thread of its own).
  sigset_t stop, previous;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, &previous);
  auto terminated = Shell("exec sleep 60");
  auto interrupted = Shell("exec sleep 60");
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  ASSERT_TRUE(terminated && interrupted);
  EXPECT_TRUE(terminated->Terminate());
  EXPECT_TRUE(interrupted->Interrupt());
  EXPECT_EQ(terminated->Wait(20000), (ExitStatus{.exited = false, .signal = SIGTERM}));
  EXPECT_EQ(interrupted->Wait(20000), (ExitStatus{.exited = false, .signal = SIGINT}));
}

TEST(Process, StdinPipeAndKillOnDestroy) {
  ProcessOptions options;
  options.std_in = StdStream::kPipe;
  options.std_out = StdStream::kPipe;
  auto cat = Shell("exec cat", options);
  ASSERT_TRUE(cat);
  ASSERT_TRUE(cat->WriteStdin("first\nsecond\n"));
  std::string line;
  ASSERT_TRUE(cat->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line, "first");
  ASSERT_TRUE(cat->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line, "second");
  EXPECT_FALSE(cat->ReadStdoutLine(&line, 30)) << "nothing more yet";
  cat->CloseStdin();
  EXPECT_EQ(cat->Wait(20000), (ExitStatus{.exited = true, .exit_code = 0}));
  EXPECT_FALSE(cat->WriteStdin("late")) << "stdin is closed";
  EXPECT_FALSE(cat->ReadStderrLine(&line, 0)) << "stderr is not a pipe";

  auto orphan = Shell("exec sleep 60");
  ASSERT_TRUE(orphan);
  const pid_t pid = static_cast<pid_t>(orphan->pid());
  orphan.reset();
  // Killed and reaped: the pid names no process of ours any more.
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

TEST(Process, StartFailuresAreAnsweredWithAReason) {
  std::string error;
  ProcessOptions missing;
  missing.program = "no-such-program-for-process-test";
  EXPECT_EQ(Process::Start(missing, &error), nullptr);
  EXPECT_NE(error.find("not found"), std::string::npos) << error;

  ProcessOptions not_executable;
  not_executable.program = "/etc/hostname";
  EXPECT_EQ(Process::Start(not_executable, &error), nullptr);
  EXPECT_NE(error.find("cannot start"), std::string::npos) << error;

  ProcessOptions bad_folder;
  bad_folder.program = "sh";
  bad_folder.args = {"-c", "exit 0"};
  bad_folder.working_directory = "/no/such/folder";
  EXPECT_EQ(Process::Start(bad_folder, &error), nullptr);
  EXPECT_NE(error.find("/no/such/folder"), std::string::npos) << error;
}

}  // namespace
}  // namespace platform

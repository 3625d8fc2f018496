// Child processes on every system: arguments as given, folder, environment,
// streams, waits with a time-out, how they ended, stop requests and start
// failures. The child is this program, relaunched (main below).
#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/dialog.h"
#include "platform/identity.h"
#include "support/scratch.h"
#if !defined(_WIN32)
#include <signal.h>

#include <cerrno>
#endif

namespace platform {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<Process> Child(std::vector<std::string> args, ProcessOptions options = {}) {
  options.program = ExecutablePath();
  options.args = std::move(args);
  options.std_out = StdStream::kPipe;
  std::string error;
  auto child = Process::Start(options, &error);
  EXPECT_TRUE(child) << error;
  return child;
}

TEST(Process, PassesArgumentsFolderAndEnvironmentAndReportsTheExitCode) {
  const fs::path folder = testsupport::MakeScratchFolder("proc-test-");
  const std::vector<std::string> args = {
      "plain", "two words", "", "quote\"inside", "trailing\\", "back\\\\slashes\\\"q", "tab\there"};
  ProcessOptions options;
  options.working_directory = folder.string();
  // Windows names have no case: there the second spelling replaces the first.
  options.environment = {{"PROCESS_TEST_VAR", "x=y"}, {"process_test_var", "two"}};
  options.std_err = StdStream::kPipe;
  std::vector<std::string> all = {"--report"};
  all.insert(all.end(), args.begin(), args.end());
  auto child = Child(all, options);
  ASSERT_TRUE(child);
  std::vector<std::string> lines;
  std::string line;
  while (child->ReadStdoutLine(&line, 20000)) lines.push_back(line);  // to the end of stream
  ASSERT_EQ(lines.size(), args.size() + 2);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + args.size()), args);
  EXPECT_TRUE(fs::equivalent(lines[args.size()], folder)) << lines[args.size()];
  EXPECT_EQ(lines.back(), testsupport::OnWindows() ? "two" : "x=y");
  ASSERT_TRUE(child->ReadStderrLine(&line, 20000));
  EXPECT_EQ(line, "no newline");
  const auto status = child->Wait(-1);
  EXPECT_EQ(status, (ExitStatus{.exited = true, .exit_code = 7}));
  EXPECT_EQ(child->Wait(0), status) << "the status is kept";
  EXPECT_FALSE(child->Kill()) << "an ended child is never signalled";

  // The title's command line: on Windows the one the process was started
  // with (quotes and spacing, without the program), elsewhere the arguments.
  child = Child({"--cmdline", "two words", "x"});
  ASSERT_TRUE(child && child->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line, testsupport::OnWindows() ? "--cmdline \"two words\" x" : "--cmdline two words x");
  EXPECT_EQ(child->Wait(20000), (ExitStatus{.exited = true, .exit_code = 0}));
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

// A child without stop handling is ended with the signal's number (so does
// Windows report TerminateProcess); those with their own: HostUpdate & co.
TEST(Process, StopRequestsEndAChildWithTheSignalsNumber) {
#if !defined(_WIN32)
  // The stop signals reach the child even when the starting thread blocks
  // them (the host takes them on a thread of its own).
  sigset_t stop, previous;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop, &previous);
#endif
  auto terminated = Child({"--sleep"});
  auto interrupted = Child({"--sleep"});
  auto killed = Child({"--sleep"});
#if !defined(_WIN32)
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#endif
  ASSERT_TRUE(terminated && interrupted && killed);
  EXPECT_FALSE(terminated->Wait(50).has_value());
  EXPECT_TRUE(terminated->Terminate());
  EXPECT_TRUE(interrupted->Interrupt());
  EXPECT_TRUE(killed->Kill());
  EXPECT_EQ(terminated->Wait(20000), (ExitStatus{.exited = false, .signal = 15}));
  EXPECT_EQ(interrupted->Wait(20000), (ExitStatus{.exited = false, .signal = 2}));
  EXPECT_EQ(killed->Wait(20000), (ExitStatus{.exited = false, .signal = 9}));
  EXPECT_FALSE(killed->Kill());
  EXPECT_FALSE(terminated->Terminate()) << "already ended";
}

TEST(Process, PipesCarryLinesBothWaysAndDestroyingKills) {
  ProcessOptions options;
  options.std_in = StdStream::kPipe;
  auto child = Child({"--echo"}, options);
  ASSERT_TRUE(child);
  ASSERT_TRUE(child->WriteStdin("first\nsecond\n"));
  std::string line;
  ASSERT_TRUE(child->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line, "first");
  ASSERT_TRUE(child->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line, "second");
  EXPECT_FALSE(child->ReadStdoutLine(&line, 50)) << "nothing more yet: a time-out";
  child->CloseStdin();
  EXPECT_FALSE(child->ReadStdoutLine(&line, 20000)) << "end of stream";
  EXPECT_EQ(child->Wait(20000), (ExitStatus{.exited = true, .exit_code = 0}));
  EXPECT_FALSE(child->WriteStdin("late")) << "stdin is closed";
  EXPECT_FALSE(child->ReadStderrLine(&line, 0)) << "stderr is not a pipe";

#if !defined(_WIN32)
  auto orphan = Child({"--sleep"});
  ASSERT_TRUE(orphan);
  const pid_t pid = static_cast<pid_t>(orphan->pid());
  orphan.reset();
  // Killed and reaped: the pid names no process of ours any more.
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
#endif
}

TEST(Process, StartFailuresAreAnsweredWithAReason) {
  const fs::path dir = testsupport::MakeScratchFolder("proc-fail-");
  std::ofstream(dir / "not-a-program") << "no program\n";
  struct Row {
    std::string program;
    std::string folder;
    const char* reason;
  };
  const Row rows[] = {
      {"no-such-program-for-process-test", "", "no-such-program-for-process-test"},
      {(dir / "not-a-program").string(), "", "cannot start"},
      {ExecutablePath(), (dir / "no-such-folder").string(), "no-such-folder"},
  };
  for (const Row& row : rows) {
    ProcessOptions options;
    options.program = row.program;
    options.working_directory = row.folder;
    std::string error;
    EXPECT_EQ(Process::Start(options, &error), nullptr) << row.reason;
    EXPECT_NE(error.find(row.reason), std::string::npos) << error;
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace platform

// The child: --report prints its arguments, folder and PROCESS_TEST_VAR a
// line each, "no newline" on stderr, exits with 7; --cmdline prints the
// title's command line; --echo copies stdin; --sleep has no stop handling.
int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--report") {
    for (int i = 2; i < argc; ++i) std::printf("%s\n", argv[i]);
    const char* value = std::getenv("PROCESS_TEST_VAR");
    std::printf("%s\n%s\n", std::filesystem::current_path().string().c_str(),
                value ? value : "<unset>");
    std::fprintf(stderr, "no newline");
    return 7;
  }
  if (mode == "--cmdline") {
    std::printf("%s\n",
                platform::CommandLineText(std::vector<std::string>(argv + 1, argv + argc)).c_str());
    return 0;
  }
  if (mode == "--echo") {
    char line[4096];
    while (std::fgets(line, sizeof line, stdin)) {
      std::fputs(line, stdout);
      std::fflush(stdout);
    }
    return 0;
  }
  if (mode == "--sleep") {
    std::this_thread::sleep_for(std::chrono::minutes(1));
    return 0;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// What only the Win32 backend does: child processes over CreateProcess
// (argument quoting, environment, pipes, stop requests and the status of a
// child ended by TerminateProcess) and the debugger text's code page.
#include <gtest/gtest.h>

#include <string>

#include "platform/process.h"
#include "process_memory_win32.h"
#include "win32_text.h"

namespace {

std::unique_ptr<platform::Process> Child(std::vector<std::string> args) {
  platform::ProcessOptions options;
  options.program = WIN32_CHILD_PATH;
  options.args = std::move(args);
  options.std_in = platform::StdStream::kPipe;
  options.std_out = platform::StdStream::kPipe;
  options.std_err = platform::StdStream::kNull;
  std::string why;
  auto child = platform::Process::Start(options, &why);
  EXPECT_NE(child, nullptr) << why;
  return child;
}

TEST(Win32Process, ArgumentsArriveAsGiven) {
  const std::vector<std::string> args = {
      "plain", "two words", "", "quote\"inside", "trailing\\", "back\\\\slashes\\\"q", "tab\there"};
  std::vector<std::string> all = {"args"};
  all.insert(all.end(), args.begin(), args.end());
  auto child = Child(all);
  ASSERT_NE(child, nullptr);
  for (const std::string& want : args) {
    std::string line;
    ASSERT_TRUE(child->ReadStdoutLine(&line, 20000)) << want;
    EXPECT_EQ(line, want);
  }
  std::string extra;
  EXPECT_FALSE(child->ReadStdoutLine(&extra, 20000));  // end of stream
  EXPECT_EQ(child->Wait(20000), (platform::ExitStatus{.exited = true, .exit_code = 0}));
}

// The title's command line is the one the process was started with: its
// quotes and spacing, without the program name.
TEST(Win32Process, TitleCommandLineIsTheRawOneWithoutTheProgram) {
  auto child = Child({"cmdline", "two words", "x"});
  ASSERT_NE(child, nullptr);
  std::string line;
  ASSERT_TRUE(child->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line, "cmdline \"two words\" x");
  EXPECT_EQ(child->Wait(20000), (platform::ExitStatus{.exited = true, .exit_code = 0}));
}

TEST(Win32Process, EnvironmentIsAddedAndReplaced) {
  platform::ProcessOptions options;
  options.program = WIN32_CHILD_PATH;
  options.args = {"env", "SERVERAPP_CHILD_VALUE"};
  // Windows names have no case: the second spelling replaces the first.
  options.environment = {{"SERVERAPP_CHILD_VALUE", "one"}, {"serverapp_child_value", "two"}};
  options.std_out = platform::StdStream::kPipe;
  auto child = platform::Process::Start(options);
  ASSERT_NE(child, nullptr);
  std::string line;
  ASSERT_TRUE(child->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line, "two");
  EXPECT_TRUE(child->Wait(20000).has_value());
}

TEST(Win32Process, PipesCarryLinesBothWays) {
  auto child = Child({"echo"});
  ASSERT_NE(child, nullptr);
  ASSERT_TRUE(child->WriteStdin("first\nsecond\n"));
  std::string line;
  ASSERT_TRUE(child->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line, "first");
  ASSERT_TRUE(child->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line, "second");
  EXPECT_FALSE(child->ReadStdoutLine(&line, 50));  // nothing more yet: a time-out
  child->CloseStdin();
  EXPECT_FALSE(child->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(child->Wait(20000), (platform::ExitStatus{.exited = true, .exit_code = 0}));
}

TEST(Win32Process, StopRequestsReachAListeningChild) {
  for (const bool interrupt : {false, true}) {
    auto child = Child({"listen"});
    ASSERT_NE(child, nullptr);
    std::string line;
    ASSERT_TRUE(child->ReadStdoutLine(&line, 20000));
    ASSERT_EQ(line, "listening");
    ASSERT_TRUE(interrupt ? child->Interrupt() : child->Terminate());
    // The child chose how to end: an exit code, not a forced end.
    EXPECT_EQ(child->Wait(20000),
              (platform::ExitStatus{.exited = true, .exit_code = interrupt ? 1 : 0}));
    EXPECT_FALSE(child->Terminate());  // already ended
  }
}

TEST(Win32Process, ChildWithoutStopRequestsIsEndedWithTheSignalsNumber) {
  auto terminated = Child({"sleep"});
  auto interrupted = Child({"sleep"});
  auto killed = Child({"sleep"});
  ASSERT_TRUE(terminated && interrupted && killed);
  EXPECT_FALSE(terminated->Wait(100).has_value());
  EXPECT_TRUE(terminated->Terminate());
  EXPECT_TRUE(interrupted->Interrupt());
  EXPECT_TRUE(killed->Kill());
  EXPECT_EQ(terminated->Wait(20000), (platform::ExitStatus{.exited = false, .signal = 15}));
  EXPECT_EQ(interrupted->Wait(20000), (platform::ExitStatus{.exited = false, .signal = 2}));
  EXPECT_EQ(killed->Wait(20000), (platform::ExitStatus{.exited = false, .signal = 9}));
  EXPECT_FALSE(killed->Kill());
}

TEST(Win32Process, FailuresAreReportedNotStarted) {
  platform::ProcessOptions options;
  options.program = std::string(WIN32_CHILD_PATH) + "-missing";
  std::string why;
  EXPECT_EQ(platform::Process::Start(options, &why), nullptr);
  EXPECT_NE(why.find("cannot start"), std::string::npos) << why;
  options.program = WIN32_CHILD_PATH;
  options.working_directory = "Z:\\no\\such\\folder";
  EXPECT_EQ(platform::Process::Start(options, &why), nullptr);
  EXPECT_NE(why.find("no\\such\\folder"), std::string::npos) << why;
}

TEST(Win32Text, KoreanDebuggerLineIsWrittenInCodePage949) {
  EXPECT_EQ(platform::win32::Utf8ToCodePage("MAX_REZ_COUNT 카운트 초과!!!!\n", 949),
            "MAX_REZ_COUNT \xC4\xAB\xBF\xEE\xC6\xAE \xC3\xCA\xB0\xFA!!!!\n");
  // Bytes that are not UTF-8 pass unchanged rather than being lost.
  EXPECT_EQ(platform::win32::Utf8ToCodePage("\xFF\xC4 bytes", 949), "\xFF\xC4 bytes");
  EXPECT_EQ(platform::win32::Utf8ToCodePage("", 949), "");
}

// OpenProcess asks for the reading or the writing rights and nothing more,
// and those suffice for the calls made with the handle.
TEST(Win32ProcessMemory, OpenAsksOnlyForTheRightsItsCallsNeed) {
  using platform::ProcessMemoryAccess;
  EXPECT_EQ(platform::win32::ProcessMemoryRights(ProcessMemoryAccess::kRead), 0x10u);
  EXPECT_EQ(platform::win32::ProcessMemoryRights(ProcessMemoryAccess::kWrite), 0x28u);
  volatile uint32_t value = 0x12345678;
  uint32_t got = 0;
  SIZE_T done = 0;
  HANDLE reader = OpenProcess(platform::win32::ProcessMemoryRights(ProcessMemoryAccess::kRead),
                              FALSE, GetCurrentProcessId());
  ASSERT_NE(reader, nullptr);
  EXPECT_TRUE(ReadProcessMemory(reader, const_cast<uint32_t*>(&value), &got, 4, &done));
  EXPECT_EQ(got, 0x12345678u);
  CloseHandle(reader);
  HANDLE writer = OpenProcess(platform::win32::ProcessMemoryRights(ProcessMemoryAccess::kWrite),
                              FALSE, GetCurrentProcessId());
  ASSERT_NE(writer, nullptr);
  const uint32_t fresh = 0x0BADF00D;
  EXPECT_TRUE(WriteProcessMemory(writer, const_cast<uint32_t*>(&value), &fresh, 4, &done));
  EXPECT_EQ(value, 0x0BADF00Du);
  CloseHandle(writer);
}

}  // namespace

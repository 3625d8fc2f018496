// The gsmsim executable as an operator uses it: listen, post and send
// against each other and against another program that speaks the protocol;
// and every tool's --help.
#include <gtest/gtest.h>

#include "cli_args.h"
#include "platform/process.h"
#include "platform/window.h"

namespace gsmsim {
namespace {

// ---- the executable, as an operator uses it ----

std::unique_ptr<platform::Process> Tool(std::string program, std::vector<std::string> args) {
  platform::ProcessOptions options;
  options.program = std::move(program);
  options.args = std::move(args);
  options.std_out = platform::StdStream::kPipe;
  options.std_err = platform::StdStream::kPipe;
  std::string error;
  auto process = platform::Process::Start(options, &error);
  EXPECT_TRUE(process) << error;
  return process;
}

TEST(GsmsimTool, EveryToolAnswersHelpWithItsUsageOnStdout) {
  struct Row {
    const char* program;
    std::vector<std::string> args;
    const char* usage;  // a line of the answer
  };
  const Row rows[] = {
      {GSMSIM_PATH, {"--help"}, "  gsmsim send HANDLE DWDATA (--hex HEX | --file PATH)"},
      {GSMSIM_PATH, {"run", "--help"}, "usage: gsmsim run [--rooms N] [--dist DIR]"},
      {GSMSIM_PATH, {"run", "--rooms", "2", "-h"}, "usage: gsmsim run [--rooms N] [--dist DIR]"},
      {GSMSIM_PATH, {"listen", "--help"}, "usage: gsmsim listen [--seconds N]"},
      {GSMSIM_PATH, {"post", "--help"}, "usage: gsmsim post HANDLE MSG WPARAM LPARAM"},
      {GSMSIM_PATH, {"send", "5", "--help"}, "usage: gsmsim send HANDLE DWDATA"},
      {MSZ_PATH, {"--help"}, "usage: msz build <source.txt> <out.msz>"},
      {MSZ_PATH, {"dump", "-h"}, "       msz dump <in.msz>"},
#ifdef DEVHTTP_PATH
      {DEVHTTP_PATH, {"--help"}, "usage: devhttp [--host 127.0.0.1] [--port 0]"},
#endif
  };
  for (const Row& row : rows) {
    const std::string call = std::string(row.program) + " " + row.args.back();
    auto tool = Tool(row.program, row.args);
    ASSERT_TRUE(tool) << call;
    std::string out, line;
    while (tool->ReadStdoutLine(&line, 20000)) out += line + "\n";
    EXPECT_EQ(tool->Wait(20000), (platform::ExitStatus{.exited = true, .exit_code = 0})) << call;
    EXPECT_NE(out.find(row.usage), std::string::npos) << call << ":\n" << out;
  }
}

TEST(GsmsimTool, ListenPrintsWhatPostAndSendDeliverAndStopsOnASignal) {
  auto listener = Tool(GSMSIM_PATH, {"listen"});
  ASSERT_TRUE(listener);
  std::string line;
  ASSERT_TRUE(listener->ReadStdoutLine(&line, 20000));
  const auto handle = ParseHandle(line);
  ASSERT_TRUE(handle) << line;
  EXPECT_EQ(platform::GetWindowProcessId(*handle), listener->pid());

  auto post = Tool(GSMSIM_PATH, {"post", line, "0x440", "0x00030005", "-1"});
  EXPECT_EQ(post->Wait(20000), (platform::ExitStatus{.exited = true, .exit_code = 0}));
  ASSERT_TRUE(listener->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line, R"({"kind":"post","msg":1088,"wParam":196613,"lParam":-1,"dwData":0,"data":""})");

  auto send = Tool(GSMSIM_PATH, {"send", std::to_string(*handle), "21", "--hex", "0aff"});
  std::string answer;
  ASSERT_TRUE(send->ReadStdoutLine(&answer, 20000));
  EXPECT_EQ(answer, "1");
  EXPECT_EQ(send->Wait(20000), (platform::ExitStatus{.exited = true, .exit_code = 0}));
  ASSERT_TRUE(listener->ReadStdoutLine(&line, 20000));
  // wParam is the sending tool's own window, unknown here.
  EXPECT_EQ(line.rfind(R"({"kind":"send","msg":74,"wParam":)", 0), 0u) << line;
  EXPECT_NE(line.find(R"(,"lParam":0,"dwData":21,"data":"0AFF"})"), std::string::npos) << line;

  // Another program speaking the protocol directly.
  const std::byte payload[3] = {std::byte{1}, std::byte{2}, std::byte{3}};
  EXPECT_EQ(platform::SendCopyData(*handle, 77, 0x440, payload), 1);
  ASSERT_TRUE(listener->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line,
            R"({"kind":"send","msg":74,"wParam":77,"lParam":0,"dwData":1088,"data":"010203"})");

  ASSERT_TRUE(listener->Terminate());
  EXPECT_EQ(listener->Wait(20000), (platform::ExitStatus{.exited = true, .exit_code = 0}));
  EXPECT_FALSE(platform::IsWindow(*handle));
}

TEST(GsmsimTool, ListenEndsOnInterruptOrAfterItsSeconds) {
  auto timed = Tool(GSMSIM_PATH, {"listen", "--seconds", "1"});
  auto interrupted = Tool(GSMSIM_PATH, {"listen"});
  ASSERT_TRUE(timed && interrupted);
  std::string line;
  ASSERT_TRUE(interrupted->ReadStdoutLine(&line, 20000));
  ASSERT_TRUE(interrupted->Interrupt());
  EXPECT_EQ(interrupted->Wait(20000), (platform::ExitStatus{.exited = true, .exit_code = 0}));
  EXPECT_EQ(timed->Wait(20000), (platform::ExitStatus{.exited = true, .exit_code = 0}));
}

}  // namespace
}  // namespace gsmsim

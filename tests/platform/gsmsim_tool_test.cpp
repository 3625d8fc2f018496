// The gsmsim executable as an operator uses it: listen, post and send
// against each other and against another program that speaks the protocol.
#include <gtest/gtest.h>

#include "cli_args.h"
#include "platform/process.h"
#include "platform/window.h"

namespace gsmsim {
namespace {

// ---- the executable, as an operator uses it ----

std::unique_ptr<platform::Process> Gsmsim(std::vector<std::string> args) {
  platform::ProcessOptions options;
  options.program = GSMSIM_PATH;
  options.args = std::move(args);
  options.std_out = platform::StdStream::kPipe;
  options.std_err = platform::StdStream::kPipe;
  std::string error;
  auto process = platform::Process::Start(options, &error);
  EXPECT_TRUE(process) << error;
  return process;
}

TEST(GsmsimTool, ListenPrintsWhatPostAndSendDeliverAndStopsOnASignal) {
  auto listener = Gsmsim({"listen"});
  ASSERT_TRUE(listener);
  std::string line;
  ASSERT_TRUE(listener->ReadStdoutLine(&line, 20000));
  const auto handle = ParseHandle(line);
  ASSERT_TRUE(handle) << line;
  EXPECT_EQ(platform::GetWindowProcessId(*handle), listener->pid());

  auto post = Gsmsim({"post", line, "0x440", "0x00030005", "-1"});
  EXPECT_EQ(post->Wait(20000), (platform::ExitStatus{.exited = true, .exit_code = 0}));
  ASSERT_TRUE(listener->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line, R"({"kind":"post","msg":1088,"wParam":196613,"lParam":-1,"dwData":0,"data":""})");

  auto send = Gsmsim({"send", std::to_string(*handle), "21", "--hex", "0aff"});
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
  auto timed = Gsmsim({"listen", "--seconds", "1"});
  auto interrupted = Gsmsim({"listen"});
  ASSERT_TRUE(timed && interrupted);
  std::string line;
  ASSERT_TRUE(interrupted->ReadStdoutLine(&line, 20000));
  ASSERT_TRUE(interrupted->Interrupt());
  EXPECT_EQ(interrupted->Wait(20000), (platform::ExitStatus{.exited = true, .exit_code = 0}));
  EXPECT_EQ(timed->Wait(20000), (platform::ExitStatus{.exited = true, .exit_code = 0}));
}

}  // namespace
}  // namespace gsmsim

// gsmsim's commands: values and command lines refused in process, posts and
// sends to a window that is gone; then the executable as an operator uses it:
// listen, post and send against each other and against another program that
// speaks the protocol.
#include <gtest/gtest.h>

#include <sstream>

#include "cli_args.h"
#include "commands.h"
#include "platform/process.h"
#include "platform/window.h"

namespace gsmsim {
namespace {

TEST(GsmsimArgs, NumbersAndPayloadsAreHexOrDecimalWithinTheirRange) {
  EXPECT_EQ(ParseUnsigned("0XfFfF"), 0xFFFFu);
  EXPECT_EQ(ParseUnsigned("18446744073709551615"), UINT64_MAX);
  for (const char* bad : {"", "0x", "-1", "+1", " 1", "1 ", "12a", "0x1g", "18446744073709551616",
                          "0x10000000000000000", "1e3"}) {
    EXPECT_FALSE(ParseUnsigned(bad)) << bad;
  }
  EXPECT_FALSE(ParseUnsigned("4294967296", UINT32_MAX));
  EXPECT_EQ(ParseUnsigned("4294967295", UINT32_MAX), UINT32_MAX);

  EXPECT_EQ(ParseSigned("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(ParseSigned("0xFFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(ParseSigned("9223372036854775807"), INT64_MAX);
  for (const char* bad : {"9223372036854775808", "-9223372036854775809", "-", "--1", "-0x1"}) {
    EXPECT_FALSE(ParseSigned(bad)) << bad;
  }

  EXPECT_EQ(ParseHandle("2147483647"), 2147483647u);
  EXPECT_FALSE(ParseHandle("0"));
  EXPECT_FALSE(ParseHandle("2147483648"));

  EXPECT_EQ(ParseHex(""), std::vector<std::byte>{});
  EXPECT_EQ(ParseHex("aBFf"), (std::vector<std::byte>{std::byte{0xAB}, std::byte{0xFF}}));
  for (const char* bad : {"0", "abc", "0g", "0x00", "00 11"}) EXPECT_FALSE(ParseHex(bad)) << bad;
}

int RunGsmsim(std::vector<std::string> args, std::string* out = nullptr,
              std::string* err = nullptr) {
  std::ostringstream o, e;
  CommandIo io{o, e};
  const int status = GsmsimMain(args, io);
  if (out) *out = o.str();
  if (err) *err = e.str();
  return status;
}

TEST(GsmsimCommands, BadCommandLinesAreRefusedWithAReason) {
  std::string err;
  EXPECT_EQ(RunGsmsim({}, nullptr, &err), kExitUsage);
  EXPECT_NE(err.find("gsmsim send HANDLE DWDATA"), std::string::npos);
  EXPECT_EQ(RunGsmsim({"dance"}, nullptr, &err), kExitUsage);
  EXPECT_NE(err.find("unknown command \"dance\""), std::string::npos);
  EXPECT_EQ(RunGsmsim({"post", "0", "1", "2", "3"}, nullptr, &err), kExitUsage);
  EXPECT_NE(err.find("bad HANDLE"), std::string::npos);
  EXPECT_EQ(RunGsmsim({"post", "5", "0x100000000", "2", "3"}, nullptr, &err), kExitUsage);
  EXPECT_NE(err.find("bad MSG"), std::string::npos);
  EXPECT_EQ(RunGsmsim({"post", "5", "1", "2"}, nullptr, &err), kExitUsage);
  EXPECT_EQ(RunGsmsim({"send", "5", "1", "--hex", "abc"}, nullptr, &err), kExitUsage);
  EXPECT_NE(err.find("pairs of hex digits"), std::string::npos);
  EXPECT_EQ(RunGsmsim({"send", "5", "1", "--file", "/no/such/file"}, nullptr, &err), kExitUsage);
  EXPECT_NE(err.find("cannot open /no/such/file"), std::string::npos);
  EXPECT_EQ(RunGsmsim({"send", "5", "1", "--text", "x"}, nullptr, &err), kExitUsage);
  EXPECT_EQ(RunGsmsim({"listen", "--seconds", "soon"}, nullptr, &err), kExitUsage);
  EXPECT_EQ(RunGsmsim({"listen", "--forever"}, nullptr, &err), kExitUsage);
}

TEST(GsmsimCommands, PostAndSendToAMissingWindowFail) {
  // A handle of a window that existed and is gone, so certainly free.
  platform::WindowHandler handler;
  auto window = platform::Window::Create(handler);
  ASSERT_TRUE(window);
  const std::string gone = std::to_string(window->handle());
  window.reset();
  std::string out, err;
  EXPECT_EQ(RunGsmsim({"post", gone, "0x440", "1", "2"}, &out, &err), kExitFailed);
  EXPECT_NE(err.find("no such window"), std::string::npos) << err;
  EXPECT_EQ(RunGsmsim({"send", gone, "1", "--hex", "00"}, &out, &err), kExitFailed);
  EXPECT_EQ(out, "0\n");
  EXPECT_NE(err.find("no answer"), std::string::npos) << err;
  EXPECT_EQ(RunGsmsim({"post", "5", "0x4A", "1", "2"}, &out, &err), kExitFailed);
}

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

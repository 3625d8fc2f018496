// gsmsim's commands in process: value parsing, refused command lines, and
// posts and sends to a window that is gone.
#include <gtest/gtest.h>

#include <sstream>

#include "cli_args.h"
#include "commands.h"
#include "platform/process.h"
#include "platform/window.h"

namespace gsmsim {
namespace {

TEST(GsmsimArgs, NumbersAndPayloadsAreHexOrDecimalWithinTheirRange) {
  EXPECT_EQ(ParseUnsigned("0"), 0u);
  EXPECT_EQ(ParseUnsigned("1088"), 1088u);
  EXPECT_EQ(ParseUnsigned("0x440"), 0x440u);
  EXPECT_EQ(ParseUnsigned("0XfFfF"), 0xFFFFu);
  EXPECT_EQ(ParseUnsigned("18446744073709551615"), UINT64_MAX);
  for (const char* bad : {"", "0x", "-1", "+1", " 1", "1 ", "12a", "0x1g", "18446744073709551616",
                          "0x10000000000000000", "1e3"}) {
    EXPECT_FALSE(ParseUnsigned(bad)) << bad;
  }
  EXPECT_FALSE(ParseUnsigned("4294967296", UINT32_MAX));
  EXPECT_EQ(ParseUnsigned("4294967295", UINT32_MAX), UINT32_MAX);

  EXPECT_EQ(ParseSigned("-1"), -1);
  EXPECT_EQ(ParseSigned("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(ParseSigned("0xFFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(ParseSigned("9223372036854775807"), INT64_MAX);
  for (const char* bad : {"9223372036854775808", "-9223372036854775809", "-", "--1", "-0x1"}) {
    EXPECT_FALSE(ParseSigned(bad)) << bad;
  }

  EXPECT_EQ(ParseHandle("2147483647"), 2147483647u);
  EXPECT_EQ(ParseHandle("0x1"), 1u);
  EXPECT_FALSE(ParseHandle("0"));
  EXPECT_FALSE(ParseHandle("2147483648"));

  // Payloads are pairs of hex digits. (The JSON lines of what arrives are
  // checked by GsmsimTool.ListenPrintsWhatPostAndSendDeliverAndStopsOnASignal.)
  EXPECT_EQ(ParseHex(""), std::vector<std::byte>{});
  EXPECT_EQ(ParseHex("00aBFf"),
            (std::vector<std::byte>{std::byte{0}, std::byte{0xAB}, std::byte{0xFF}}));
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

}  // namespace
}  // namespace gsmsim

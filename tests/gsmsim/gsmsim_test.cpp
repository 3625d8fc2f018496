// gsmsim in process (scenarios, records, ini edits, decoding, commands), then
// as an operator uses it: listen, post and send against each other and
// another program; `gsmsim run` with the real host and the reference module.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli_args.h"
#include "commands.h"
#include "decode.h"
#include "outgoing.h"
#include "platform/process.h"
#include "platform/window.h"
#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "protocol/payload.h"
#include "protocol/rewardrecords.h"
#include "room_runner.h"
#include "scenario.h"
#include "support/content_server.h"
#include "support/log_sandbox.h"
#include "support/scratch.h"

namespace gsmsim {
namespace {

namespace fs = std::filesystem;

template <typename T>
T Read(const std::vector<std::byte>& bytes, size_t offset) {
  T value{};
  std::memcpy(&value, bytes.data() + offset, sizeof(T));
  return value;
}

// The demo scenario's steps are run end to end by GsmsimRun; here the forms
// it does not use.
TEST(Scenario, StepsTheDemoDoesNotUse) {
  std::string error;
  const auto s = ParseScenario(
      "# comment\n\n  load-map -1 255 0  \r\npost SPECTATOR_RECOMMEND_ROOM_SELECT_NTY 0x1FF\n"
      "post 3\ndisconnect address 0x1122334455667788\naddress-table Address[6][0]=4096\n"
      "send GAMESERVERMSG_USER_DISCONNECTED copy USN=1 cbData=4\nlog-serial \"A B\"\n"
      "expect 20\nexpect SERVER_READY\nroom 1\nroom all\n",
      &error);
  ASSERT_TRUE(s) << error;
  ASSERT_EQ(s->steps.size(), 11u);
  EXPECT_EQ(s->steps[0].l_param, 0x00FFFFFF);  // map -1 keeps to its 16 bits
  EXPECT_EQ(s->steps[1].msg_id, GAMESERVERMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY);
  EXPECT_EQ(s->steps[1].l_param, 0x1FF);
  EXPECT_EQ(s->steps[2].msg_id, 3);  // a wrong-direction id may be posted on purpose

  EXPECT_TRUE(s->steps[3].by_address);
  ASSERT_EQ(s->steps[3].record.bytes.size(), 8u);
  EXPECT_EQ(Read<uint64_t>(s->steps[3].record.bytes, 0), 0x1122334455667788u);
  EXPECT_TRUE(s->steps[4].by_address);
  EXPECT_EQ(Read<uint64_t>(s->steps[4].record.bytes, (6 * IPC_ROOM_MAX_USER) * 8), 4096u);
  EXPECT_EQ(s->steps[5].record.bytes.size(), 4u);  // a short USN for the host to default
  const auto& serial = s->steps[6].record.bytes;   // the text with its terminator
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(serial.data()), serial.size()),
            std::string("A B\0", 4));

  EXPECT_EQ(s->steps[7].expect_name, "UNNAMED_20");
  EXPECT_EQ(s->steps[8].expect_name, "GAMESERVERMSG_SERVER_READY");
  EXPECT_EQ(s->steps[8].wait_ms, kDefaultExpectMs);
  EXPECT_EQ(s->steps[9].room, 1);
  EXPECT_EQ(s->steps[10].room, -1);
}

TEST(Scenario, BadLinesNameTheirLineAndReason) {
  testsupport::SetEnv("GSMSIM_TEST_UNSET", nullptr);
  const std::pair<const char*, const char*> rows[] = {
      {"heartbeat\n\nfly away\n", "line 3: unknown step \"fly\""},
      {"heartbeat now", "line 1: \"heartbeat\" takes no arguments"},
      {"load-map 5 256 0", "line 1: ROUND and MATCH must be 0 to 255"},
      {"load-map 70000 1 0", "line 1: MAP must be a 16-bit value"},
      {"load-map 5 1", "line 1: usage: load-map MAP ROUND MATCH"},
      {"start-host USN=1", "line 1: \"start-host\" needs copy or address"},
      {"start-host copy Nope=1", "line 1: Nope: no field \"Nope\""},
      {"start-host copy Users[50].USN=1",
       "line 1: Users[50].USN: index 50 of \"Users\" is above its 49"},
      {"start-host copy Users.USN=1", "line 1: Users.USN: \"Users\" takes 1 index(es)"},
      {"start-host copy Users[0]=1", "line 1: Users[0]: \"Users\" needs a member (Users[i].NAME)"},
      {"start-host copy f133[x]=1", "line 1: f133[x]: bad index in \"f133[x]\""},
      {"start-host copy f0.x=1", "line 1: f0.x: unexpected \".x\" after \"f0\""},
      {"start-host copy f123=fast", "line 1: f123: \"fast\" is not a number"},
      {"start-host copy f28=1x", "line 1: f28: \"1x\" is not an integer"},
      {"start-host copy cbData=4194305", "line 1: cbData must be 0 to 4194304"},
      {"insert-character copy TeamIdx=256", "line 1: TeamIdx: 256 does not fit 8 bits"},
      {"insert-character copy TeamIdx=-129", "line 1: TeamIdx: -129 does not fit 8 bits"},
      {"insert-character copy FirstText=123456789012345678901x",
       "line 1: FirstText: text of 22 bytes does not fit 21"},
      {"insert-character copy USN", "line 1: \"USN\" is not FIELD=VALUE"},
      {"address-table Address[0][50]=1",
       "line 1: Address[0][50]: index 50 of \"Address\" is above its 49"},
      {"log-serial \"open", "line 1: unterminated quote"},
      {"log-serial ${GSMSIM_TEST_UNSET}",
       "line 1: environment variable \"GSMSIM_TEST_UNSET\" is not set"},
      {"log-serial ${GSMSIM_TEST_UNSET", "line 1: unterminated ${"},
      {"ucc-map-load 1 2 3 x address", "line 1: usage: ucc-map-load MAP ROUND MATCH PACKAGE"},
      {"send GAMESERVERMSG_LOG_SERIAL address text=x",
       "line 1: GAMESERVERMSG_LOG_SERIAL travels by copy data only"},
      {"send GAMESERVERMSG_LOG_SERIAL copy serial=1",
       "line 1: GAMESERVERMSG_LOG_SERIAL takes text=VALUE"},
      {"send GAMESERVERMSG_GAMEEND copy",
       "line 1: GAMESERVERMSG_GAMEEND is not a manager-to-host record"},
      {"expect GAMESERVERMSG_NOPE", "line 1: unknown message \"GAMESERVERMSG_NOPE\""},
      {"expect 61", "line 1: unknown message \"61\""},
      {"expect SERVER_READY within", "line 1: within needs MS (0 to 3600000)"},
      {"wait -5", "line 1: MS must be 0 to 3600000"},
      {"room 200", "line 1: room must be 0 to 199 or all"},
      {"ini ../Setting.ini LogInfo LogLevel 5",
       "line 1: FILE must be a plain file name in the room's folder"},
      {"console", "line 1: usage: console TEXT"},
  };
  for (const auto& [text, expected] : rows) {
    std::string error;
    EXPECT_FALSE(ParseScenario(text, &error)) << text;
    EXPECT_EQ(error, expected);
  }
  std::string error;
  EXPECT_FALSE(LoadScenario("/nonexistent/x.gsm", &error));
  EXPECT_EQ(error, "cannot open /nonexistent/x.gsm");
}

TEST(Scenario, SplitWordsHonoursQuotes) {
  EXPECT_EQ(SplitWords("a  \"b c\" d\"e f\"g \"q\\\"x\\\\\" \"\""),
            (std::vector<std::string>{"a", "b c", "de fg", "q\"x\\", ""}));
}

TEST(OutgoingRecord, FieldsLandAtTheRecordsOffsetsOverItsDefaults) {
  std::string error;
  const std::vector<std::string> start{"f123=1.5",
                                       "f1352[2][7].text=ABCDEFGHIJK",
                                       "f1352[0][1].f0=9",
                                       "Users[49].f78[6].second=-2",
                                       "Users[1].f134[49][15]=0xFF",
                                       "f8=-1",
                                       "f4=4294967295"};
  const auto record = BuildOutgoingRecord(GAMESERVERMSG_START_HOST, start, &error);
  ASSERT_TRUE(record) << error;
  const auto& b = record->bytes;
  EXPECT_EQ(Read<float>(b, offsetof(PROTO_START_HOST, f123)), 1.5f);
  // Entry [2][7] of 12-byte entries; its text fills all 11 bytes.
  const size_t entry = offsetof(PROTO_START_HOST, f1352) + (2 * 8 + 7) * 12;
  EXPECT_EQ(std::memcmp(b.data() + entry + 1, "ABCDEFGHIJK", 11), 0);
  EXPECT_EQ(Read<uint8_t>(b, offsetof(PROTO_START_HOST, f1352) + 12), 9);
  const size_t user49 = offsetof(PROTO_START_HOST, Users) + 49 * sizeof(PROTO_GAME_USER_INFO);
  EXPECT_EQ(Read<int32_t>(b, user49 + offsetof(PROTO_GAME_USER_INFO, f78) + 6 * 8 + 4), -2);
  EXPECT_EQ(user49 + sizeof(PROTO_GAME_USER_INFO), b.size());
  const size_t user1 = offsetof(PROTO_START_HOST, Users) + sizeof(PROTO_GAME_USER_INFO);
  EXPECT_EQ(Read<uint8_t>(b, user1 + offsetof(PROTO_GAME_USER_INFO, f134) + 49 * 16 + 15), 0xFF);
  EXPECT_EQ(Read<int32_t>(b, offsetof(PROTO_START_HOST, f8)), -1);
  EXPECT_EQ(Read<uint32_t>(b, offsetof(PROTO_START_HOST, f4)), 0xFFFFFFFFu);

  // Defaults stay where nothing was set: the disconnect USN is all ones;
  // cbData pads with zeros as well as it cuts.
  const auto padded = BuildOutgoingRecord(GAMESERVERMSG_USER_DISCONNECTED,
                                          std::vector<std::string>{"cbData=10"}, &error);
  ASSERT_TRUE(padded) << error;
  EXPECT_EQ(padded->bytes.size(), 10u);
  EXPECT_EQ(Read<uint64_t>(padded->bytes, 0), ~uint64_t{0});
  EXPECT_EQ(Read<uint16_t>(padded->bytes, 8), 0);
}

TEST(IniEdit, ReplacesAddsAndCreatesKeysAndSections) {
  const std::string text = "; head\n[A]\nk=4\n; k=9 stays a comment\n\n[B]\n";
  EXPECT_EQ(SetIniValue(text, "a", "K", "5"),
            "; head\r\n[A]\r\nK=5\r\n; k=9 stays a comment\r\n\r\n[B]\r\n");
  EXPECT_EQ(SetIniValue(text, "A", "new", "1"),
            "; head\r\n[A]\r\nk=4\r\n; k=9 stays a comment\r\nnew=1\r\n\r\n[B]\r\n");
  EXPECT_EQ(SetIniValue("", "Module", "PreparingUpdates", "1"),
            "[Module]\r\nPreparingUpdates=1\r\n");
}

ReceivedMessage Send(const proto::CopyDataPayload& payload) {
  ReceivedMessage m;
  m.kind = ReceivedMessage::Kind::kSend;
  m.msg = platform::kWmCopyData;
  m.dw_data = payload.msgID;
  m.data.resize(payload.bytes.size());
  std::memcpy(m.data.data(), payload.bytes.data(), payload.bytes.size());
  return m;
}

std::string Field(const DecodedMessage& d, std::string_view name) {
  const DecodedField* f = d.Find(name);
  return f ? f->json : "<none>";
}

// The answers of the demo are decoded end to end by GsmsimRun; here what it
// does not produce.
TEST(Decode, OddPayloadsFromTheHostAreBoundedAndNoted) {
  // Counted entries: the count, at most the capacity.
  PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT gacha;
  gacha.Count = 2;
  gacha.Entries[1].Value64 = 64;
  gacha.Entries[1].Value32 = 32;
  auto d = DecodeMessage(Send(proto::MakeRecordPayload(0, gacha)));
  EXPECT_EQ(Field(d, "Entries"), "[{\"Value64\":0,\"Value32\":0},{\"Value64\":64,\"Value32\":32}]");
  gacha.Count = 4000000000u;
  d = DecodeMessage(Send(proto::MakeRecordPayload(0, gacha)));
  const std::string kept = Field(d, "Entries");
  EXPECT_EQ(std::count(kept.begin(), kept.end(), '{'), 10);

  // A short record: decoded over the defaults, and said so.
  PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY nty;
  nty.USN = 77;
  auto payload = proto::MakeRecordPayload(1, nty);
  payload.bytes.resize(6);
  d = DecodeMessage(Send(payload));
  EXPECT_EQ(d.problem, "cbData 6, expected 23");
  EXPECT_EQ(Field(d, "f0"), "4294967295");  // payload bytes 2..5 are the record's f0 default
  EXPECT_EQ(Field(d, "USN"), "18446744073709551615");
  payload.bytes.resize(1);
  d = DecodeMessage(Send(payload));
  EXPECT_FALSE(d.tIndex.has_value());
  EXPECT_TRUE(d.fields.empty());

  // A manager-to-host id in a send to the manager: bytes, noted.
  d = DecodeMessage(Send(proto::CopyDataPayload{GAMESERVERMSG_START_HOST, {1, 2, 3}}));
  EXPECT_EQ(Field(d, "bytes"), "[1,2,3]");
  EXPECT_EQ(d.problem, "not a host-to-manager record");
}

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

struct Ran {
  int status;
  std::string out, err;
};

Ran RunGsmsim(std::vector<std::string> args) {
  std::ostringstream out, err;
  CommandIo io{out, err};
  const int status = GsmsimMain(args, io);
  return {status, out.str(), err.str()};
}

TEST(GsmsimCommands, BadCommandLinesAreRefusedWithAReason) {
  const std::pair<std::vector<std::string>, const char*> rows[] = {
      {{}, "gsmsim send HANDLE DWDATA"},
      {{"dance"}, "unknown command \"dance\""},
      {{"post", "0", "1", "2", "3"}, "bad HANDLE"},
      {{"post", "5", "0x100000000", "2", "3"}, "bad MSG"},
      {{"post", "5", "1", "2"}, "expected HANDLE MSG WPARAM LPARAM"},
      {{"send", "5", "1", "--hex", "abc"}, "pairs of hex digits"},
      {{"send", "5", "1", "--file", "/no/such/file"}, "cannot open /no/such/file"},
      {{"send", "5", "1", "--text", "x"}, "expected HANDLE DWDATA (--hex HEX | --file PATH)"},
      {{"listen", "--seconds", "soon"}, "--seconds needs a number of seconds"},
      {{"listen", "--forever"}, "expected [--seconds N]"},
  };
  for (const auto& [args, reason] : rows) {
    const Ran ran = RunGsmsim(args);
    EXPECT_EQ(ran.status, kExitUsage) << reason;
    EXPECT_NE(ran.err.find(reason), std::string::npos) << ran.err;
  }
}

TEST(GsmsimCommands, PostAndSendToAMissingWindowFail) {
  // A window that existed and is gone: its handle is certainly free.
  platform::WindowHandler handler;
  auto window = platform::Window::Create(handler);
  ASSERT_TRUE(window);
  const std::string gone = std::to_string(window->handle());
  window.reset();
  Ran ran = RunGsmsim({"post", gone, "0x440", "1", "2"});
  EXPECT_EQ(ran.status, kExitFailed);
  EXPECT_NE(ran.err.find("no such window"), std::string::npos) << ran.err;
  ran = RunGsmsim({"send", gone, "1", "--hex", "00"});
  EXPECT_EQ(ran.status, kExitFailed);
  EXPECT_EQ(ran.out, "0\n");
  EXPECT_NE(ran.err.find("no answer"), std::string::npos) << ran.err;
  EXPECT_EQ(RunGsmsim({"post", "5", "0x4A", "1", "2"}).status, kExitFailed);
}

std::unique_ptr<platform::Process> Gsmsim(
    std::vector<std::string> args, std::vector<std::pair<std::string, std::string>> env = {}) {
  platform::ProcessOptions options;
  options.program = GSMSIM_PATH;
  options.args = std::move(args);
  options.environment = std::move(env);
  options.std_in = platform::StdStream::kNull;
  options.std_out = platform::StdStream::kPipe;
  options.std_err = platform::StdStream::kPipe;
  std::string error;
  auto process = platform::Process::Start(options, &error);
  EXPECT_TRUE(process) << error;
  return process;
}

TEST(GsmsimTool, ListenPrintsWhatPostAndSendDeliverAndEndsOnASignalOrItsTime) {
  auto timed = Gsmsim({"listen", "--seconds", "1"});
  auto interrupted = Gsmsim({"listen"});
  auto listener = Gsmsim({"listen"});
  ASSERT_TRUE(timed && interrupted && listener);
  const platform::ExitStatus ok{.exited = true, .exit_code = 0};
  std::string line;
  ASSERT_TRUE(listener->ReadStdoutLine(&line, 20000));
  const auto handle = ParseHandle(line);
  ASSERT_TRUE(handle) << line;
  EXPECT_EQ(platform::GetWindowProcessId(*handle), listener->pid());

  auto post = Gsmsim({"post", line, "0x440", "0x00030005", "-1"});
  EXPECT_EQ(post->Wait(20000), ok);
  ASSERT_TRUE(listener->ReadStdoutLine(&line, 20000));
  EXPECT_EQ(line, R"({"kind":"post","msg":1088,"wParam":196613,"lParam":-1,"dwData":0,"data":""})");

  auto send = Gsmsim({"send", std::to_string(*handle), "21", "--hex", "0aff"});
  std::string answer;
  ASSERT_TRUE(send->ReadStdoutLine(&answer, 20000));
  EXPECT_EQ(answer, "1");
  EXPECT_EQ(send->Wait(20000), ok);
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
  EXPECT_EQ(listener->Wait(20000), ok);
  EXPECT_FALSE(platform::IsWindow(*handle));
  ASSERT_TRUE(interrupted->ReadStdoutLine(&line, 20000));
  ASSERT_TRUE(interrupted->Interrupt());
  EXPECT_EQ(interrupted->Wait(20000), ok);
  EXPECT_EQ(timed->Wait(20000), ok);
}

struct RunResult {
  int exit_code = -1000;
  std::vector<std::string> lines;  // stdout
  std::string all;                 // stdout as one text, for messages
  std::string err;

  size_t Count(const std::string& a, const std::string& b = "") const {
    return std::ranges::count_if(lines, [&](const std::string& line) {
      return line.find(a) != std::string::npos && line.find(b) != std::string::npos;
    });
  }
};

class GsmsimRun : public ::testing::Test {
 protected:
  RunResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"run", "--json", "--dist", SERVERAPP_DIST_DIR, "--work",
                               (root_ / "rooms").string()});
    env_.emplace_back("SERVERAPP_LOG_BASE", sandbox_.LogBase().string());
    auto process = Gsmsim(args, env_);
    RunResult result;
    if (!process) return result;
    std::string line;
    while (process->ReadStdoutLine(&line, 90000)) {
      result.lines.push_back(line);
      result.all += line + "\n";
    }
    while (process->ReadStderrLine(&line, 1000)) result.err += line + "\n";
    const auto status = process->Wait(10000);
    if (status && status->exited) result.exit_code = status->exit_code;
    return result;
  }

  testsupport::LogSandbox sandbox_{"gsmsimrun-"};
  const fs::path root_ = sandbox_.dir();
  std::vector<std::pair<std::string, std::string>> env_;
};

TEST_F(GsmsimRun, DemoHostsARoomEndToEnd) {
  const RunResult r = Run({"--rooms", "1", "--scenario", "demo", "--heartbeat", "0"});
  EXPECT_EQ(r.exit_code, 0) << r.all << r.err;

  // Every expectation held (the demo's own expect lines check each answer's
  // fields); the answers arrived once each, in JSON.
  EXPECT_EQ(r.Count("\"event\":\"expect\"", "\"ok\":false"), 0u) << r.all;
  EXPECT_GE(r.Count("\"event\":\"expect\"", "\"ok\":true"), 12u) << r.all;
  EXPECT_EQ(r.Count("\"name\":\"GAMESERVERMSG_REPORT_HWND\""), 1u) << r.all;
  EXPECT_EQ(r.Count("\"name\":\"GAMESERVERMSG_ADDCLIENT\""), 3u) << r.all;
  EXPECT_EQ(r.Count("\"name\":\"UNNAMED_20\""), 1u) << r.all;
  // The terminate step ended the host the normal way.
  EXPECT_EQ(r.Count("\"event\":\"exit\"", "\"code\":1,\"ok\":true"), 1u) << r.all;
}

// The reference module's switches (modules/reference/README.md) shape what
// the room answers; test teams rely on them to stage failures.
TEST_F(GsmsimRun, ModuleSwitchesShapeTheRoomsAnswers) {
  const fs::path failing = root_ / "failing.gsm", silent = root_ / "silent.gsm";
  // The first frame may be a 10 s idle one: the user waits for it.
  std::ofstream(failing)
      << "ini ReferenceModule.ini Module LoadingFailReason 5\n"
         "ini ReferenceModule.ini Module AddClientIdKind 12\n"
         "load-map -3 1 0\n"
         "expect GAMESERVERMSG_LOADING_COMPLETE tMapIndex=-3 success=0 reason=5\n"
         "insert-character copy USN=7 SlotIdx=1\n"
         "expect GAMESERVERMSG_ADDCLIENT within 15000\n";
  EXPECT_EQ(Run({"--scenario", failing.string()}).exit_code, 0);
  EXPECT_TRUE(sandbox_.Has("Recv SERVERAPPMSG_ADDCLIENT - USN RTID:7:1")) << sandbox_.Text();

  std::ofstream(silent) << "ini ReferenceModule.ini Module RoomAnswers 0\n"
                           "load-map 5 1 0\nwait 1500\n";
  fs::remove_all(root_ / "rooms");
  const RunResult r = Run({"--scenario", silent.string()});
  EXPECT_EQ(r.exit_code, 0) << r.all << r.err;
  EXPECT_EQ(r.Count("GAMESERVERMSG_LOADING_COMPLETE"), 0u) << r.all;
  EXPECT_TRUE(sandbox_.Has("GAMESERVERMSG_LOAD_MAP - tMapIndex[5]")) << sandbox_.Text();
}

TEST_F(GsmsimRun, UnmetExpectationFailsTheRunAndStopsTheRooms) {
  const fs::path scenario = root_ / "never.gsm";
  std::ofstream(scenario) << "# the host never sends a game end by itself\n"
                             "expect GAMESERVERMSG_GAMEEND within 300\n";
  const RunResult r = Run({"--rooms", "2", "--scenario", scenario.string()});
  EXPECT_EQ(r.exit_code, 1) << r.all << r.err;
  EXPECT_EQ(r.Count("\"event\":\"expect\"", "\"ok\":false,\"line\":2,\"room\":0"), 1u) << r.all;
  EXPECT_NE(r.err.find("line 2: expectation not met in room 0"), std::string::npos) << r.err;
  // Both rooms reported and were stopped cleanly (SIGTERM: exit code 1).
  EXPECT_EQ(r.Count("\"name\":\"GAMESERVERMSG_REPORT_HWND\""), 2u) << r.all;
  EXPECT_EQ(r.Count("\"event\":\"exit\"", "\"code\":1,\"ok\":true"), 2u) << r.all;
}

TEST_F(GsmsimRun, BadScenarioIsAUsageError) {
  const fs::path scenario = root_ / "bad.gsm";
  std::ofstream(scenario) << "heartbeat\nload-map 5\n";
  const RunResult r = Run({"--scenario", scenario.string()});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("bad.gsm: line 2: usage: load-map MAP ROUND MATCH"), std::string::npos)
      << r.err;
  EXPECT_TRUE(r.lines.empty());  // no host was started
}

// The content-package map load: the host downloads the package from the
// development content server, then loads the map.
TEST_F(GsmsimRun, UccScenarioLoadsAPackageFromTheContentServer) {
  testsupport::ContentServer server;
  std::string why;
  ASSERT_TRUE(server.Start(&why)) << why;
  std::ofstream(server.Root() / "demo_map.rez", std::ios::binary)
      << std::string(20000, 'p');  // above the 10240 bytes of a refused body
  env_ = {{"GSMSIM_CONTENT_URL", server.Url()}, {"GSMSIM_UCC_PACKAGE", "demo_map.rez"}};

  const RunResult r = Run({"--scenario", std::string(GSMSIM_SCENARIO_DIR) + "/ucc_map.gsm"});
  EXPECT_EQ(r.exit_code, 0) << r.all << r.err;
  EXPECT_EQ(r.Count("\"name\":\"GAMESERVERMSG_LOADING_COMPLETE\"",
                    "\"fields\":{\"tMapIndex\":7,\"success\":1}"),
            1u)
      << r.all;
  std::error_code ec;
  EXPECT_EQ(fs::file_size(root_ / "rooms" / "room0" / "rez" / "demo_map.rez", ec), 20000u)
      << ec.message();
}

}  // namespace
}  // namespace gsmsim

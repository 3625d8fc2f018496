// Scenario parsing: every step form, the errors that name their line, and
// the built-in demo.
#include "scenario.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>

#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "support/scratch.h"

namespace gsmsim {
namespace {

Scenario MustParse(std::string_view text) {
  std::string error;
  auto scenario = ParseScenario(text, &error);
  EXPECT_TRUE(scenario.has_value()) << error;
  return scenario.value_or(Scenario{});
}

std::string ParseError(std::string_view text) {
  std::string error;
  EXPECT_FALSE(ParseScenario(text, &error).has_value()) << text;
  return error;
}

TEST(Scenario, PostedStepsCarryTheirIdsAndValues) {
  const Scenario s = MustParse(
      "# comment\n\n  heartbeat  \r\nload-map 5 1 42\nload-map -1 255 0\nreset\nterminate\n"
      "post GAMESERVERMSG_ADDITIONAL_ROOM_INFO 1\npost SPECTATOR_RECOMMEND_ROOM_SELECT_NTY 0x1FF\n"
      "post 3\n");
  ASSERT_EQ(s.steps.size(), 8u);
  EXPECT_EQ(s.steps[0].msg_id, GAMESERVERMSG_HOST_HEARTBEAT);
  EXPECT_EQ(s.steps[0].line, 3);
  EXPECT_EQ(s.steps[0].text, "heartbeat");
  EXPECT_EQ(s.steps[1].msg_id, GAMESERVERMSG_LOAD_MAP);
  EXPECT_EQ(s.steps[1].l_param, 0x2A010005);
  EXPECT_EQ(s.steps[2].l_param, 0x00FFFFFF);  // map -1 keeps to its 16 bits
  EXPECT_EQ(s.steps[3].msg_id, GAMESERVERMSG_RESET_ROOM);
  EXPECT_EQ(s.steps[4].msg_id, GAMESERVERMSG_TERMINATE);
  EXPECT_EQ(s.steps[5].msg_id, GAMESERVERMSG_ADDITIONAL_ROOM_INFO);
  EXPECT_EQ(s.steps[5].l_param, 1);
  EXPECT_EQ(s.steps[6].msg_id, GAMESERVERMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY);
  EXPECT_EQ(s.steps[6].l_param, 0x1FF);
  EXPECT_EQ(s.steps[7].msg_id, 3);  // a wrong-direction id may be posted on purpose
  for (const auto& step : s.steps) EXPECT_EQ(step.kind, ScenarioStep::Kind::kPost);
  EXPECT_FALSE(s.uses_console);
}

TEST(Scenario, RecordStepsBuildTheirRecords) {
  const Scenario s = MustParse(
      "start-host address GameLogSerial=\"LOG 7\" f1648=255 Users[2].USN=77\n"
      "insert-character copy USN=1001 SlotIdx=300 FirstText=Alice\n"
      "disconnect copy 0x1122334455667788\n"
      "disconnect address 5 \n"
      "log-serial \"A B\"\n"
      "ucc-map-load 7 42 3 map_07.rez\n"
      "address-table Address[6][0]=4096\n"
      "send GAMESERVERMSG_USER_DISCONNECTED copy USN=1 cbData=4\n");
  ASSERT_EQ(s.steps.size(), 8u);

  // Where fields land in a record is OutgoingRecord's business; here each
  // form's kind, transport and message.
  EXPECT_EQ(s.steps[0].kind, ScenarioStep::Kind::kRecord);
  EXPECT_TRUE(s.steps[0].by_address);
  EXPECT_EQ(s.steps[0].record.bytes.size(), sizeof(PROTO_START_HOST));
  EXPECT_FALSE(s.steps[1].by_address);
  EXPECT_EQ(s.steps[1].msg_id, GAMESERVERMSG_INSERTCHARACTER);
  EXPECT_EQ(s.steps[1].record.bytes.size(), 4195u);
  uint64_t usn = 0;
  ASSERT_EQ(s.steps[2].record.bytes.size(), 8u);
  std::memcpy(&usn, s.steps[2].record.bytes.data(), 8);
  EXPECT_EQ(usn, 0x1122334455667788u);
  EXPECT_TRUE(s.steps[3].by_address);

  // The log serial travels as text with its terminator.
  const auto& serial = s.steps[4].record.bytes;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(serial.data()), serial.size()),
            std::string("A B\0", 4));

  const auto& ucc = s.steps[5].record.bytes;
  ASSERT_EQ(ucc.size(), sizeof(stUCCGamePlay));
  EXPECT_STREQ(reinterpret_cast<const char*>(ucc.data()) + offsetof(stUCCGamePlay, MapName),
               "map_07.rez");
  EXPECT_EQ(s.steps[5].msg_id, GAMESERVERMSG_UCC_MAP_LOAD);

  EXPECT_TRUE(s.steps[6].by_address);
  uint64_t address = 0;
  std::memcpy(&address, s.steps[6].record.bytes.data() + (6 * IPC_ROOM_MAX_USER) * 8, 8);
  EXPECT_EQ(address, 4096u);

  // cbData cuts the payload: a short USN for the host to default.
  EXPECT_EQ(s.steps[7].record.bytes.size(), 4u);
}

TEST(Scenario, ExpectWaitConsoleRoomAndIniLines) {
  const Scenario s = MustParse(
      "expect GAMESERVERMSG_LOADING_COMPLETE within 250 tMapIndex=5 success=1\n"
      "expect SERVER_READY\n"
      "expect 20\n"
      "expect UNNAMED_20 within 0\n"
      "wait 1500\n"
      "console emit SERVERAPPMSG_GAMEEND  u8@24=1\n"
      "room 1\nroom all\n"
      "ini ReferenceModule.ini Module PreparingUpdates 1\n");
  ASSERT_EQ(s.steps.size(), 8u);  // the ini line is set-up, not a step
  EXPECT_EQ(s.steps[0].expect_name, "GAMESERVERMSG_LOADING_COMPLETE");
  EXPECT_EQ(s.steps[0].wait_ms, 250u);
  ASSERT_EQ(s.steps[0].checks.size(), 2u);
  EXPECT_EQ(s.steps[0].checks[1], (std::pair<std::string, std::string>("success", "1")));
  EXPECT_EQ(s.steps[1].expect_name, "GAMESERVERMSG_SERVER_READY");
  EXPECT_EQ(s.steps[1].wait_ms, kDefaultExpectMs);
  EXPECT_EQ(s.steps[2].expect_name, "UNNAMED_20");
  EXPECT_EQ(s.steps[3].expect_name, "UNNAMED_20");
  EXPECT_EQ(s.steps[3].wait_ms, 0u);
  EXPECT_EQ(s.steps[4].wait_ms, 1500u);
  EXPECT_EQ(s.steps[5].console, "emit SERVERAPPMSG_GAMEEND u8@24=1");
  EXPECT_TRUE(s.uses_console);
  EXPECT_EQ(s.steps[6].room, 1);
  EXPECT_EQ(s.steps[7].room, -1);
  ASSERT_EQ(s.ini.size(), 1u);
  EXPECT_EQ(s.ini[0].file, "ReferenceModule.ini");
  EXPECT_EQ(s.ini[0].value, "1");
}

TEST(Scenario, BadLinesNameTheirLineAndReason) {
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
      {"insert-character copy TeamIdx=256", "line 1: TeamIdx: 256 does not fit 8 bits"},
      {"insert-character copy TeamIdx=-129", "line 1: TeamIdx: -129 does not fit 8 bits"},
      {"insert-character copy FirstText=123456789012345678901x",
       "line 1: FirstText: text of 22 bytes does not fit 21"},
      {"insert-character copy USN", "line 1: \"USN\" is not FIELD=VALUE"},
      {"log-serial \"open", "line 1: unterminated quote"},
      {"ucc-map-load 1 2 3 x address", "line 1: usage: ucc-map-load MAP ROUND MATCH PACKAGE"},
      {"send GAMESERVERMSG_LOG_SERIAL address text=x",
       "line 1: GAMESERVERMSG_LOG_SERIAL travels by copy data only"},
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
  for (const auto& [text, error] : rows) EXPECT_EQ(ParseError(text), error);
}

TEST(Scenario, VariablesComeFromTheEnvironment) {
  testsupport::SetEnv("GSMSIM_TEST_URL", "http://127.0.0.1:9/");
  testsupport::SetEnv("GSMSIM_TEST_UNSET", nullptr);
  const Scenario s = MustParse("ini UCCSetting.ini fileserverurl ServerURL ${GSMSIM_TEST_URL}\n");
  ASSERT_EQ(s.ini.size(), 1u);
  EXPECT_EQ(s.ini[0].value, "http://127.0.0.1:9/");
  EXPECT_EQ(ParseError("log-serial ${GSMSIM_TEST_UNSET}"),
            "line 1: environment variable \"GSMSIM_TEST_UNSET\" is not set");
  EXPECT_EQ(ParseError("log-serial ${GSMSIM_TEST_URL"), "line 1: unterminated ${");
}

TEST(Scenario, SplitWordsHonoursQuotes) {
  EXPECT_EQ(SplitWords("a  \"b c\" d\"e f\"g \"q\\\"x\\\\\" \"\""),
            (std::vector<std::string>{"a", "b c", "de fg", "q\"x\\", ""}));
  EXPECT_FALSE(SplitWords("\"open").has_value());
}

// The demo's steps and answers are run end to end by GsmsimRun.
TEST(Scenario, LoadScenarioTakesTheDemoOrAFile) {
  std::string error;
  EXPECT_TRUE(LoadScenario("demo", &error).has_value()) << error;
  EXPECT_FALSE(LoadScenario("/nonexistent/x.gsm", &error).has_value());
  EXPECT_EQ(error, "cannot open /nonexistent/x.gsm");
}

}  // namespace
}  // namespace gsmsim

// The catalogue's lookups and posted-value packing. The rows themselves are
// the catalogue's; what is checked here is the lookup logic.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "protocol/gameservermsg.h"
#include "protocol/postedparams.h"
#include "protocol/serverappmsg.h"

namespace {

using namespace proto;

TEST(Catalogue, LookupsByIdAndNameAgree) {
  for (uint32_t unused : {12u, 60u, uint32_t{GAMESERVERMSG_MAX}, 0x10006u}) {  // no wrap to 6
    EXPECT_EQ(GameServerMsgName(unused), nullptr) << unused;
  }
  std::set<std::string> names;
  for (const GameServerMsgInfo& info : GameServerMsgCatalogue()) {
    EXPECT_TRUE(names.insert(info.name).second) << info.name;
    EXPECT_EQ(GameServerMsgByName(info.name), info.id);
    EXPECT_EQ(FindGameServerMsg(info.id), &info);
  }
  EXPECT_FALSE(GameServerMsgByName("gameservermsg_terminate").has_value());

  // The same number names different messages in each direction, and a name
  // of the other direction is not found.
  EXPECT_STREQ(ServerAppMsgToModuleName(8), "SERVERAPPMSG_RESET");
  EXPECT_STREQ(ServerAppMsgFromModuleName(8), "SERVERAPPMSG_RESET_REQ");
  EXPECT_EQ(ServerAppMsgFromModuleName(14), nullptr);  // ignored from the module
  EXPECT_EQ(ServerAppMsgFromModuleName(255), nullptr);
  EXPECT_EQ(ServerAppMsgFromModuleByName("SERVERAPPMSG_IDLE"), 44);
  EXPECT_EQ(ServerAppMsgToModuleByName("SERVERAPPMSG_SERVER_INFO"), 39);
  EXPECT_FALSE(ServerAppMsgToModuleByName("SERVERAPPMSG_IDLE").has_value());
  EXPECT_FALSE(ServerAppMsgFromModuleByName("SERVERAPPMSG_INIT").has_value());
}

// The edges; the common values, and the wParam's edges, are checked where
// the host posts them (tests/dispatch, tests/shell, ManagerLinkPost).
TEST(PostedParams, PackingMatchesTheManagersReading) {
  EXPECT_EQ(MakeLoadingCompleteSuccess(-1), 0xFFFF0000u);
  EXPECT_EQ(LowWord(MakeLoadingCompleteFailure(7, 0)), 0xFFFF);  // still a failure
  EXPECT_EQ(LowWord(MakeLoadingCompleteFailure(7, -128)), 127);  // -1 - (-128)
  EXPECT_EQ(HighWord(MakeLoadingCompleteFailure(7, -128)), 7);
  EXPECT_EQ(UnpackLoadMap(0xFFFFFFFFFFFFFFFFull).tMapIndex, -1);
  EXPECT_EQ(MakeModuleValues(0x12345, 7), 0x00072345u);
  EXPECT_EQ(MakeHeartbeatAck(0x10003, 9), 0x00090003u);
}

}  // namespace

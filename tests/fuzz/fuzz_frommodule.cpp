// The readers of module messages over arbitrary module streams, read
// through the reference module's bit-stream as OnShellMessage does. The
// first byte picks the reader; the rest is the stream. A reader may raise
// proto::ReadError (the dispatch catches it) but must never overrun its
// record, and a count it keeps never exceeds what it declares.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ltmessage.h"
#include "protocol/frommodule.h"

using namespace proto;

namespace {

void CheckCount(const EntryCount& count) {
  if (count.kept > count.declared) std::abort();
}

void ReadOne(uint8_t which, ILTMessage_Read& msg) {
  switch (which % 24) {
    case 0:
      ReadLoadingComplete(msg);
      break;
    case 1:
      ReadAddClient(msg);
      break;
    case 2:
      ReadLoadingFailed(msg);
      break;
    case 3: {
      GAMEPROTO_SC_REMOVECLIENT r{};
      ReadRemoveClient(msg, r);
      break;
    }
    case 4: {
      GAMEPROTO_SS_GAMEEND r{};
      ReadGameEnd(msg, r);
      break;
    }
    case 5: {
      GAMEPROTO_SC_HOST_USER_STAT r{};
      ReadHostUserStat(msg, r);
      break;
    }
    case 6: {
      GAMEPROTO_SC_HOST_STAT r{};
      ReadHostStat(msg, r);
      break;
    }
    case 7: {
      GAMEPROTO_SC_SPY_CHANGE r{};
      ReadSpyChange(msg, r);
      break;
    }
    case 8: {
      PROTO_FINISHED_GAME_PREV r{};
      ReadFinishedGamePrev(msg, r);
      break;
    }
    case 9: {
      PROTO_SPEC_RECOMMENDROOM_INGAME_DATA r{};
      ReadSpecRecommendRoomIngameData(msg, r);
      break;
    }
    case 10: {
      CLANSTATREPORTDATA r{};
      ReadClanStatReport(msg, r);
      break;
    }
    case 11: {
      PROTO_BAN_USER r{};
      ReadBanUser(msg, r);
      break;
    }
    case 12: {
      PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY r{};
      ReadMapLoadingCompleteNty(msg, r);
      break;
    }
    case 13: {
      PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY r{};
      ReadMapLoadingCompleteNtyEx(msg, r);
      break;
    }
    case 14:
      ReadModuleValues(msg);
      break;
    case 15:
      ReadHeartbeatValue(msg);
      break;
    case 16: {
      PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT r{};
      CheckCount(ReadAigachaItemInsert(msg, r).count);
      break;
    }
    case 17: {
      PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ r{};
      ReadFarmingItemReq(msg, r);
      break;
    }
    case 18: {
      PROTO_AI2_BONUSROUND_REWARD_REQ r{};
      CheckCount(ReadAi2BonusRoundRewardReq(msg, r));
      break;
    }
    case 19: {
      PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ r{};
      ReadAi3BonusClearboxItem(msg, r);
      break;
    }
    case 20: {
      PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY r{};
      CheckCount(ReadAutoSideChangeTeamInfoNty(msg, r));
      break;
    }
    case 21: {
      PROTO_AI_EXTRA_REWARD_REQ r{};
      ReadAiExtraRewardReq(msg, r);
      break;
    }
    case 22: {
      PROTO_AI_BOSSTOWER_REWARD_REQ r{};
      ReadAiBosstowerRewardReq(msg, r);
      break;
    }
    default: {
      PROTO_AI_EXTRA_MIDDLE_REWARD_REQ r{};
      ReadAiExtraMiddleRewardReq(msg, r);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size - 1 > (1u << 20)) return 0;
  refmod::CLTMessageRead* msg =
      refmod::CLTMessageRead::Create(data + 1, static_cast<uint32_t>((size - 1) * 8));
  if (msg == nullptr) return 0;
  try {
    if (data[0] == 0xFF) {
      // The largest record: kept off the stack.
      static PROTO_INGAME_RESULT_REQ result;
      result = PROTO_INGAME_RESULT_REQ{};
      ReadIngameResultReq(*msg, result);
    } else {
      ReadOne(data[0], *msg);
    }
  } catch (const ReadError&) {
    // The dispatch abandons such a message.
  }
  if (msg->Tell() > msg->Size() && !msg->IsOverrun()) std::abort();
  msg->Release();
  return 0;
}

// OnShellMessage with arbitrary module streams through the reference
// module's bit-stream. Input layout and invariants: docs/fuzzing.md.
#include <cstddef>
#include <cstdint>
#include <map>

#include "fuzz_dialog_support.h"
#include "ltmessage.h"
#include "protocol/gameservermsg.h"
#include "protocol/relayrecords.h"
#include "protocol/rewardrecords.h"

using namespace fuzzdlg;

namespace {

// Each record under its own id, after the tIndex.
template <typename... Records>
std::map<uint64_t, size_t> SizesOf() {
  return {{Records::kMsgId, sizeof(int16_t) + sizeof(Records)}...};
}

// What the manager may receive by copy data from this dispatch, by dwData.
const std::map<uint64_t, size_t>& RecordSizes() {
  static const std::map<uint64_t, size_t> sizes = [] {
    std::map<uint64_t, size_t> s =
        SizesOf<GAMEPROTO_SC_REMOVECLIENT, GAMEPROTO_SS_GAMEEND, GAMEPROTO_SC_HOST_USER_STAT,
                PROTO_BAN_USER, GAMEPROTO_SC_HOST_STAT, PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT,
                PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY, GAMEPROTO_SC_SPY_CHANGE,
                PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ, PROTO_AI2_BONUSROUND_REWARD_REQ,
                PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ, PROTO_FINISHED_GAME_PREV,
                PROTO_SPEC_RECOMMENDROOM_INGAME_DATA, PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY,
                PROTO_AI_EXTRA_REWARD_REQ, PROTO_AI_BOSSTOWER_REWARD_REQ,
                PROTO_AI_EXTRA_MIDDLE_REWARD_REQ, PROTO_INGAME_RESULT_REQ>();
    // The clan report carries its own tIndex; the ack is tIndex alone.
    s[CLANSTATREPORTDATA::kMsgId] = sizeof(CLANSTATREPORTDATA);
    s[GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO_ACK] = sizeof(int16_t);
    return s;
  }();
  return sizes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size - 1 > (1u << 20)) return 0;
  Fixture& f = GetFixture();
  f.Reset();

  const uint32_t drop = data[0] & 7;
  const auto bits = static_cast<uint32_t>((size - 1) * 8);
  refmod::CLTMessageRead* msg =
      refmod::CLTMessageRead::Create(data + 1, bits >= drop ? bits - drop : 0);
  if (msg == nullptr) return 0;

  const LogMark before = LogMark::Now();
  f.dlg->OnShellMessage(msg);
  const bool overrun = msg->IsOverrun();
  Require(msg->Tell() <= msg->Size(), "read position past the message");
  msg->Release();

  const auto sends = f.TakeSends();
  Require(sends.size() <= 1, "one module message relayed more than once");
  for (const Fixture::Send& s : sends) {
    const auto it = RecordSizes().find(s.dw_data);
    Require(it != RecordSizes().end(), "a record under an id this dispatch never sends");
    Require(s.size == it->second, "a record of the wrong size reached the manager");
  }
  Require(!overrun || sends.empty() || before.Grew(),
          "a short module message relayed without a log line");
  Require(f.module.deliveries.empty(), "a module message came back to the module");
  return 0;
}

// The readers of module messages over arbitrary module streams (docs/fuzzing.md).
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "fuzz_check.h"
#include "ltmessage.h"
#include "protocol/frommodule.h"

using namespace proto;

namespace {

void CheckCount(const EntryCount& count) {
  fuzz::Require(count.kept <= count.declared, "kept more entries than declared");
}

template <typename Result>
void Run(Result (*read)(ILTMessage_Read&), ILTMessage_Read& msg) {
  read(msg);
}

// A reader into a record: a fresh one each time, its counts checked.
template <typename Result, typename Record>
void Run(Result (*read)(ILTMessage_Read&, Record&), ILTMessage_Read& msg) {
  Record record{};
  if constexpr (std::is_same_v<Result, EntryCount>) {
    CheckCount(read(msg, record));
  } else if constexpr (std::is_same_v<Result, CountAndSlot>) {
    CheckCount(read(msg, record).count);
  } else {
    read(msg, record);
  }
}

template <auto... Reads>
constexpr void (*kReadersOf[])(ILTMessage_Read&) = {
    [](ILTMessage_Read& msg) { Run(Reads, msg); }...};

// Picked by the first byte modulo their number: the corpus needs this order.
constexpr auto& kReaders =
    kReadersOf<ReadLoadingComplete, ReadAddClient, ReadLoadingFailed, ReadRemoveClient, ReadGameEnd,
               ReadHostUserStat, ReadHostStat, ReadSpyChange, ReadFinishedGamePrev,
               ReadSpecRecommendRoomIngameData, ReadClanStatReport, ReadBanUser,
               ReadMapLoadingCompleteNty, ReadMapLoadingCompleteNtyEx, ReadModuleValues,
               ReadHeartbeatValue, ReadAigachaItemInsert, ReadFarmingItemReq,
               ReadAi2BonusRoundRewardReq, ReadAi3BonusClearboxItem, ReadAutoSideChangeTeamInfoNty,
               ReadAiExtraRewardReq, ReadAiBosstowerRewardReq, ReadAiExtraMiddleRewardReq>;

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
      kReaders[data[0] % std::size(kReaders)](*msg);
    }
  } catch (const ReadError&) {
    // The dispatch abandons such a message.
  }
  fuzz::Require(msg->Tell() <= msg->Size() || msg->IsOverrun(), "read past the message");
  msg->Release();
  return 0;
}

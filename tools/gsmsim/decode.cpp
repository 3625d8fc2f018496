#include "decode.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <span>
#include <type_traits>

#include "json_text.h"
#include "platform/window.h"
#include "protocol/gameservermsg.h"
#include "protocol/payload.h"
#include "protocol/postedparams.h"
#include "protocol/relayrecords.h"
#include "protocol/rewardrecords.h"

namespace gsmsim {
namespace {

template <typename T>
std::string NumberJson(T value) {
  if constexpr (std::is_signed_v<T>) {
    return std::to_string(static_cast<long long>(value));
  } else {
    return std::to_string(static_cast<unsigned long long>(value));
  }
}

// Reads a T at a byte offset (record fields may be misaligned).
template <typename T>
T At(const unsigned char* base, size_t offset) {
  T value;
  std::memcpy(&value, base + offset, sizeof(T));
  return value;
}

// Fields of one record or entry, in record order.
class Fields {
 public:
  explicit Fields(std::vector<DecodedField>* out) : out_(out) {}

  template <typename T>
  void Num(std::string_view name, T value) {
    Add(name, NumberJson(value));
  }
  // A zero-terminated text in an array of `size` bytes; never read past it.
  void Text(std::string_view name, const unsigned char* text, size_t size) {
    Add(name, JsonString(BoundedText(text, size)));
  }
  // `count` elements of type T, cut after the last non-zero one when `trim`.
  template <typename T>
  void Array(std::string_view name, const unsigned char* base, size_t count, bool trim = true) {
    size_t shown = count;
    if (trim) {
      while (shown > 0 && At<T>(base, (shown - 1) * sizeof(T)) == T{}) --shown;
    }
    std::string json = "[";
    for (size_t i = 0; i < shown; ++i) {
      if (i > 0) json += ',';
      json += NumberJson(At<T>(base, i * sizeof(T)));
    }
    Add(name, json + "]");
  }
  void Add(std::string_view name, std::string json) {
    out_->push_back({std::string(name), std::move(json)});
  }

  static std::string BoundedText(const unsigned char* text, size_t size) {
    const void* end = std::memchr(text, 0, size);
    const size_t length =
        end ? static_cast<size_t>(static_cast<const unsigned char*>(end) - text) : size;
    return std::string(reinterpret_cast<const char*>(text), length);
  }

 private:
  std::vector<DecodedField>* out_;
};

std::string ObjectJson(const std::vector<DecodedField>& fields) {
  std::string json = "{";
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) json += ',';
    json += JsonString(fields[i].name) + ":" + fields[i].json;
  }
  return json + "}";
}

// `count` entries of type Entry starting at `offset`, each described by
// `describe(const Entry&, Fields&)`; trailing all-zero entries are left out
// when `trim`.
template <typename Entry, typename Describe>
void EntryList(Fields& out, std::string_view name, const unsigned char* base, size_t count,
               Describe describe, bool trim = false) {
  static const unsigned char kZero[sizeof(Entry)] = {};
  size_t shown = count;
  if (trim) {
    while (shown > 0 &&
           std::memcmp(base + (shown - 1) * sizeof(Entry), kZero, sizeof(Entry)) == 0) {
      --shown;
    }
  }
  std::string json = "[";
  for (size_t i = 0; i < shown; ++i) {
    Entry entry;
    std::memcpy(&entry, base + i * sizeof(Entry), sizeof(Entry));
    std::vector<DecodedField> entry_fields;
    Fields sub(&entry_fields);
    describe(entry, sub);
    if (i > 0) json += ',';
    json += ObjectJson(entry_fields);
  }
  out.Add(name, json + "]");
}

const unsigned char* Bytes(const void* record) {
  return static_cast<const unsigned char*>(record);
}

// Member helpers: the element type and count of an array member, read at
// its offset so that no reference to a packed field is ever formed.
#define GSM_NUM(f) out.Num(#f, r.f)
#define GSM_ARRAY(R, f)                                 \
  out.Array<std::remove_all_extents_t<decltype(R::f)>>( \
      #f, Bytes(&r) + offsetof(R, f),                   \
      sizeof(R::f) / sizeof(std::remove_all_extents_t<decltype(R::f)>))
#define GSM_TEXT(R, f) out.Text(#f, Bytes(&r) + offsetof(R, f), sizeof(R::f))

void Describe(const GAMEPROTO_SS_GAMEEND& r, Fields& out) {
  using R = GAMEPROTO_SS_GAMEEND;
  GSM_NUM(f24);
  GSM_NUM(f25);
  const size_t used = r.f25 < R::kSlots ? r.f25 : R::kSlots;
  out.Array<uint16_t>("f26", Bytes(&r) + offsetof(R, f26), used, false);
  GSM_NUM(f126);
  size_t names = R::kSlots;
  while (names > 0 && r.f127[names - 1][0] == 0) --names;
  std::string json = "[";
  for (size_t i = 0; i < names; ++i) {
    if (i > 0) json += ',';
    json += JsonString(Fields::BoundedText(Bytes(&r) + offsetof(R, f127) + i * 14, 14));
  }
  out.Add("f127", json + "]");
  GSM_ARRAY(R, f828);
  GSM_ARRAY(R, f928);
  GSM_ARRAY(R, f1028);
  GSM_ARRAY(R, f1128);
  GSM_ARRAY(R, f1228);
  GSM_ARRAY(R, f1580);
  GSM_ARRAY(R, f1880);
  GSM_ARRAY(R, f1980);
  GSM_NUM(f2080);
  GSM_NUM(f2084);
  GSM_NUM(f2088);
  GSM_NUM(f2092);
  GSM_NUM(f2096);
  GSM_ARRAY(R, f2104);
}

void Describe(const GAMEPROTO_SC_HOST_USER_STAT& r, Fields& out) {
  using R = GAMEPROTO_SC_HOST_USER_STAT;
  GSM_NUM(f24);
  GSM_NUM(f26);
  GSM_NUM(f28);
  GSM_NUM(f30);
  GSM_NUM(f32);
  GSM_NUM(f36);
  GSM_NUM(f40);
  GSM_NUM(f48);
  GSM_NUM(f56);
  GSM_NUM(f59);
  GSM_TEXT(R, f60);
  GSM_NUM(f76);
  GSM_NUM(f80);
  GSM_ARRAY(R, f82);
  GSM_ARRAY(R, f96);
  GSM_ARRAY(R, f122);
  GSM_NUM(f148);
  GSM_NUM(f149);
  GSM_NUM(f150);
  GSM_NUM(f152);
  GSM_NUM(f156);
  GSM_NUM(slotIndex);
}

void Describe(const CLANSTATREPORTDATA& r, Fields& out) {
  GSM_NUM(f8);
  GSM_NUM(f16);
  GSM_NUM(f24);
  GSM_NUM(f28);
  GSM_NUM(f32);
}

void Describe(const PROTO_BAN_USER& r, Fields& out) {
  GSM_NUM(BanValue);
  GSM_NUM(USN);
}

void Describe(const GAMEPROTO_SC_HOST_STAT& r, Fields& out) {
  GSM_ARRAY(GAMEPROTO_SC_HOST_STAT, data);
}

void Describe(const GAMEPROTO_SC_REMOVECLIENT& r, Fields& out) {
  GSM_NUM(f32);
  GSM_NUM(f40);
  GSM_NUM(f42);
  GSM_NUM(f44);
  GSM_NUM(f48);
  GSM_NUM(slotIndex);
}

void Describe(const PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT& r, Fields& out) {
  using R = PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT;
  GSM_NUM(USN);
  GSM_NUM(Count);
  const uint32_t count = r.Count;
  EntryList<R::Entry>(out, "Entries", Bytes(&r) + offsetof(R, Entries),
                      count < R::kCapacity ? count : R::kCapacity,
                      [](const R::Entry& e, Fields& f) {
                        f.Num("Value64", e.Value64);
                        f.Num("Value32", e.Value32);
                      });
}

void Describe(const PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY& r, Fields& out) {
  GSM_NUM(f0);
  GSM_NUM(f4);
  GSM_NUM(f6);
  GSM_NUM(USN);
  out.Array<uint8_t>("Flags", Bytes(&r) + offsetof(PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY, Flags), 4,
                     false);
}

void Describe(const GAMEPROTO_SC_SPY_CHANGE& r, Fields& out) {
  using R = GAMEPROTO_SC_SPY_CHANGE;
  out.Array<int64_t>("f24", Bytes(&r) + offsetof(R, f24), 2, false);
  out.Array<int64_t>("f40", Bytes(&r) + offsetof(R, f40), 2, false);
}

void Describe(const PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ& r, Fields& out) {
  using R = PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ;
  EntryList<R::Entry>(out, "Entries", Bytes(&r) + offsetof(R, Entries), 8,
                      [](const R::Entry& e, Fields& f) {
                        f.Num("USN", e.USN);
                        f.Num("Value", e.Value);
                        f.Array<uint8_t>("Small", Bytes(&e) + offsetof(R::Entry, Small), 4, false);
                      });
}

void Describe(const PROTO_AI2_BONUSROUND_REWARD_REQ& r, Fields& out) {
  using R = PROTO_AI2_BONUSROUND_REWARD_REQ;
  GSM_TEXT(R, szItemID);
  EntryList<R::Entry>(out, "Entries", Bytes(&r) + offsetof(R, Entries), R::kCapacity,
                      [](const R::Entry& e, Fields& f) {
                        f.Num("USN", e.USN);
                        f.Num("Value", e.Value);
                      });
}

void Describe(const PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ& r, Fields& out) {
  using R = PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ;
  EntryList<R::Entry>(out, "Entries", Bytes(&r) + offsetof(R, Entries), 8,
                      [](const R::Entry& e, Fields& f) {
                        f.Num("USN", e.USN);
                        f.Num("IsReward", e.IsReward);
                      });
}

void Describe(const PROTO_FINISHED_GAME_PREV& r, Fields& out) {
  GSM_NUM(f0);
  GSM_NUM(f4);
  GSM_NUM(f6);
  GSM_NUM(f8);
}

void Describe(const PROTO_SPEC_RECOMMENDROOM_INGAME_DATA& r, Fields& out) {
  using R = PROTO_SPEC_RECOMMENDROOM_INGAME_DATA;
  GSM_NUM(f0);
  GSM_NUM(f2);
  const auto entry = [](const R::Entry& e, Fields& f) {
    f.Num("f0", e.f0);
    f.Num("f8", e.f8);
    f.Num("f10", e.f10);
  };
  EntryList<R::Entry>(out, "f4", Bytes(&r) + offsetof(R, f4), 25, entry, true);
  EntryList<R::Entry>(out, "f304", Bytes(&r) + offsetof(R, f304), 25, entry, true);
}

void Describe(const PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY& r, Fields& out) {
  using R = PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY;
  GSM_NUM(f29);
  GSM_NUM(f30);
  GSM_NUM(f34);
  GSM_NUM(f38);
  EntryList<R::Entry>(
      out, "Entries", Bytes(&r) + offsetof(R, Entries), R::kCapacity,
      [](const R::Entry& e, Fields& f) {
        f.Num("USN", e.USN);
        f.Num("f8", e.f8);
        f.Num("f9", e.f9);
        f.Num("f11", e.f11);
        f.Num("f13", e.f13);
        f.Num("f17", e.f17);
        f.Num("f19", e.f19);
        f.Array<uint16_t>("f20", Bytes(&e) + offsetof(R::Entry, f20), 13);
        f.Array<uint16_t>("f46", Bytes(&e) + offsetof(R::Entry, f46), 13);
        f.Num("f72", e.f72);
        f.Num("f73", e.f73);
        f.Num("f74", e.f74);
        f.Num("f75", e.f75);
      },
      true);
  out.Array<uint32_t>("f3942", Bytes(&r) + offsetof(R, f3942), 7, false);
}

void Describe(const PROTO_AI_EXTRA_REWARD_REQ& r, Fields& out) {
  using R = PROTO_AI_EXTRA_REWARD_REQ;
  EntryList<R::Entry>(out, "Entries", Bytes(&r) + offsetof(R, Entries), 8,
                      [](const R::Entry& e, Fields& f) {
                        f.Num("USN", e.USN);
                        f.Num("IsReward", e.IsReward);
                        f.Num("IsSpecialClear", e.IsSpecialClear);
                      });
}

void Describe(const PROTO_AI_BOSSTOWER_REWARD_REQ& r, Fields& out) {
  using R = PROTO_AI_BOSSTOWER_REWARD_REQ;
  EntryList<R::Entry>(out, "Entries", Bytes(&r) + offsetof(R, Entries), 8,
                      [](const R::Entry& e, Fields& f) {
                        f.Num("USN", e.USN);
                        f.Array<uint8_t>("Small", Bytes(&e) + offsetof(R::Entry, Small), 4, false);
                        f.Array<uint32_t>("Large", Bytes(&e) + offsetof(R::Entry, Large), 4, false);
                        f.Num("Flag", e.Flag);
                      });
}

void Describe(const PROTO_AI_EXTRA_MIDDLE_REWARD_REQ& r, Fields& out) {
  out.Array<uint64_t>("USN", Bytes(&r) + offsetof(PROTO_AI_EXTRA_MIDDLE_REWARD_REQ, USN), 8, false);
}

void Describe(const PROTO_INGAME_RESULT_REQ& r, Fields& out) {
  using R = PROTO_INGAME_RESULT_REQ;
  GSM_NUM(f9);
  GSM_NUM(f10);
  GSM_NUM(f12);
  EntryList<R::Entry>(
      out, "Entries", Bytes(&r) + offsetof(R, Entries), 16,
      [](const R::Entry& e, Fields& f) {
        f.Num("USN", e.USN);
        f.Num("Value", e.Value);
      },
      true);
}

#undef GSM_NUM
#undef GSM_ARRAY
#undef GSM_TEXT

void NoteSize(DecodedMessage& d, size_t expected) {
  if (d.size != expected) {
    d.problem = "cbData " + std::to_string(d.size) + ", expected " + std::to_string(expected);
  }
}

// tIndex, then the record; a short payload decodes over the record's
// defaults, a long one is cut, and either is noted.
template <typename Record>
void DecodeRecordPayload(std::span<const std::byte> data, DecodedMessage& d) {
  d.record = Record::kName;
  NoteSize(d, sizeof(Record) + 2);
  if (data.size() < 2) return;
  int16_t tIndex;
  std::memcpy(&tIndex, data.data(), sizeof(tIndex));
  d.tIndex = tIndex;
  // On the heap: the game end is 110 KB, and this runs on the window thread.
  const auto record = std::make_unique<Record>();
  proto::CopyPayloadInto(*record, data.data() + 2, data.size() - 2);
  Fields out(&d.fields);
  Describe(*record, out);
}

void DecodeSend(std::span<const std::byte> data, DecodedMessage& d) {
  switch (d.msg_id) {
    case GAMESERVERMSG_GAMEEND:
      return DecodeRecordPayload<GAMEPROTO_SS_GAMEEND>(data, d);
    case GAMESERVERMSG_HOST_USER_STAT:
      return DecodeRecordPayload<GAMEPROTO_SC_HOST_USER_STAT>(data, d);
    case GAMESERVERMSG_BAN_USER:
      return DecodeRecordPayload<PROTO_BAN_USER>(data, d);
    case GAMESERVERMSG_HOST_STAT:
      return DecodeRecordPayload<GAMEPROTO_SC_HOST_STAT>(data, d);
    case GAMESERVERMSG_REMOVECLIENT:
      return DecodeRecordPayload<GAMEPROTO_SC_REMOVECLIENT>(data, d);
    case GAMESERVERMSG_AIGACHA_ITEM_INSERT:
      return DecodeRecordPayload<PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT>(data, d);
    case GAMESERVERMSG_MAPLOADING_COMPLETE_NTY:
      return DecodeRecordPayload<PROTO_GAMEGT_MAPLOADING_COMPLETE_NTY>(data, d);
    case GAMESERVERMSG_SPY_CHANGE:
      return DecodeRecordPayload<GAMEPROTO_SC_SPY_CHANGE>(data, d);
    case GAMESERVERMSG_FARMING_ITEM_REQ:
      return DecodeRecordPayload<PROTO_GAMEGT_INGAME_FARMING_ITEM_REQ>(data, d);
    case GAMESERVERMSG_AI2_BONUSROUND_REWARD_REQ:
      return DecodeRecordPayload<PROTO_AI2_BONUSROUND_REWARD_REQ>(data, d);
    case GAMESERVERMSG_AI3_BONUS_REWARD_ITEM_REQ:
      return DecodeRecordPayload<PROTO_GAMEGT_INGAME_AI3_BONUS_REWARD_ITEM_REQ>(data, d);
    case GAMESERVERMSG_FINISHED_GAME_PREV:
      return DecodeRecordPayload<PROTO_FINISHED_GAME_PREV>(data, d);
    case GAMESERVERMSG_SPEC_RECOMMENDROOM_INGAME_DATA:
      return DecodeRecordPayload<PROTO_SPEC_RECOMMENDROOM_INGAME_DATA>(data, d);
    case GAMESERVERMSG_AUTO_SIDE_CHANGE_TEAM_INFO_NTY:
      return DecodeRecordPayload<PROTO_GAMEGT_AUTO_SIDE_CHANGE_TEAM_INFO_NTY>(data, d);
    case GAMESERVERMSG_AI_EXTRA_REWARD_REQ:
      return DecodeRecordPayload<PROTO_AI_EXTRA_REWARD_REQ>(data, d);
    case GAMESERVERMSG_AI_BOSSTOWER_REWARD_REQ:
      return DecodeRecordPayload<PROTO_AI_BOSSTOWER_REWARD_REQ>(data, d);
    case GAMESERVERMSG_AI_EXTRA_MIDDLE_REWARD_REQ:
      return DecodeRecordPayload<PROTO_AI_EXTRA_MIDDLE_REWARD_REQ>(data, d);
    case GAMESERVERMSG_INGAME_RESULT_REQ:
      return DecodeRecordPayload<PROTO_INGAME_RESULT_REQ>(data, d);
    case GAMESERVERMSG_CLAN_STAT_REPORT: {
      // The record alone: it carries tIndex itself.
      d.record = CLANSTATREPORTDATA::kName;
      NoteSize(d, sizeof(CLANSTATREPORTDATA));
      CLANSTATREPORTDATA record{};
      proto::CopyPayloadInto(record, data.data(), data.size());
      if (data.size() >= 2) d.tIndex = record.tIndex;
      Fields out(&d.fields);
      Describe(record, out);
      return;
    }
    case GAMESERVERMSG_INSERTCHARACTER_ACK:
    case GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO_ACK: {
      const bool ack = d.msg_id == GAMESERVERMSG_INSERTCHARACTER_ACK;
      NoteSize(d, ack ? 10 : 2);
      if (data.size() >= 2) {
        int16_t tIndex;
        std::memcpy(&tIndex, data.data(), sizeof(tIndex));
        d.tIndex = tIndex;
      }
      if (ack && data.size() >= 10) {
        uint64_t usn;
        std::memcpy(&usn, data.data() + 2, sizeof(usn));
        Fields(&d.fields).Num("USN", usn);
      }
      return;
    }
    default: {
      // Not a host-to-manager record: show the size and the first bytes.
      const size_t shown = data.size() < 64 ? data.size() : 64;
      Fields(&d.fields).Array<uint8_t>("bytes", reinterpret_cast<const unsigned char*>(data.data()),
                                       shown, false);
      if (data.size() >= 2) d.problem = "not a host-to-manager record";
      return;
    }
  }
}

void DecodePost(const ReceivedMessage& m, DecodedMessage& d) {
  d.tIndex = static_cast<int16_t>(static_cast<uint16_t>(m.w_param >> 16));
  const auto value = static_cast<uint32_t>(m.l_param);
  Fields out(&d.fields);
  switch (d.msg_id) {
    case GAMESERVERMSG_REPORT_HWND:
      out.Num("hwnd", static_cast<uint64_t>(m.l_param));
      break;
    case GAMESERVERMSG_HOST_HEARTBEAT_ACK:
      out.Num("userCount", proto::LowWord(value));
      out.Num("heartbeatValue", proto::HighWord(value));
      break;
    case GAMESERVERMSG_LOADING_COMPLETE: {
      out.Num("tMapIndex", static_cast<int16_t>(proto::HighWord(value)));
      const auto low = static_cast<int16_t>(proto::LowWord(value));
      out.Num("success", low == 0 ? 1 : 0);
      // The low word of a failure is (-1 - reason).
      if (low != 0) out.Num("reason", -1 - low);
      break;
    }
    case GAMESERVERMSG_MODULE_VALUES_NTY:
      out.Num("first", proto::LowWord(value));
      out.Num("second", proto::HighWord(value));
      break;
    default:
      out.Num("lParam", m.l_param);
      break;
  }
}

}  // namespace

const DecodedField* DecodedMessage::Find(std::string_view field) const {
  for (const DecodedField& f : fields) {
    if (f.name == field) return &f;
  }
  return nullptr;
}

std::string ManagerMessageName(uint32_t msg_id) {
  const char* name = proto::GameServerMsgName(msg_id);
  return name ? std::string(name) : "UNNAMED_" + std::to_string(msg_id);
}

DecodedMessage DecodeMessage(const ReceivedMessage& m) {
  DecodedMessage d;
  const bool send = m.kind == ReceivedMessage::Kind::kSend;
  if (send && m.msg == platform::kWmCopyData) {
    d.is_manager_message = true;
    d.msg_id = static_cast<uint32_t>(m.dw_data);
    d.name =
        m.dw_data <= 0xFFFF ? ManagerMessageName(d.msg_id) : "UNNAMED_" + std::to_string(m.dw_data);
    d.size = m.data.size();
    DecodeSend(m.data, d);
  } else if (!send && m.msg == WM_GAMESERVERMSG) {
    d.is_manager_message = true;
    d.msg_id = static_cast<uint32_t>(m.w_param & 0xFFFF);
    d.name = ManagerMessageName(d.msg_id);
    DecodePost(m, d);
  } else {
    char name[24];
    std::snprintf(name, sizeof(name), "WM_0x%X", m.msg);
    d.name = name;
    d.msg_id = m.msg;
  }
  return d;
}

std::string DecodedText(const DecodedMessage& d) {
  std::string text = d.name;
  if (d.tIndex) text += " tIndex=" + std::to_string(*d.tIndex);
  for (const DecodedField& f : d.fields) text += " " + f.name + "=" + f.json;
  if (!d.problem.empty()) text += " (" + d.problem + ")";
  return text;
}

std::string DecodedJson(const ReceivedMessage& m, const DecodedMessage& d) {
  const bool send = m.kind == ReceivedMessage::Kind::kSend;
  std::string json = "{\"kind\":";
  json += send ? "\"send\"" : "\"post\"";
  json += ",\"msgID\":" + std::to_string(d.msg_id);
  json += ",\"name\":" + JsonString(d.name);
  if (d.tIndex) json += ",\"tIndex\":" + std::to_string(*d.tIndex);
  if (send) {
    json += ",\"size\":" + std::to_string(d.size);
    if (!d.record.empty()) json += ",\"record\":" + JsonString(d.record);
  } else {
    json += ",\"wParam\":" + std::to_string(m.w_param);
    json += ",\"lParam\":" + std::to_string(m.l_param);
  }
  if (!d.problem.empty()) json += ",\"problem\":" + JsonString(d.problem);
  json += ",\"fields\":" + ObjectJson(d.fields) + "}";
  return json;
}

}  // namespace gsmsim

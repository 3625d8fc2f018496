#include "outgoing.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <type_traits>

#include "cli_args.h"
#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"

namespace gsmsim {
namespace {

enum class Kind { kInt, kUInt, kFloat, kText, kStruct };

// One settable member of a record: where it is and what it holds. Arrays
// keep up to two extents; a char array is one text (its last extent is the
// text's size).
struct FieldDef {
  const char* name;
  size_t offset;
  Kind kind;
  size_t width;  // bytes of one element (of one text)
  size_t dims[2];
  const std::vector<FieldDef>* members;  // kStruct
};

template <typename Element>
constexpr Kind KindOf() {
  if constexpr (std::is_same_v<Element, char>)
    return Kind::kText;
  else if constexpr (std::is_floating_point_v<Element>)
    return Kind::kFloat;
  else if constexpr (std::is_class_v<Element>)
    return Kind::kStruct;
  else if constexpr (std::is_signed_v<Element>)
    return Kind::kInt;
  else
    return Kind::kUInt;
}

template <typename Member>
FieldDef Def(const char* name, size_t offset, const std::vector<FieldDef>* members = nullptr) {
  using Element = std::remove_all_extents_t<Member>;
  constexpr Kind kind = KindOf<Element>();
  constexpr size_t rank = std::rank_v<Member>;
  FieldDef def{name, offset, kind, sizeof(Element), {0, 0}, members};
  if constexpr (kind == Kind::kText) {
    static_assert(rank >= 1 && rank <= 2);
    def.width = std::extent_v<Member, rank - 1>;
    if constexpr (rank == 2) def.dims[0] = std::extent_v<Member, 0>;
  } else {
    static_assert(rank <= 2);
    if constexpr (rank >= 1) def.dims[0] = std::extent_v<Member, 0>;
    if constexpr (rank == 2) def.dims[1] = std::extent_v<Member, 1>;
  }
  return def;
}

#define GSM_FIELD(R, f) Def<decltype(R::f)>(#f, offsetof(R, f))
#define GSM_STRUCT(R, f, members) Def<decltype(R::f)>(#f, offsetof(R, f), &(members))

const std::vector<FieldDef>& IntPairFields() {
  using P = PROTO_GAME_USER_INFO::IntPair;
  static const std::vector<FieldDef> fields{GSM_FIELD(P, first), GSM_FIELD(P, second)};
  return fields;
}

const std::vector<FieldDef>& UserFields() {
  using U = PROTO_GAME_USER_INFO;
  static const std::vector<FieldDef> fields{
      GSM_FIELD(U, USN),        GSM_FIELD(U, f8),    GSM_FIELD(U, TeamIdx),
      GSM_FIELD(U, SlotIdx),    GSM_FIELD(U, f17),   GSM_FIELD(U, FirstText),
      GSM_FIELD(U, SecondText), GSM_FIELD(U, f74),   GSM_STRUCT(U, f78, IntPairFields()),
      GSM_FIELD(U, f134),       GSM_FIELD(U, f1134), GSM_FIELD(U, f1173),
      GSM_FIELD(U, f1657),      GSM_FIELD(U, f1725), GSM_FIELD(U, f1934),
      GSM_FIELD(U, f2040),      GSM_FIELD(U, f2292), GSM_FIELD(U, f3631),
      GSM_FIELD(U, f3645),      GSM_FIELD(U, f3771), GSM_FIELD(U, f4095),
  };
  return fields;
}

const std::vector<FieldDef>& TextEntryFields() {
  using E = START_HOST_TEXT_ENTRY;
  static const std::vector<FieldDef> fields{GSM_FIELD(E, f0), GSM_FIELD(E, text)};
  return fields;
}

const std::vector<FieldDef>& StartHostFields() {
  using S = PROTO_START_HOST;
  static const std::vector<FieldDef> fields{
      GSM_FIELD(S, f0),
      GSM_FIELD(S, f4),
      GSM_FIELD(S, f8),
      GSM_FIELD(S, GameLogSerial),
      GSM_FIELD(S, f28),
      GSM_FIELD(S, f30),
      GSM_FIELD(S, f32),
      GSM_FIELD(S, f34),
      GSM_FIELD(S, f36),
      GSM_FIELD(S, f39),
      GSM_FIELD(S, f41),
      GSM_FIELD(S, f45),
      GSM_FIELD(S, f46),
      GSM_FIELD(S, f47),
      GSM_FIELD(S, f49),
      GSM_FIELD(S, f53),
      GSM_FIELD(S, f55),
      GSM_FIELD(S, f59),
      GSM_FIELD(S, f63),
      GSM_FIELD(S, f67),
      GSM_FIELD(S, f69),
      GSM_FIELD(S, f121),
      GSM_FIELD(S, f122),
      GSM_FIELD(S, f123),
      GSM_FIELD(S, f127),
      GSM_FIELD(S, f129),
      GSM_FIELD(S, f130),
      GSM_FIELD(S, f131),
      GSM_FIELD(S, f132),
      GSM_FIELD(S, f133),
      GSM_FIELD(S, f141),
      GSM_FIELD(S, f1349),
      GSM_FIELD(S, f1350),
      GSM_FIELD(S, f1351),
      GSM_STRUCT(S, f1352, TextEntryFields()),
      GSM_FIELD(S, f1640),
      GSM_FIELD(S, f1645),
      GSM_FIELD(S, f1646),
      GSM_FIELD(S, f1648),
      GSM_FIELD(S, f1650),
      GSM_FIELD(S, f1651),
      GSM_STRUCT(S, Users, UserFields()),
  };
  return fields;
}

const std::vector<FieldDef>& UserDisconnectedFields() {
  static const std::vector<FieldDef> fields{GSM_FIELD(PROTO_USER_DISCONNECTED, USN)};
  return fields;
}

const std::vector<FieldDef>& GroupRateFields() {
  using R = PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT;
  static const std::vector<FieldDef> entry{GSM_FIELD(R::Entry, First), GSM_FIELD(R::Entry, Second),
                                           GSM_FIELD(R::Entry, Rates)};
  static const std::vector<FieldDef> fields{GSM_FIELD(R, f0), GSM_FIELD(R, Count),
                                            GSM_STRUCT(R, Entries, entry)};
  return fields;
}

const std::vector<FieldDef>& ItemInsertResultFields() {
  using R = PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT;
  static const std::vector<FieldDef> entry{GSM_FIELD(R::Entry, Value64),
                                           GSM_FIELD(R::Entry, Value32)};
  static const std::vector<FieldDef> fields{GSM_FIELD(R, USN), GSM_FIELD(R, Count),
                                            GSM_STRUCT(R, Entries, entry),
                                            GSM_FIELD(R, SingleValue), GSM_FIELD(R, Values)};
  return fields;
}

const std::vector<FieldDef>& AddressTableFields() {
  static const std::vector<FieldDef> fields{GSM_FIELD(RWPM_ADDRESS_TABLE, Address)};
  return fields;
}

const std::vector<FieldDef>& UccGamePlayFields() {
  using R = stUCCGamePlay;
  static const std::vector<FieldDef> fields{GSM_FIELD(R, MapIndex), GSM_FIELD(R, RoundType),
                                            GSM_FIELD(R, MatchType), GSM_FIELD(R, MapName)};
  return fields;
}

const std::vector<FieldDef>& AutoMatchFields() {
  static const std::vector<FieldDef> fields{
      GSM_STRUCT(PROTO_AUTO_MATCH_STARTING_USER_INFO, Users, UserFields())};
  return fields;
}

#undef GSM_FIELD
#undef GSM_STRUCT

size_t ElementSize(const FieldDef& def) {
  return def.width;
}

// Finds `path` (name[i][j].member...) below `fields` and answers the field
// and its byte offset in the record; null and a reason otherwise.
const FieldDef* Resolve(const std::vector<FieldDef>& fields, std::string_view path, size_t base,
                        size_t* offset, std::string* error) {
  const size_t name_end = path.find_first_of("[.");
  const std::string_view name = path.substr(0, name_end);
  const FieldDef* def = nullptr;
  for (const FieldDef& f : fields) {
    if (name == f.name) def = &f;
  }
  if (def == nullptr) {
    *error = "no field \"" + std::string(name) + "\"";
    return nullptr;
  }
  std::string_view rest = name_end == std::string_view::npos ? "" : path.substr(name_end);
  size_t index[2] = {0, 0};
  int given = 0;
  while (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    const auto value = close == std::string_view::npos
                           ? std::nullopt
                           : ParseUnsigned(rest.substr(1, close - 1), SIZE_MAX);
    if (!value || given == 2) {
      *error = "bad index in \"" + std::string(path) + "\"";
      return nullptr;
    }
    index[given++] = *value;
    rest.remove_prefix(close + 1);
  }
  const int rank = (def->dims[0] ? 1 : 0) + (def->dims[1] ? 1 : 0);
  if (given != rank) {
    *error = "\"" + std::string(name) + "\" takes " + std::to_string(rank) + " index(es)";
    return nullptr;
  }
  for (int d = 0; d < rank; ++d) {
    if (index[d] >= def->dims[d]) {
      *error = "index " + std::to_string(index[d]) + " of \"" + std::string(name) +
               "\" is above its " + std::to_string(def->dims[d] - 1);
      return nullptr;
    }
  }
  const size_t flat = rank == 2 ? index[0] * def->dims[1] + index[1] : index[0];
  const size_t at = base + def->offset + flat * ElementSize(*def);
  if (def->kind == Kind::kStruct) {
    if (rest.size() < 2 || rest[0] != '.') {
      *error = "\"" + std::string(name) + "\" needs a member (" + std::string(name) + "[i].NAME)";
      return nullptr;
    }
    return Resolve(*def->members, rest.substr(1), at, offset, error);
  }
  if (!rest.empty()) {
    *error = "unexpected \"" + std::string(rest) + "\" after \"" + std::string(name) + "\"";
    return nullptr;
  }
  *offset = at;
  return def;
}

bool WriteValue(const FieldDef& def, std::string_view text, std::byte* target, std::string* error) {
  switch (def.kind) {
    case Kind::kText:
      if (text.size() > def.width) {
        *error = "text of " + std::to_string(text.size()) + " bytes does not fit " +
                 std::to_string(def.width);
        return false;
      }
      std::memset(target, 0, def.width);
      std::memcpy(target, text.data(), text.size());
      return true;
    case Kind::kFloat: {
      const std::string copy(text);
      char* end = nullptr;
      const double value = std::strtod(copy.c_str(), &end);
      if (copy.empty() || end != copy.c_str() + copy.size()) {
        *error = "\"" + copy + "\" is not a number";
        return false;
      }
      if (def.width == sizeof(float)) {
        const auto f = static_cast<float>(value);
        std::memcpy(target, &f, sizeof(f));
      } else {
        std::memcpy(target, &value, sizeof(value));
      }
      return true;
    }
    case Kind::kInt:
    case Kind::kUInt: {
      // Any value the field can hold, read as signed or as unsigned.
      const unsigned bits = static_cast<unsigned>(def.width * 8);
      uint64_t pattern = 0;
      if (const auto u = ParseUnsigned(text)) {
        if (bits < 64 && *u > (uint64_t{1} << bits) - 1) {
          *error = std::string(text) + " does not fit " + std::to_string(bits) + " bits";
          return false;
        }
        pattern = *u;
      } else if (const auto s = ParseSigned(text); s && *s < 0) {
        if (bits < 64 && *s < -(int64_t{1} << (bits - 1))) {
          *error = std::string(text) + " does not fit " + std::to_string(bits) + " bits";
          return false;
        }
        pattern = static_cast<uint64_t>(*s);
      } else {
        *error = "\"" + std::string(text) + "\" is not an integer";
        return false;
      }
      std::memcpy(target, &pattern, def.width);  // little-endian: the low bytes
      return true;
    }
    case Kind::kStruct:
      break;
  }
  *error = "cannot set a whole sub-record";
  return false;
}

const std::vector<FieldDef>* FieldsOf(uint16_t msg_id) {
  switch (msg_id) {
    case GAMESERVERMSG_START_HOST:
      return &StartHostFields();
    case GAMESERVERMSG_INSERTCHARACTER:
      return &UserFields();
    case GAMESERVERMSG_USER_DISCONNECTED:
      return &UserDisconnectedFields();
    case GAMESERVERMSG_AIGACHA_GROUP_RATE_RESULT:
      return &GroupRateFields();
    case GAMESERVERMSG_AIGACHA_ITEM_INSERT_RESULT:
      return &ItemInsertResultFields();
    case GAMESERVERMSG_RWPM_ADDRESS_TABLE:
      return &AddressTableFields();
    case GAMESERVERMSG_UCC_MAP_LOAD:
      return &UccGamePlayFields();
    case GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO:
      return &AutoMatchFields();
    default:
      return nullptr;
  }
}

// The record's bytes holding its defaults.
template <typename Record>
std::vector<std::byte> DefaultBytes() {
  const auto record = std::make_unique<Record>();  // value-initialised: the defaults
  std::vector<std::byte> bytes(sizeof(Record));
  std::memcpy(bytes.data(), record.get(), sizeof(Record));
  return bytes;
}

std::vector<std::byte> DefaultsOf(uint16_t msg_id) {
  switch (msg_id) {
    case GAMESERVERMSG_START_HOST:
      return DefaultBytes<PROTO_START_HOST>();
    case GAMESERVERMSG_INSERTCHARACTER:
      return DefaultBytes<PROTO_GAME_USER_INFO>();
    case GAMESERVERMSG_USER_DISCONNECTED:
      return DefaultBytes<PROTO_USER_DISCONNECTED>();
    case GAMESERVERMSG_AIGACHA_GROUP_RATE_RESULT:
      return DefaultBytes<PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT>();
    case GAMESERVERMSG_AIGACHA_ITEM_INSERT_RESULT:
      return DefaultBytes<PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT>();
    case GAMESERVERMSG_RWPM_ADDRESS_TABLE:
      return DefaultBytes<RWPM_ADDRESS_TABLE>();
    case GAMESERVERMSG_UCC_MAP_LOAD:
      return DefaultBytes<stUCCGamePlay>();
    case GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO:
      return DefaultBytes<PROTO_AUTO_MATCH_STARTING_USER_INFO>();
    default:
      return {};
  }
}

// Largest cbData accepted: the window layer's payload limit.
constexpr uint64_t kMaxPayload = 4u << 20;

}  // namespace

bool IsOutgoingRecordId(uint16_t msg_id) {
  return msg_id == GAMESERVERMSG_LOG_SERIAL || FieldsOf(msg_id) != nullptr;
}

std::optional<OutgoingRecord> BuildOutgoingRecord(uint16_t msg_id,
                                                  std::span<const std::string> assignments,
                                                  std::string* error) {
  const std::vector<FieldDef>* fields = FieldsOf(msg_id);
  if (fields == nullptr && msg_id != GAMESERVERMSG_LOG_SERIAL) {
    *error = "no manager-to-host record for message " + std::to_string(msg_id);
    return std::nullopt;
  }
  OutgoingRecord out{msg_id, fields ? DefaultsOf(msg_id) : std::vector<std::byte>{}};
  std::optional<uint64_t> cb_data;
  for (const std::string& assignment : assignments) {
    const size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) {
      *error = "\"" + assignment + "\" is not FIELD=VALUE";
      return std::nullopt;
    }
    const std::string_view name = std::string_view(assignment).substr(0, equals);
    const std::string_view value = std::string_view(assignment).substr(equals + 1);
    if (name == "cbData") {
      cb_data = ParseUnsigned(value, kMaxPayload);
      if (!cb_data) {
        *error = "cbData must be 0 to " + std::to_string(kMaxPayload);
        return std::nullopt;
      }
      continue;
    }
    if (fields == nullptr) {  // the log serial: one text
      if (name != "text") {
        *error = "GAMESERVERMSG_LOG_SERIAL takes text=VALUE";
        return std::nullopt;
      }
      out.bytes.resize(value.size() + 1);
      std::memcpy(out.bytes.data(), value.data(), value.size());
      out.bytes.back() = std::byte{0};
      continue;
    }
    size_t offset = 0;
    std::string why;
    const FieldDef* def = Resolve(*fields, name, 0, &offset, &why);
    if (def == nullptr || !WriteValue(*def, value, out.bytes.data() + offset, &why)) {
      *error = std::string(name) + ": " + why;
      return std::nullopt;
    }
  }
  if (cb_data) out.bytes.resize(*cb_data, std::byte{0});
  return out;
}

}  // namespace gsmsim

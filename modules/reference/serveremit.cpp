// The `emit` command's message shapes and builder. Stream orders and
// widths are those the host's readers expect (protocol/frommodule.h);
// whole records take their sizes from the protocol's record layouts.
#include "serveremit.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "interface/ltmessage.h"
#include "protocol/relayrecords.h"
#include "protocol/serverappmsg.h"
#include "protocol/streamio.h"

namespace refmod {
namespace {

enum class Kind { kU8, kI8, kU16, kI16, kU32, kU64, kBool, kText, kRecord, kEntries };

struct Field {
  std::string name;
  Kind kind = Kind::kU32;
  uint32_t record_size = 0;  // kRecord
  // kEntries: as many entries as the field `count_field` says, or
  // `fixed_count` when there is no such field.
  std::string count_field;
  uint32_t fixed_count = 0;
  std::vector<Field> entry;
};

Field F(const char* name, Kind kind) {
  return Field{name, kind, 0, {}, 0, {}};
}
Field Record(uint32_t size) {
  return Field{"record", Kind::kRecord, size, {}, 0, {}};
}
Field Entries(const char* count_field, uint32_t fixed_count, std::vector<Field> entry) {
  return Field{"entries", Kind::kEntries, 0, count_field, fixed_count, std::move(entry)};
}

std::vector<Field> AutoSideEntry() {
  std::vector<Field> entry = {F("usn", Kind::kU64), F("f8", Kind::kI8),   F("f9", Kind::kU32),
                              F("f11", Kind::kU32), F("f13", Kind::kU64), F("f17", Kind::kU32),
                              F("f19", Kind::kU32)};
  for (int k = 0; k < 13; ++k) {
    entry.push_back(F(("f20_" + std::to_string(k)).c_str(), Kind::kU32));
    entry.push_back(F(("f46_" + std::to_string(k)).c_str(), Kind::kU32));
  }
  for (const char* name : {"f72", "f73", "f74", "f75"}) entry.push_back(F(name, Kind::kU32));
  return entry;
}

const std::map<uint8_t, std::vector<Field>>& Shapes() {
  static const std::map<uint8_t, std::vector<Field>> shapes = [] {
    std::map<uint8_t, std::vector<Field>> s;
    s[SERVERAPPMSG_LOADING_COMPLETE] = {F("map", Kind::kI16)};
    s[SERVERAPPMSG_ADDCLIENT] = {F("usn", Kind::kU64), F("kind", Kind::kU32),
                                 F("first", Kind::kU16), F("second", Kind::kU16)};
    s[SERVERAPPMSG_REMOVECLIENT] = {Record(sizeof(GAMEPROTO_SC_REMOVECLIENT))};
    s[SERVERAPPMSG_RESET_REQ] = {};
    s[SERVERAPPMSG_GAMEEND] = {Record(sizeof(GAMEPROTO_SS_GAMEEND))};
    s[SERVERAPPMSG_HOST_USER_STAT] = {Record(sizeof(GAMEPROTO_SC_HOST_USER_STAT))};
    s[SERVERAPPMSG_LOADING_FAILED] = {F("map", Kind::kI16), F("reason", Kind::kI8)};
    s[SERVERAPPMSG_SHELL_LOG] = {};
    s[SERVERAPPMSG_CLAN_STAT_REPORT] = {F("f8", Kind::kU64), F("f16", Kind::kU64),
                                        F("f24", Kind::kU32), F("f28", Kind::kU32),
                                        F("f32", Kind::kU32)};
    s[SERVERAPPMSG_BAN_USER] = {F("usn", Kind::kU64), F("ban", Kind::kU8), F("slot", Kind::kU8)};
    s[SERVERAPPMSG_MODULE_VALUES] = {F("first", Kind::kU32), F("second", Kind::kU32)};
    s[SERVERAPPMSG_HOST_STAT] = {Record(sizeof(GAMEPROTO_SC_HOST_STAT))};
    s[SERVERAPPMSG_HEARTBEAT_VALUE] = {F("value", Kind::kU32)};
    s[SERVERAPPMSG_AIGACHA_ITEM_INSERT] = {
        F("usn", Kind::kU64), F("count", Kind::kU32),
        Entries("count", 0, {F("value64", Kind::kU64), F("value32", Kind::kU32)}),
        F("slot", Kind::kU8)};
    s[SERVERAPPMSG_MAPLOADING_COMPLETE_NTY] = {F("usn", Kind::kU64), F("flag", Kind::kBool),
                                               F("slot", Kind::kU8)};
    s[SERVERAPPMSG_RELAY_27] = {};
    s[SERVERAPPMSG_RELAY_28] = {};
    s[SERVERAPPMSG_SPY_CHANGE] = {Record(sizeof(GAMEPROTO_SC_SPY_CHANGE))};
    s[SERVERAPPMSG_MAPLOADING_COMPLETE_NTY_EX] = {F("usn", Kind::kU64),    F("flag0", Kind::kBool),
                                                  F("flag1", Kind::kBool), F("flag2", Kind::kBool),
                                                  F("flag3", Kind::kBool), F("slot", Kind::kU8)};
    s[SERVERAPPMSG_FARMING_ITEM_REQ] = {
        Entries("", 8,
                {F("usn", Kind::kU64), F("value", Kind::kU32), F("small0", Kind::kU8),
                 F("small1", Kind::kU8), F("small2", Kind::kU8), F("small3", Kind::kU8)})};
    s[SERVERAPPMSG_AI2_BONUSROUND_REWARD_REQ] = {
        F("count", Kind::kU32), F("item", Kind::kText),
        Entries("count", 0, {F("usn", Kind::kU64), F("value", Kind::kU32)})};
    s[SERVERAPPMSG_AI3_BONUS_CLEARBOX_ITEM] = {
        Entries("", 8, {F("usn", Kind::kU64), F("reward", Kind::kBool)})};
    s[SERVERAPPMSG_FINISHED_GAME_PREV] = {Record(sizeof(PROTO_FINISHED_GAME_PREV))};
    s[SERVERAPPMSG_SPEC_RECOMMENDROOM_INGAME_DATA] = {
        Record(sizeof(PROTO_SPEC_RECOMMENDROOM_INGAME_DATA))};
    s[SERVERAPPMSG_AUTO_SIDE_CHANGE_TEAM_INFO_NTY] = {
        F("f29", Kind::kI8),    F("f30", Kind::kU32),   F("f34", Kind::kU32),
        F("f38", Kind::kU32),   F("count", Kind::kU32), Entries("count", 0, AutoSideEntry()),
        F("tail0", Kind::kU32), F("tail1", Kind::kU32), F("tail2", Kind::kU32),
        F("tail3", Kind::kU32), F("tail4", Kind::kU32), F("tail5", Kind::kU32),
        F("tail6", Kind::kU32)};
    s[SERVERAPPMSG_RELAY_40] = {};
    s[SERVERAPPMSG_IDLE] = {};
    s[SERVERAPPMSG_AI_EXTRA_REWARD_REQ] = {
        Entries("", 8, {F("usn", Kind::kU64), F("reward", Kind::kU8), F("special", Kind::kBool)})};
    s[SERVERAPPMSG_AI_BOSSTOWER_REWARD_REQ] = {
        Entries("", 8,
                {F("usn", Kind::kU64), F("small0", Kind::kU8), F("large0", Kind::kU8),
                 F("small1", Kind::kU8), F("large1", Kind::kU8), F("small2", Kind::kU8),
                 F("large2", Kind::kU8), F("small3", Kind::kU8), F("large3", Kind::kU8),
                 F("flag", Kind::kBool)})};
    s[SERVERAPPMSG_AI_EXTRA_MIDDLE_REWARD_REQ] = {Entries("", 8, {F("usn", Kind::kU64)})};
    s[SERVERAPPMSG_INGAME_RESULT_REQ] = {
        F("f9", Kind::kU8), F("f10", Kind::kU16), F("f12", Kind::kU16),
        Entries("", 16, {F("usn", Kind::kU64), F("value", Kind::kU16)})};
    s[SERVERAPPMSG_AUTO_MATCH_STARTING_USER_INFO_ACK] = {};
    return s;
  }();
  return shapes;
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kU8:
      return "u8";
    case Kind::kI8:
      return "i8";
    case Kind::kU16:
      return "u16";
    case Kind::kI16:
      return "i16";
    case Kind::kU32:
      return "u32";
    case Kind::kU64:
      return "u64";
    case Kind::kBool:
      return "bit";
    case Kind::kText:
      return "text";
    case Kind::kRecord:
      return "bytes";
    case Kind::kEntries:
      return "entries";
  }
  return "?";
}

bool ParseNumber(const std::string& text, uint64_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  if (text[0] == '-') {
    *value = static_cast<uint64_t>(std::strtoll(text.c_str(), &end, 0));
  } else {
    *value = std::strtoull(text.c_str(), &end, 0);
  }
  return errno == 0 && end != nullptr && *end == '\0';
}

class Builder {
 public:
  Builder(ILTMessage_Write& msg, std::map<std::string, std::string> settings)
      : msg_(msg), settings_(std::move(settings)) {}

  std::string Build(const std::vector<Field>& fields) {
    for (const Field& field : fields) {
      if (!error_.empty()) break;
      Write(field, -1);
    }
    if (error_.empty()) {
      for (const auto& [key, value] : settings_) {
        if (used_.count(key) == 0) return "unknown field " + key;
      }
    }
    return error_;
  }

 private:
  // The text set for `name` (entry `index`: "name.index" first), or null.
  const std::string* Lookup(const std::string& name, int index) {
    if (index >= 0) {
      auto it = settings_.find(name + "." + std::to_string(index));
      if (it != settings_.end()) {
        used_.insert(it->first);
        return &it->second;
      }
    }
    auto it = settings_.find(name);
    if (it == settings_.end()) return nullptr;
    used_.insert(it->first);
    return &it->second;
  }

  uint64_t Number(const std::string& name, int index) {
    const std::string* text = Lookup(name, index);
    uint64_t value = 0;
    if (text != nullptr && !ParseNumber(*text, &value)) error_ = "bad value for " + name;
    return value;
  }

  void Write(const Field& field, int index) {
    switch (field.kind) {
      case Kind::kU8:
      case Kind::kI8:
        return msg_.WriteBits(static_cast<uint32_t>(Number(field.name, index)), 8);
      case Kind::kU16:
      case Kind::kI16:
        return msg_.WriteBits(static_cast<uint32_t>(Number(field.name, index)), 16);
      case Kind::kU32: {
        const uint64_t value = Number(field.name, index);
        if (index < 0) written_[field.name] = value;
        return msg_.WriteBits(static_cast<uint32_t>(value), 32);
      }
      case Kind::kU64:
        return msg_.WriteBits64(Number(field.name, index), 64);
      case Kind::kBool:
        return msg_.WriteBits(Number(field.name, index) != 0 ? 1 : 0, 1);
      case Kind::kText: {
        const std::string* text = Lookup(field.name, index);
        return msg_.WriteString(text != nullptr ? text->c_str() : "");
      }
      case Kind::kRecord:
        return WriteRecord(field.record_size);
      case Kind::kEntries:
        return WriteEntries(field);
    }
  }

  void WriteEntries(const Field& field) {
    uint64_t count = field.fixed_count;
    if (!field.count_field.empty()) {
      // The count as written, cut to 32 bits like the field itself.
      count = static_cast<uint32_t>(written_[field.count_field]);
      uint64_t limit = kMaxEntries;
      if (const std::string* asked = Lookup("entries", -1)) {
        if (!ParseNumber(*asked, &limit) || limit > kMaxEntriesAsked) {
          error_ = "entries must be 0 to " + std::to_string(kMaxEntriesAsked);
          return;
        }
      }
      count = std::min(count, limit);
    }
    for (uint64_t i = 0; i < count && error_.empty(); ++i) {
      for (const Field& entry_field : field.entry) Write(entry_field, static_cast<int>(i));
    }
  }

  void WriteRecord(uint32_t size) {
    std::vector<uint8_t> bytes(size, 0);
    uint64_t send = size;
    for (const auto& [key, value] : settings_) {
      if (key == "bytes") {
        used_.insert(key);
        if (!ParseNumber(value, &send) || send > size) {
          error_ = "bytes must be 0 to " + std::to_string(size);
          return;
        }
        continue;
      }
      const size_t at = key.find('@');
      if (at == std::string::npos) continue;
      const std::string type = key.substr(0, at);
      const size_t width = type == "u8"    ? 1
                           : type == "u16" ? 2
                           : type == "u32" ? 4
                           : type == "u64" ? 8
                                           : 0;
      uint64_t offset = 0, number = 0;
      if (width == 0 || !ParseNumber(key.substr(at + 1), &offset) || offset > size ||
          width > size - offset) {
        error_ = "bad record field " + key + " (record of " + std::to_string(size) + " bytes)";
        return;
      }
      if (!ParseNumber(value, &number)) {
        error_ = "bad value for " + key;
        return;
      }
      used_.insert(key);
      // Little-endian, as every record that crosses the process boundary.
      for (size_t i = 0; i < width; ++i)
        bytes[offset + i] = static_cast<uint8_t>(number >> (8 * i));
    }
    proto::WriteBytes(msg_, bytes.data(), static_cast<size_t>(send));
  }

  ILTMessage_Write& msg_;
  std::map<std::string, std::string> settings_;
  std::set<std::string> used_;
  std::map<std::string, uint64_t> written_;
  std::string error_;
};

}  // namespace

std::string BuildEmitMessage(const std::string& line, ILTMessage_Write& msg) {
  std::istringstream in(line);
  std::string name;
  if (!(in >> name)) return "NAME missing";
  std::map<std::string, std::string> settings;
  std::string token;
  while (in >> token) {
    const size_t eq = token.find('=');
    if (eq == std::string::npos || eq == 0) return "expected field=value: " + token;
    settings[token.substr(0, eq)] = token.substr(eq + 1);
  }

  uint64_t number = 0;
  if (ParseNumber(name, &number)) {
    if (number > 255) return "an id is 0 to 255";
    if (!settings.empty()) return "a bare id takes no fields";
    proto::WriteU8(msg, static_cast<uint8_t>(number));
    return {};
  }
  std::optional<uint8_t> id = proto::ServerAppMsgFromModuleByName(name);
  if (!id) id = proto::ServerAppMsgFromModuleByName("SERVERAPPMSG_" + name);
  if (!id) return "unknown message " + name;
  const auto shape = Shapes().find(*id);
  if (shape == Shapes().end()) return "no shape for " + name;
  proto::WriteU8(msg, *id);
  return Builder(msg, std::move(settings)).Build(shape->second);
}

std::vector<std::string> EmitFieldList() {
  std::vector<std::string> lines;
  for (const auto& [id, fields] : Shapes()) {
    std::string line = std::string(proto::ServerAppMsgFromModuleName(id)) + ":";
    for (const Field& field : fields) {
      if (field.kind == Kind::kEntries) {
        line +=
            " entries[" +
            (field.count_field.empty() ? std::to_string(field.fixed_count) : field.count_field) +
            "]{";
        for (const Field& e : field.entry) line += " " + e.name + "(" + KindName(e.kind) + ")";
        line += " }";
      } else if (field.kind == Kind::kRecord) {
        line += " record(" + std::to_string(field.record_size) + " bytes)";
      } else {
        line += " " + field.name + "(" + KindName(field.kind) + ")";
      }
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace refmod

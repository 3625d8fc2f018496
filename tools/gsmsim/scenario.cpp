#include "scenario.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "cli_args.h"
#include "protocol/gameservermsg.h"
#include "protocol/postedparams.h"

namespace gsmsim {
namespace {

// Longest wait or time-out a line may ask for: one hour.
constexpr uint64_t kMaxWaitMs = 3600u * 1000;

std::string_view Trim(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  const size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

// A manager message by name (GAMESERVERMSG_..., with or without the prefix)
// or by number 0..60.
std::optional<uint16_t> MessageId(std::string_view word) {
  if (const auto number = ParseUnsigned(word, GAMESERVERMSG_MAX - 1)) {
    return static_cast<uint16_t>(*number);
  }
  if (const auto id = proto::GameServerMsgByName(word)) return id;
  return proto::GameServerMsgByName("GAMESERVERMSG_" + std::string(word));
}

class LineParser {
 public:
  LineParser(Scenario& scenario, ScenarioStep& step, const std::vector<std::string>& words)
      : scenario_(scenario), step_(step), words_(words) {}

  // Answers "" or what is wrong.
  std::string Parse() {
    const std::string& verb = words_[0];
    if (verb == "heartbeat") return Post(GAMESERVERMSG_HOST_HEARTBEAT, 0, 1);
    if (verb == "reset") return Post(GAMESERVERMSG_RESET_ROOM, 0, 1);
    if (verb == "terminate") return Post(GAMESERVERMSG_TERMINATE, 0, 1);
    if (verb == "load-map") return LoadMap();
    if (verb == "start-host") return Record(GAMESERVERMSG_START_HOST, 1);
    if (verb == "insert-character") return Record(GAMESERVERMSG_INSERTCHARACTER, 1);
    if (verb == "disconnect") return Disconnect();
    if (verb == "log-serial") return LogSerial();
    if (verb == "address-table") return AddressTable();
    if (verb == "ucc-map-load") return UccMapLoad();
    if (verb == "send") return Send();
    if (verb == "post") return PostAny();
    if (verb == "console") return Console();
    if (verb == "wait") return Wait();
    if (verb == "expect") return Expect();
    if (verb == "room") return Room();
    if (verb == "ini") return Ini();
    return "unknown step \"" + verb + "\"";
  }

 private:
  std::string Count(size_t least, size_t most, const char* usage) {
    if (words_.size() < least || words_.size() > most) return std::string("usage: ") + usage;
    return "";
  }

  std::string Post(uint16_t msg_id, int64_t l_param, size_t words) {
    if (words_.size() != words) return "\"" + words_[0] + "\" takes no arguments";
    step_.kind = ScenarioStep::Kind::kPost;
    step_.msg_id = msg_id;
    step_.l_param = l_param;
    return "";
  }

  std::string LoadMap() {
    if (auto e = Count(4, 4, "load-map MAP ROUND MATCH"); !e.empty()) return e;
    // The map index is a signed 16-bit value; round and match types 8 bits.
    const auto map = ParseSigned(words_[1]);
    const auto round = ParseUnsigned(words_[2], 0xFF);
    const auto match = ParseUnsigned(words_[3], 0xFF);
    if (!map || *map < -32768 || *map > 65535) return "MAP must be a 16-bit value";
    if (!round || !match) return "ROUND and MATCH must be 0 to 255";
    const uint32_t l_param =
        (static_cast<uint32_t>(*map) & 0xFFFF) | (*round << 16) | (*match << 24);
    step_.kind = ScenarioStep::Kind::kPost;
    step_.msg_id = GAMESERVERMSG_LOAD_MAP;
    step_.l_param = l_param;
    return "";
  }

  // VERB copy|address [F=V ...], arguments from words_[first].
  std::string Record(uint16_t msg_id, size_t first) {
    if (words_.size() <= first || (words_[first] != "copy" && words_[first] != "address")) {
      return "\"" + words_[0] + "\" needs copy or address";
    }
    const proto::GameServerMsgInfo* info = proto::FindGameServerMsg(msg_id);
    step_.by_address = words_[first] == "address";
    if (step_.by_address && info->transport == proto::Transport::kCopyData) {
      return std::string(info->name) + " travels by copy data only";
    }
    if (!step_.by_address && info->transport == proto::Transport::kPostedAddress) {
      return std::string(info->name) + " travels by address only";
    }
    return Build(msg_id, std::vector<std::string>(words_.begin() + first + 1, words_.end()));
  }

  std::string Build(uint16_t msg_id, const std::vector<std::string>& assignments) {
    std::string error;
    auto record = BuildOutgoingRecord(msg_id, assignments, &error);
    if (!record) return error;
    step_.kind = ScenarioStep::Kind::kRecord;
    step_.msg_id = msg_id;
    step_.record = std::move(*record);
    return "";
  }

  std::string Disconnect() {
    if (auto e = Count(3, 3, "disconnect copy|address USN"); !e.empty()) return e;
    words_.back() = "USN=" + words_.back();
    return Record(GAMESERVERMSG_USER_DISCONNECTED, 1);
  }

  std::string LogSerial() {
    if (auto e = Count(2, 2, "log-serial TEXT (quote a text with spaces)"); !e.empty()) return e;
    return Build(GAMESERVERMSG_LOG_SERIAL, {"text=" + words_[1]});
  }

  std::string AddressTable() {
    step_.by_address = true;
    return Build(GAMESERVERMSG_RWPM_ADDRESS_TABLE,
                 std::vector<std::string>(words_.begin() + 1, words_.end()));
  }

  std::string UccMapLoad() {
    if (auto e = Count(5, 5, "ucc-map-load MAP ROUND MATCH PACKAGE"); !e.empty()) return e;
    return Build(GAMESERVERMSG_UCC_MAP_LOAD, {"MapIndex=" + words_[1], "RoundType=" + words_[2],
                                              "MatchType=" + words_[3], "MapName=" + words_[4]});
  }

  std::string Send() {
    if (words_.size() < 3) return "usage: send NAME copy|address [FIELD=VALUE ...]";
    const auto id = MessageId(words_[1]);
    if (!id) return "unknown message \"" + words_[1] + "\"";
    if (!IsOutgoingRecordId(*id)) return words_[1] + " is not a manager-to-host record";
    return Record(*id, 2);
  }

  std::string PostAny() {
    if (auto e = Count(2, 3, "post NAME|ID [LPARAM]"); !e.empty()) return e;
    const auto id = MessageId(words_[1]);
    if (!id) return "unknown message \"" + words_[1] + "\"";
    const auto l_param = words_.size() == 3 ? ParseSigned(words_[2]) : std::optional<int64_t>(0);
    if (!l_param) return "LPARAM must be a number";
    step_.kind = ScenarioStep::Kind::kPost;
    step_.msg_id = *id;
    step_.l_param = *l_param;
    return "";
  }

  std::string Console() {
    if (words_.size() < 2) return "usage: console TEXT";
    std::string text;
    for (size_t i = 1; i < words_.size(); ++i) text += (i > 1 ? " " : "") + words_[i];
    step_.kind = ScenarioStep::Kind::kConsole;
    step_.console = text;
    scenario_.uses_console = true;
    return "";
  }

  std::string Wait() {
    if (auto e = Count(2, 2, "wait MS"); !e.empty()) return e;
    const auto ms = ParseUnsigned(words_[1], kMaxWaitMs);
    if (!ms) return "MS must be 0 to " + std::to_string(kMaxWaitMs);
    step_.kind = ScenarioStep::Kind::kWait;
    step_.wait_ms = static_cast<uint32_t>(*ms);
    return "";
  }

  std::string Expect() {
    if (words_.size() < 2) return "usage: expect NAME|ID [within MS] [FIELD=VALUE ...]";
    const auto id = MessageId(words_[1]);
    const bool unnamed = words_[1].rfind("UNNAMED_", 0) == 0 &&
                         ParseUnsigned(words_[1].substr(8), GAMESERVERMSG_MAX - 1);
    if (!id && !unnamed) return "unknown message \"" + words_[1] + "\"";
    step_.kind = ScenarioStep::Kind::kExpect;
    step_.expect_name = unnamed ? words_[1] : ManagerMessageNameOf(*id);
    step_.wait_ms = kDefaultExpectMs;
    size_t next = 2;
    if (words_.size() > next && words_[next] == "within") {
      const auto ms =
          words_.size() > next + 1 ? ParseUnsigned(words_[next + 1], kMaxWaitMs) : std::nullopt;
      if (!ms) return "within needs MS (0 to " + std::to_string(kMaxWaitMs) + ")";
      step_.wait_ms = static_cast<uint32_t>(*ms);
      next += 2;
    }
    for (; next < words_.size(); ++next) {
      const size_t equals = words_[next].find('=');
      if (equals == std::string::npos || equals == 0) {
        return "\"" + words_[next] + "\" is not FIELD=VALUE";
      }
      step_.checks.emplace_back(words_[next].substr(0, equals), words_[next].substr(equals + 1));
    }
    return "";
  }

  static std::string ManagerMessageNameOf(uint16_t id) {
    const char* name = proto::GameServerMsgName(id);
    return name ? name : "UNNAMED_" + std::to_string(id);
  }

  std::string Room() {
    if (auto e = Count(2, 2, "room N|all"); !e.empty()) return e;
    step_.kind = ScenarioStep::Kind::kRoom;
    if (words_[1] == "all") {
      step_.room = -1;
      return "";
    }
    const auto room = ParseUnsigned(words_[1], 199);
    if (!room) return "room must be 0 to 199 or all";
    step_.room = static_cast<int>(*room);
    return "";
  }

  std::string Ini() {
    if (auto e = Count(5, 5, "ini FILE SECTION KEY VALUE"); !e.empty()) return e;
    const std::string& file = words_[1];
    if (file.empty() || file.find('/') != std::string::npos || file == "." || file == "..") {
      return "FILE must be a plain file name in the room's folder";
    }
    for (size_t i = 2; i < 5; ++i) {
      if (words_[i].find_first_of("\r\n[]") != std::string::npos ||
          (i == 3 && words_[i].find('=') != std::string::npos)) {
        return "SECTION, KEY and VALUE cannot hold line breaks or brackets; KEY no '='";
      }
    }
    scenario_.ini.push_back({file, words_[2], words_[3], words_[4]});
    return "ini";  // not a step
  }

  Scenario& scenario_;
  ScenarioStep& step_;
  std::vector<std::string> words_;
};

}  // namespace

std::optional<std::vector<std::string>> SplitWords(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    std::string word;
    bool quoted = false;
    for (; i < line.size(); ++i) {
      const char c = line[i];
      if (quoted) {
        if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
          word += line[++i];
        } else if (c == '"') {
          quoted = false;
        } else {
          word += c;
        }
      } else if (c == '"') {
        quoted = true;
      } else if (c == ' ' || c == '\t') {
        break;
      } else {
        word += c;
      }
    }
    if (quoted) return std::nullopt;
    words.push_back(std::move(word));
  }
  return words;
}

std::optional<std::string> ExpandVariables(std::string_view line, std::string* error) {
  std::string out;
  size_t i = 0;
  while (i < line.size()) {
    if (line.substr(i, 2) != "${") {
      out += line[i++];
      continue;
    }
    const size_t close = line.find('}', i);
    if (close == std::string_view::npos) {
      *error = "unterminated ${";
      return std::nullopt;
    }
    const std::string name(line.substr(i + 2, close - i - 2));
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value == nullptr) {
      *error = "environment variable \"" + name + "\" is not set";
      return std::nullopt;
    }
    out += value;
    i = close + 1;
  }
  return out;
}

std::optional<Scenario> ParseScenario(std::string_view text, std::string* error) {
  Scenario scenario;
  int number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view raw = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    const std::string_view line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;

    std::string why;
    const auto expanded = ExpandVariables(line, &why);
    const auto words = expanded ? SplitWords(*expanded) : std::nullopt;
    if (expanded && !words) why = "unterminated quote";
    if (words && words->empty()) continue;
    ScenarioStep step;
    step.line = number;
    step.text = std::string(line);
    if (words) why = LineParser(scenario, step, *words).Parse();
    if (why == "ini") continue;
    if (!why.empty()) {
      *error = "line " + std::to_string(number) + ": " + why;
      return std::nullopt;
    }
    scenario.steps.push_back(std::move(step));
  }
  return scenario;
}

std::optional<Scenario> LoadScenario(const std::string& path, std::string* error) {
  if (path == "demo") return ParseScenario(DemoScenarioText(), error);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  auto scenario = ParseScenario(text.str(), error);
  if (!scenario) *error = path + ": " + *error;
  return scenario;
}

}  // namespace gsmsim

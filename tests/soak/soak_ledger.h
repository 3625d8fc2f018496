// The soak's account of every message the manager sent: sent, answered, or
// refused with a log line. A message in none of these, and an answer that
// matches no message sent, both fail the soak.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "gsmsim/peer/manager_peer.h"
#include "platform/window.h"
#include "protocol/gameservermsg.h"

namespace soak {

enum class Kind {
  kHeartbeat,
  kLoadMap,
  kGameInfo,
  kUserJoin,
  kUserJoinRoom,
  kUserLeave,
  kReset,
  kUnsupported,
  kUccLoad,
  kUccWait,
  kCount
};
inline constexpr size_t kKinds = static_cast<size_t>(Kind::kCount);
inline constexpr std::array<const char*, kKinds> kKindNames = {
    "heartbeat",
    "map load",
    "game info (START_HOST)",
    "user joins (host's INSERTCHARACTER_ACK)",
    "user joins (module's ADDCLIENT)",
    "user leaves (module's REMOVECLIENT)",
    "reset (module's delivery trace)",
    "unsupported id (log line)",
    "content map load (stalled server): download failed",
    "content map load (stalled server): wait timed out"};

struct Tally {
  uint64_t sent = 0;            // handed to the transport
  uint64_t not_posted = 0;      // the transport refused the post (not counted as sent)
  uint64_t acknowledged = 0;    // answered
  uint64_t refused_logged = 0;  // refused by the host with a log line
  // Negative when more answers came than messages were sent.
  int64_t Unaccounted() const {
    return static_cast<int64_t>(sent) - static_cast<int64_t>(acknowledged) -
           static_cast<int64_t>(refused_logged);
  }
};

// The host's server index and the kind an incoming message answers; no
// kind when it answers nothing the soak sends.
struct Answer {
  int16_t tindex = -1;
  std::optional<Kind> kind;
  uint16_t msg_id = 0;
};

// Maps at or above ucc_map_base are content loads'. Nothing for a message
// that is not a manager message or a payload too short for its server index.
inline std::optional<Answer> Classify(const gsmsim::ReceivedMessage& message, int ucc_map_base) {
  Answer answer;
  if (message.kind == gsmsim::ReceivedMessage::Kind::kPost) {
    if (message.msg != WM_GAMESERVERMSG) return std::nullopt;
    const auto w = static_cast<uint64_t>(message.w_param);
    answer.msg_id = static_cast<uint16_t>(w & 0xFFFF);
    answer.tindex = static_cast<int16_t>((w >> 16) & 0xFFFF);
    const auto value = static_cast<uint64_t>(message.l_param);
    const auto map = static_cast<int16_t>((value >> 16) & 0xFFFF);
    // The low word is -1 - reason; reason 6 is the package wait's end.
    const Kind load = map < ucc_map_base           ? Kind::kLoadMap
                      : (value & 0xFFFF) == 0xFFF9 ? Kind::kUccWait
                                                   : Kind::kUccLoad;
    const std::pair<int, Kind> posted[] = {{GAMESERVERMSG_HOST_HEARTBEAT_ACK, Kind::kHeartbeat},
                                           {GAMESERVERMSG_START_HOST_ACK, Kind::kGameInfo},
                                           {GAMESERVERMSG_ADDCLIENT, Kind::kUserJoinRoom},
                                           {GAMESERVERMSG_LOADING_COMPLETE, load}};
    for (const auto& [id, kind] : posted) {
      if (id == answer.msg_id) answer.kind = kind;
    }
    return answer;
  }
  if (message.msg != platform::kWmCopyData || message.data.size() < 2) return std::nullopt;
  int16_t tindex = 0;
  std::memcpy(&tindex, message.data.data(), sizeof tindex);
  answer.tindex = tindex;
  answer.msg_id = static_cast<uint16_t>(message.dw_data);
  if (message.dw_data == GAMESERVERMSG_INSERTCHARACTER_ACK) answer.kind = Kind::kUserJoin;
  if (message.dw_data == GAMESERVERMSG_REMOVECLIENT) answer.kind = Kind::kUserLeave;
  return answer;
}

class Ledger {
 public:
  explicit Ledger(int hosts) : rooms_(static_cast<size_t>(hosts)) {}

  int hosts() const { return static_cast<int>(rooms_.size()); }

  // Sends as they go; after the run, the answers read from files.
  void Add(int host, Kind kind, uint64_t Tally::*field, uint64_t count = 1) {
    Room& room = At(host);
    {
      std::lock_guard lock(room.mutex);
      room.tallies[static_cast<size_t>(kind)].*field += count;
    }
    room.changed.notify_all();
  }
  // False (and counted as a stray) for an index that is no host's or a
  // message that answers nothing.
  bool Record(const Answer& answer) {
    if (!answer.kind || answer.tindex < 0 || answer.tindex >= hosts()) {
      std::lock_guard lock(stray_mutex_);
      ++strays_[{answer.tindex, answer.msg_id}];
      return false;
    }
    Add(answer.tindex, *answer.kind, &Tally::acknowledged);
    return true;
  }
  Tally Get(int host, Kind kind) const {
    Room& room = At(host);
    std::lock_guard lock(room.mutex);
    return room.tallies[static_cast<size_t>(kind)];
  }
  Tally Total(Kind kind) const {
    Tally total;
    for (int h = 0; h < hosts(); ++h) {
      const Tally t = Get(h, kind);
      for (auto field :
           {&Tally::sent, &Tally::not_posted, &Tally::acknowledged, &Tally::refused_logged}) {
        total.*field += t.*field;
      }
    }
    return total;
  }
  // Until each kind has as many answers as sends for this host.
  bool WaitSettled(int host, std::initializer_list<Kind> kinds,
                   std::chrono::milliseconds timeout) const {
    Room& room = At(host);
    std::unique_lock lock(room.mutex);
    return room.changed.wait_for(lock, timeout, [&] {
      for (Kind kind : kinds) {
        const Tally& t = room.tallies[static_cast<size_t>(kind)];
        if (t.acknowledged < t.sent) return false;
      }
      return true;
    });
  }
  // (server index, id) -> count.
  std::map<std::pair<int, int>, uint64_t> Strays() const {
    std::lock_guard lock(stray_mutex_);
    return strays_;
  }

  // One line per host and kind whose account does not balance.
  std::vector<std::string> Problems() const {
    std::vector<std::string> problems;
    for (int h = 0; h < hosts(); ++h) {
      for (size_t k = 0; k < kKinds; ++k) {
        const Tally t = Get(h, static_cast<Kind>(k));
        if (t.Unaccounted() == 0) continue;
        std::ostringstream line;
        line << "host " << h << ", " << kKindNames[k] << ": sent " << t.sent << ", acknowledged "
             << t.acknowledged << ", refused with a log line " << t.refused_logged << " ("
             << (t.Unaccounted() > 0 ? std::to_string(t.Unaccounted()) + " unaccounted"
                                     : std::to_string(-t.Unaccounted()) + " answers too many")
             << ")";
        problems.push_back(line.str());
      }
    }
    return problems;
  }
  // Totals per kind as a Markdown table, their sums, and Problems().
  std::string Summary() const {
    std::ostringstream out;
    out << "| message | sent | not posted (queue full) | acknowledged | refused with a log line "
           "| unaccounted |\n|---|---:|---:|---:|---:|---:|\n";
    uint64_t sent = 0, settled = 0;
    for (size_t k = 0; k < kKinds; ++k) {
      const Tally t = Total(static_cast<Kind>(k));
      out << "| " << kKindNames[k] << " | " << t.sent << " | " << t.not_posted << " | "
          << t.acknowledged << " | " << t.refused_logged << " | " << t.Unaccounted() << " |\n";
      sent += t.sent;
      settled += t.acknowledged + t.refused_logged;
    }
    const std::vector<std::string> problems = Problems();
    out << "\nIn all " << sent << " messages sent, " << settled
        << " acknowledged or refused with a log line; " << problems.size()
        << " room accounts that do not balance.\n";
    for (const std::string& p : problems) out << "- " << p << "\n";
    return out.str();
  }

 private:
  struct Room {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::array<Tally, kKinds> tallies;
  };
  Room& At(int host) const { return rooms_.at(static_cast<size_t>(host)); }

  mutable std::deque<Room> rooms_;
  mutable std::mutex stray_mutex_;
  std::map<std::pair<int, int>, uint64_t> strays_;
};

}  // namespace soak

// The soak's account of every message the manager sent: sent, answered, or
// refused with a log line. A message in none of these, and an answer that
// matches no message sent, both fail the soak.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gsmsim/peer/manager_peer.h"

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

// Maps at or above ucc_map_base are the content loads', whose failed download
// (reason 5) and package wait's end (reason 6) the low word tells apart.
// Nothing for a message that is not a manager message or a copy-data
// payload too short for its server index.
std::optional<Answer> Classify(const gsmsim::ReceivedMessage& message, int ucc_map_base);

class Ledger {
 public:
  explicit Ledger(int hosts) : rooms_(static_cast<size_t>(hosts)) {}

  int hosts() const { return static_cast<int>(rooms_.size()); }

  // Sends as they go; after the run, the answers read from files.
  void Add(int host, Kind kind, uint64_t Tally::*field, uint64_t count = 1);
  // False (and counted as a stray) for an index that is no host's or a
  // message that answers nothing.
  bool Record(const Answer& answer);
  Tally Get(int host, Kind kind) const;
  Tally Total(Kind kind) const;
  // Until each kind has as many answers as sends for this host.
  bool WaitSettled(int host, std::initializer_list<Kind> kinds,
                   std::chrono::milliseconds timeout) const;
  // (server index, id) -> count.
  std::map<std::pair<int, int>, uint64_t> Strays() const;

  // One line per host and kind whose account does not balance.
  std::vector<std::string> Problems() const;
  // Totals per kind as a Markdown table, their sums, and Problems().
  std::string Summary() const;

 private:
  struct Room {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::array<Tally, kKinds> tallies;
  };
  Room& At(int host) const;

  mutable std::deque<Room> rooms_;
  mutable std::mutex stray_mutex_;
  std::map<std::pair<int, int>, uint64_t> strays_;
};

}  // namespace soak

// The soak's message account.
#include "soak_ledger.h"

#include <cstring>
#include <sstream>

#include "platform/window.h"
#include "protocol/gameservermsg.h"

namespace soak {

std::optional<Answer> Classify(const gsmsim::ReceivedMessage& message, int ucc_map_base) {
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

Ledger::Room& Ledger::At(int host) const {
  return rooms_.at(static_cast<size_t>(host));
}

bool Ledger::Record(const Answer& answer) {
  if (!answer.kind || answer.tindex < 0 || answer.tindex >= hosts()) {
    std::lock_guard lock(stray_mutex_);
    ++strays_[{answer.tindex, answer.msg_id}];
    return false;
  }
  Add(answer.tindex, *answer.kind, &Tally::acknowledged);
  return true;
}

void Ledger::Add(int host, Kind kind, uint64_t Tally::*field, uint64_t count) {
  Room& room = At(host);
  {
    std::lock_guard lock(room.mutex);
    room.tallies[static_cast<size_t>(kind)].*field += count;
  }
  room.changed.notify_all();
}

Tally Ledger::Get(int host, Kind kind) const {
  Room& room = At(host);
  std::lock_guard lock(room.mutex);
  return room.tallies[static_cast<size_t>(kind)];
}

Tally Ledger::Total(Kind kind) const {
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

bool Ledger::WaitSettled(int host, std::initializer_list<Kind> kinds,
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

std::map<std::pair<int, int>, uint64_t> Ledger::Strays() const {
  std::lock_guard lock(stray_mutex_);
  return strays_;
}

std::vector<std::string> Ledger::Problems() const {
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

std::string Ledger::Summary() const {
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

}  // namespace soak

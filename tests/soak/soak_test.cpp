// The soak: many real ServerApp processes with the reference module under
// gsmsim's manager peer, at a high rate, with faults. docs/soak.md describes
// the phases, the account, the checks and the settings (SERVERAPP_SOAK_*).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "gsmsim/peer/manager_peer.h"
#include "platform/process.h"
#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "soak_ledger.h"
#include "support/content_server.h"
#include "support/scratch.h"

namespace soak {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kUccMapBase = 900;
constexpr uint16_t kUnsupportedId = GAMESERVERMSG_HOST_HEARTBEAT_ACK;  // a host-to-manager id
constexpr uint16_t kShutdownId = 20;                                   // the host's last post
constexpr char kTable[] = "rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz";

double EnvNumber(const char* name, double fallback) {
  const char* text = ::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  return end != text && *end == '\0' && value > 0 ? value : fallback;
}

struct Settings {
  int hosts = static_cast<int>(EnvNumber("SERVERAPP_SOAK_HOSTS", 50));
  double seconds = EnvNumber("SERVERAPP_SOAK_SECONDS", 600);
  int heartbeat_ms = static_cast<int>(EnvNumber("SERVERAPP_SOAK_HEARTBEAT_MS", 200));
  int pause_ms = static_cast<int>(EnvNumber("SERVERAPP_SOAK_PAUSE_MS", 50));
  int watchdog_ms = 1000;  // at least the heartbeat period, as the watchdog asks
  uint64_t rss_tolerance_kib =
      static_cast<uint64_t>(EnvNumber("SERVERAPP_SOAK_RSS_TOLERANCE_KIB", 1024));
  double idle_cpu_limit_percent = EnvNumber("SERVERAPP_SOAK_IDLE_CPU_PERCENT", 2.0);
};

// What a room is for, by server index: every tenth room idle (9, 19, ...),
// every fifth a watchdog room (1, 6, ...), one in 25 crashes (3, 28, ...),
// one in 25 loads from the stalled server (8, 33, ...). No index has two of
// these; room 0 publishes the log-text table and only carries traffic.
struct RoomRole {
  bool idle = false;      // heartbeats only: its CPU is measured
  bool watchdog = false;  // HeartbeatWatchdogMs set: ends while the manager is away
  bool crash = false;     // its module faults on purpose (console "crash null")
  bool stall = false;     // loads content packages from a stalled server
  bool traffic() const { return !idle; }
};

RoomRole RoleOf(int i) {
  return {i % 10 == 9, i % 5 == 1, i % 25 == 3, i % 25 == 8};
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  ASSERT_TRUE(out << text) << "cannot write " << path;
}

// The files of one instance folder ("<group>_<index>") anywhere under the
// log base whose names start with `prefix` and end with `suffix`.
std::vector<fs::path> FilesOf(const fs::path& log_base, const std::string& instance,
                              std::string_view prefix, std::string_view suffix) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(log_base, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (it->is_regular_file() && it->path().parent_path().filename() == instance &&
        name.starts_with(prefix) && name.ends_with(suffix)) {
      files.push_back(it->path());
    }
  }
  return files;
}

uint64_t Occurrences(const fs::path& file, const std::string& text) {
  const std::string haystack = testsupport::ReadFile(file);
  uint64_t count = 0;
  for (size_t at = 0; (at = haystack.find(text, at)) != std::string::npos; at += text.size()) {
    ++count;
  }
  return count;
}

// VmRSS (KiB) and user plus system CPU (s); nothing once the process is gone.
struct Sample {
  std::optional<uint64_t> rss_kib;
  std::optional<double> cpu_seconds;
};

Sample SampleOf(uint32_t pid) {
  Sample sample;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line) && !sample.rss_kib;) {
    if (line.starts_with("VmRSS:")) sample.rss_kib = std::stoull(line.substr(6));
  }
  // The command name may hold spaces and parentheses: field 2 ends at the last ')'.
  const std::string stat = testsupport::ReadFile("/proc/" + std::to_string(pid) + "/stat");
  std::istringstream in(stat.substr(std::min(stat.size(), stat.rfind(')') + 1)));
  const std::vector<std::string> fields{std::istream_iterator<std::string>(in), {}};
  if (fields.size() >= 13) {
    sample.cpu_seconds = static_cast<double>(std::stoull(fields[11]) + std::stoull(fields[12])) /
                         static_cast<double>(::sysconf(_SC_CLK_TCK));
  }
  return sample;
}

// Polls `done` every 20 ms until it holds or `until` has passed.
template <typename Done>
bool WaitUntil(Clock::time_point until, Done done) {
  while (!done()) {
    if (Clock::now() >= until) return done();
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// Swaps two paths in one step (a file and a folder may trade places).
bool Exchange(const fs::path& a, const fs::path& b) {
  return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

class Soak : public ::testing::Test {
 protected:
  struct Room {
    const int index;
    const RoomRole role;
    const fs::path folder;
    std::unique_ptr<platform::Process> process;
    std::atomic<platform::WindowHandle> window{0};
    std::atomic<bool> active{false};
    std::timed_mutex game;  // held by the driver for a game, by the main thread for a fault
    std::atomic<int64_t> last_heartbeat_ns{0};
    Sample start, end;  // after the warm-up; at the end or before the room's planned end
    uint64_t load_maps_in_outage = 0;
    std::string fate = "ran to the end";
    std::vector<double> ucc_seconds;
    std::atomic<uint64_t> cycles{0};

    // The module's deliveries of RESET, from its trace.
    uint64_t Resets() const {
      return Occurrences(folder / "trace.txt", " SendToServerShell id=8 reset");
    }
  };

  void SetUp() override {
    ASSERT_GE(settings_.hosts, 1);
    ASSERT_LE(settings_.hosts, 200);  // server indexes 0 to 199
    root_ = testsupport::MakeScratchFolder("soak-");
    log_base_ = root_ / "log";
    fs::create_directories(log_base_);
    ledger_ = std::make_unique<Ledger>(settings_.hosts);
    // Each package request stalls 15 s, longer than a host waits (10 s), then
    // frees its thread: stalls until released would drain the server's pool.
    std::string why;
    ASSERT_TRUE(content_.Start(&why)) << why;
    ASSERT_EQ(content_.Control("/_control/content?mode=stall&ms=15000"), 200);
  }

  void TearDown() override {
    StopTraffic();
    content_.Stop();
    for (auto& room : rooms_) room->process.reset();  // kills what still runs
    manager_.reset();
    if (HasFailure() || ::getenv("SERVERAPP_SOAK_KEEP") != nullptr) {
      std::cout << "soak folder kept: " << root_ << "\n";
    } else {
      std::error_code ignored;
      fs::remove_all(root_, ignored);
    }
  }

  Room& R(int i) { return *rooms_[static_cast<size_t>(i)]; }
  std::string Instance(int i) const { return "1_" + std::to_string(i); }

  // Occurrences of `text` in the host's main logs (error_*.log).
  uint64_t CountHostLog(int i, const std::string& text) const {
    uint64_t count = 0;
    for (const fs::path& log : FilesOf(log_base_, Instance(i), "error_", "")) {
      count += Occurrences(log, text);
    }
    return count;
  }

  // The room's ini files and log-text table, and its ServerApp (stdin a pipe
  // for crash rooms). The room stays preparing for the whole soak, so that
  // every heartbeat has an answer to account for.
  void StartRoom(Room& room, const std::string& url, const std::string& session) {
    fs::create_directories(room.folder / "rez" / "NationMsz");
    fs::create_directories(room.folder / "ucc");
    fs::copy_file(fs::path(SERVERAPP_DIST_DIR) / kTable, room.folder / kTable);
    std::string setting = "[GameMgmt]\r\nReadProcessMemory=0\r\nWriteProcessMemory=0\r\n";
    if (room.role.watchdog) {
      setting += "HeartbeatWatchdogMs=" + std::to_string(settings_.watchdog_ms) + "\r\n";
    }
    WriteText(room.folder / "Setting.ini", setting + "[LogInfo]\r\nLogLevel=4\r\n");
    WriteText(room.folder / "ReferenceModule.ini",
              "[Module]\nPreparingUpdates=1000000000\nTraceFile=" +
                  (room.folder / "trace.txt").string() + "\n");
    WriteText(room.folder / "UCCSetting.ini",
              "[rezrepositoryinfo]\nRezFilePath=ucc\n[fileserverurl]\nServerURL=" + url + "\n");
    platform::ProcessOptions options;
    options.program = std::string(SERVERAPP_DIST_DIR) + "/ServerApp";
    options.args = {std::to_string(manager_->handle()), std::to_string(40000 + room.index),
                    std::to_string(room.index), "0", "1"};
    options.working_directory = room.folder.string();
    options.environment = {{"SERVERAPP_LOG_BASE", log_base_.string()},
                           {"SERVERAPP_SHM_SESSION", session}};
    if (room.role.crash) options.environment.emplace_back("SERVERAPP_CONSOLE", "1");
    options.std_in = room.role.crash ? platform::StdStream::kPipe : platform::StdStream::kNull;
    // Fifty hosts echo every log line; nobody would drain the pipes.
    options.std_out = platform::StdStream::kNull;
    options.std_err = platform::StdStream::kNull;
    std::string error;
    room.process = platform::Process::Start(options, &error);
    ASSERT_NE(room.process, nullptr) << error;
  }

  bool StartManager(platform::WindowHandle handle) {
    gsmsim::ManagerPeer::Options options;
    options.handle = handle;
    options.keep_records = false;  // ten minutes of records would be the growth we look for
    for (int attempt = 0; attempt < 50; ++attempt) {
      if (auto peer = gsmsim::ManagerPeer::Start(options)) {
        peer->SetOnMessage([this](const gsmsim::ReceivedMessage& m) { OnManagerMessage(m); });
        manager_ = std::move(peer);
        return true;
      }
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }

  void OnManagerMessage(const gsmsim::ReceivedMessage& message) {
    const std::optional<Answer> answer = Classify(message, kUccMapBase);
    if (!answer) return;  // not a manager message
    if (!answer->kind && answer->msg_id == GAMESERVERMSG_REPORT_HWND) {
      if (answer->tindex >= 0 && answer->tindex < settings_.hosts) {
        R(answer->tindex).window = static_cast<platform::WindowHandle>(message.l_param);
      }
    } else if (!answer->kind && answer->msg_id == kShutdownId) {
      ++shutdown_posts_;
    } else {
      ledger_->Record(*answer);
    }
  }

  // Parks every driver at the end of its game until the answer is destroyed.
  std::vector<std::unique_lock<std::timed_mutex>> Pause() {
    std::vector<std::unique_lock<std::timed_mutex>> parked;
    for (auto& room : rooms_) {
      parked.emplace_back(room->game, std::defer_lock);
      EXPECT_TRUE(parked.back().try_lock_for(120s)) << "room " << room->index << " did not park";
    }
    return parked;
  }

  // Ends the drivers and the heartbeats and waits for their threads.
  void StopTraffic() {
    stop_ = true;
    for (std::thread& t : workers_) t.join();
    workers_.clear();
  }

  void Count(int i, std::initializer_list<Kind> kinds, bool sent) {
    for (Kind kind : kinds) ledger_->Add(i, kind, sent ? &Tally::sent : &Tally::not_posted);
  }

  void PostCounted(int i, Kind kind, uint16_t id, uint64_t l_param) {
    Count(
        i, {kind},
        manager_->Post(R(i).window, WM_GAMESERVERMSG, id, static_cast<platform::LParam>(l_param)));
  }

  // A record by copy data, or (with `buffers`) posted by its address in this
  // process, the buffer kept in `buffers` until the game is over.
  void SendCounted(int i, std::initializer_list<Kind> kinds, uint16_t id,
                   std::span<const std::byte> bytes, std::vector<uint64_t>* buffers = nullptr) {
    if (buffers == nullptr) {
      Count(i, kinds, true);
      manager_->SendCopyData(R(i).window, id, bytes);
      return;
    }
    const uint64_t address = manager_->AddBuffer(bytes);
    const bool posted =
        manager_->Post(R(i).window, WM_GAMESERVERMSG, id, static_cast<platform::LParam>(address));
    Count(i, kinds, posted);
    posted ? buffers->push_back(address) : manager_->ReleaseBuffer(address);
  }

  // One game of a traffic room: a map, a game information every fourth
  // cycle, three users joining (one by address) and leaving (one by
  // address), a reset every tenth cycle, an unsupported id every seventh.
  void Cycle(Room& room, uint64_t c) {
    const int i = room.index;
    const uint64_t map = 1 + c % 20, match = c & 0xFF;
    PostCounted(i, Kind::kLoadMap, GAMESERVERMSG_LOAD_MAP, map | 1u << 16 | match << 24);
    if (in_outage_) ++room.load_maps_in_outage;
    if (c % 4 == 0) {
      SendCounted(i, {Kind::kGameInfo}, GAMESERVERMSG_START_HOST,
                  std::as_bytes(std::span(game_info_.get(), 1)));
    }
    std::vector<uint64_t> buffers;
    const uint64_t usn = (static_cast<uint64_t>(i) + 1) * 1000000000ull + c * 3;
    for (int s = 0; s < 3; ++s) {
      PROTO_GAME_USER_INFO user{};
      user.USN = usn + static_cast<uint64_t>(s);
      user.SlotIdx = s;
      user.TeamIdx = static_cast<int8_t>(s % 2);
      std::snprintf(user.FirstText, sizeof user.FirstText, "soak%d-%d", i, s);
      SendCounted(i, {Kind::kUserJoin, Kind::kUserJoinRoom}, GAMESERVERMSG_INSERTCHARACTER,
                  std::as_bytes(std::span(&user, 1)), s == 1 ? &buffers : nullptr);
    }
    // The module must know a user before it can remove him.
    ledger_->WaitSettled(i, {Kind::kLoadMap, Kind::kGameInfo, Kind::kUserJoin, Kind::kUserJoinRoom},
                         30s);
    for (int s = 0; s < 3; ++s) {
      PROTO_USER_DISCONNECTED gone;
      gone.USN = usn + static_cast<uint64_t>(s);
      SendCounted(i, {Kind::kUserLeave}, GAMESERVERMSG_USER_DISCONNECTED,
                  std::as_bytes(std::span(&gone, 1)), s == 2 ? &buffers : nullptr);
    }
    ledger_->WaitSettled(i, {Kind::kUserLeave}, 30s);
    for (uint64_t address : buffers) manager_->ReleaseBuffer(address);
    if (c % 10 == 9) {
      PostCounted(i, Kind::kReset, GAMESERVERMSG_RESET_ROOM, 0);
      // The reset empties the room on the update thread's next frame; users
      // inserted before it would be removed before they leave.
      const uint64_t wanted = ledger_->Get(i, Kind::kReset).sent;
      WaitUntil(Clock::now() + 30s, [&] { return room.Resets() >= wanted; });
    }
    // Refusals must find a log folder to be written to; stall rooms may sit
    // in a download long enough to reach into an outage, so they send none.
    if (c % 7 == 3 && !no_refusals_ && !room.role.stall) {
      PostCounted(i, Kind::kUnsupported, kUnsupportedId, 0);
    }
  }

  // A map package from the stalled server: given up, the load reported failed.
  void UccLoad(Room& room, int n) {
    stUCCGamePlay play{};
    play.MapIndex = static_cast<uint32_t>(kUccMapBase + n);
    play.RoundType = 1;
    std::snprintf(play.MapName, sizeof play.MapName, "soak-%d-%d.rez", room.index, n);
    const auto start = Clock::now();
    SendCounted(room.index, {Kind::kUccLoad, Kind::kUccWait}, GAMESERVERMSG_UCC_MAP_LOAD,
                std::as_bytes(std::span(&play, 1)));
    ledger_->WaitSettled(room.index, {Kind::kUccLoad}, 60s);
    room.ucc_seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    // A minute later the open request reports the load failed once more; the
    // room waits for it, so that no pause ever finds one outstanding.
    ledger_->WaitSettled(room.index, {Kind::kUccWait}, 120s);
  }

  void DriveRoom(Room& room) {
    const auto ucc_period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::max(20.0, settings_.seconds / 6)));
    auto next_ucc = Clock::now() + ucc_period / 2;
    int ucc = 0;
    for (uint64_t c = 0;; ++c) {
      {
        std::lock_guard game(room.game);
        if (stop_ || !room.active) return;
        Cycle(room, c);
        ++room.cycles;
        if (room.role.stall && Clock::now() >= next_ucc) {
          UccLoad(room, ucc++);
          next_ucc = Clock::now() + ucc_period;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(settings_.pause_ms));
    }
  }

  // Heartbeats run through every fault but the manager's absence: the
  // watchdog rooms must see them stop only when the manager goes.
  void Heartbeats() {
    while (!stop_) {
      {
        std::lock_guard lock(heartbeat_mutex_);
        for (int i = 0; i < settings_.hosts && !hold_heartbeats_; ++i) {
          if (!R(i).active) continue;
          PostCounted(i, Kind::kHeartbeat, GAMESERVERMSG_HOST_HEARTBEAT, 0);
          R(i).last_heartbeat_ns = Clock::now().time_since_epoch().count();
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(settings_.heartbeat_ms));
    }
  }

  void HoldHeartbeats(bool hold) {
    std::lock_guard lock(heartbeat_mutex_);
    hold_heartbeats_ = hold;
  }

  // Every answer the hosts owe (resets and refusals are read at the end).
  void Drain() {
    for (int i = 0; i < settings_.hosts; ++i) {
      if (!R(i).active) continue;
      EXPECT_TRUE(ledger_->WaitSettled(
          i,
          {Kind::kHeartbeat, Kind::kLoadMap, Kind::kGameInfo, Kind::kUserJoin, Kind::kUserJoinRoom,
           Kind::kUserLeave, Kind::kUccLoad, Kind::kUccWait},
          60s))
          << "room " << i << " still owes answers";
    }
  }

  void ExpectActiveRunning(const char* when) {
    for (auto& room : rooms_) {
      EXPECT_TRUE(!room->active || !room->process->Wait(0)) << "room " << room->index << when;
    }
  }

  Clock::time_point At(double fraction) const {
    return start_ + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(settings_.seconds * fraction));
  }

  void Note(const std::string& line) {
    std::ostringstream stamped;
    stamped << "[" << std::fixed << std::setprecision(1)
            << std::chrono::duration<double>(Clock::now() - start_).count() << " s] " << line;
    events_.push_back(stamped.str());
    std::cout << stamped.str() << std::endl;
  }

  uint64_t TotalAcknowledged() const {
    uint64_t total = 0;
    for (size_t k = 0; k < kKinds; ++k) total += ledger_->Total(static_cast<Kind>(k)).acknowledged;
    return total;
  }

  // The active rooms of a role, out of the traffic and sampled a last time.
  std::vector<Room*> Retire(bool RoomRole::*role) {
    std::vector<Room*> retired;
    for (auto& room : rooms_) {
      if (!room->active || !(room->role.*role)) continue;
      retired.push_back(room.get());
      room->active = false;
      room->end = SampleOf(room->process->pid());
    }
    return retired;
  }

  void LogOutage() {
    const double seconds = std::max(5.0, settings_.seconds / 10);
    no_refusals_ = true;
    std::this_thread::sleep_for(3s);  // refusals already sent are logged first
    // The folder and a file trade places atomically both ways: the hosts keep
    // making the folder again, and would win a remove-then-create race.
    const fs::path folder = log_base_ / "quellmark";
    const fs::path swap = log_base_ / "quellmark.swap";
    std::ofstream(swap) << "a file where the log folder was\n";
    ASSERT_TRUE(Exchange(swap, folder)) << std::strerror(errno);
    in_outage_ = true;
    const uint64_t acks_before = TotalAcknowledged();
    Note("log folder replaced by a file for " + std::to_string(static_cast<int>(seconds)) + " s");
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const uint64_t acks_during = TotalAcknowledged() - acks_before;
    ASSERT_TRUE(Exchange(swap, folder)) << std::strerror(errno);
    fs::remove(swap);
    std::this_thread::sleep_for(1s);
    in_outage_ = false;
    no_refusals_ = false;
    Note("log folder back; " + std::to_string(acks_during) + " answers arrived meanwhile");
    EXPECT_GT(acks_during, 0u) << "the hosts stopped working without their log folder";
    ExpectActiveRunning(" ended in the outage");
  }

  void ManagerOutage() {
    auto parked = Pause();
    HoldHeartbeats(true);
    Drain();
    const std::vector<Room*> watchdogs = Retire(&RoomRole::watchdog);
    const platform::WindowHandle handle = manager_->handle();
    manager_.reset();
    const auto killed = Clock::now();
    const double w = settings_.watchdog_ms / 1000.0;
    Note("manager killed; " + std::to_string(watchdogs.size()) + " watchdog rooms");
    std::map<Room*, double> ended_after;  // seconds after the room's last heartbeat
    WaitUntil(killed + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(std::max(6.0, 4 * w + 3))),
              [&] {
                for (Room* room : watchdogs) {
                  if (ended_after.count(room) == 0 && room->process->Wait(0)) {
                    const Clock::time_point last{Clock::duration(room->last_heartbeat_ns.load())};
                    ended_after[room] = std::chrono::duration<double>(Clock::now() - last).count();
                  }
                }
                return false;  // the other rooms must outlast the whole gap
              });
    for (Room* room : watchdogs) {
      const std::optional<platform::ExitStatus> status = room->process->Wait(0);
      ASSERT_TRUE(status) << "watchdog room " << room->index << " still runs without a manager";
      EXPECT_TRUE(status->exited && status->exit_code == 1)
          << "watchdog room " << room->index << " ended with " << status->exit_code << "/"
          << status->signal;
      // Between three and four periods after the last heartbeat; the upper
      // bound leaves room for a loaded machine.
      EXPECT_GE(ended_after[room], 3 * w - 0.3) << "room " << room->index;
      EXPECT_LE(ended_after[room], 4 * w + 2.5) << "room " << room->index;
      std::ostringstream fate;
      fate << "watchdog: ended with exit code " << status->exit_code << " " << std::fixed
           << std::setprecision(2) << ended_after[room] << " s after its last heartbeat";
      room->fate = fate.str();
    }
    ExpectActiveRunning(" ended with the manager");
    ASSERT_TRUE(StartManager(handle));
    Note("manager restarted on window " + std::to_string(handle));
    HoldHeartbeats(false);
  }

  void ModuleCrashes() {
    std::vector<Room*> crashes;
    {
      auto parked = Pause();
      crashes = Retire(&RoomRole::crash);
      Drain();
    }  // the other rooms carry on meanwhile
    for (Room* room : crashes) ASSERT_TRUE(room->process->WriteStdin("crash null\n"));
    Note("module crash in " + std::to_string(crashes.size()) + " rooms");
    for (Room* room : crashes) {
      const std::optional<platform::ExitStatus> status = room->process->Wait(60000);
      ASSERT_TRUE(status) << "crashed room " << room->index << " did not end";
      EXPECT_FALSE(status->exited && status->exit_code == 1)
          << "room " << room->index << " ended normally";
      const std::vector<fs::path> dumps = FilesOf(log_base_, Instance(room->index), "", ".dmp");
      ASSERT_EQ(dumps.size(), 1u) << "room " << room->index;
      std::string magic(4, '\0');
      std::ifstream(dumps[0], std::ios::binary).read(magic.data(), 4);
      EXPECT_EQ(magic, "MDMP") << dumps[0];
      room->fate = "crashed (" +
                   (status->exited ? "exit code " + std::to_string(status->exit_code)
                                   : "signal " + std::to_string(status->signal)) +
                   "), dump " + dumps[0].filename().string() + " (" +
                   std::to_string(fs::file_size(dumps[0])) + " bytes)";
    }
  }

  const Settings settings_;
  fs::path root_, log_base_;
  std::unique_ptr<Ledger> ledger_;
  testsupport::ContentServer content_;
  std::unique_ptr<gsmsim::ManagerPeer> manager_;
  std::vector<std::unique_ptr<Room>> rooms_;
  std::unique_ptr<PROTO_START_HOST> game_info_ = std::make_unique<PROTO_START_HOST>();

  std::mutex heartbeat_mutex_;
  bool hold_heartbeats_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<bool> no_refusals_{false};
  std::atomic<bool> in_outage_{false};
  std::vector<std::thread> workers_;  // the drivers and the heartbeats

  std::atomic<uint64_t> shutdown_posts_{0};
  Clock::time_point start_;
  std::vector<std::string> events_;
};

TEST_F(Soak, HostsUnderTrafficAndFaultsAccountForEveryMessage) {
  ASSERT_TRUE(StartManager(0));
  const std::string session = "soak" + std::to_string(::getpid());
  std::memcpy(game_info_->GameLogSerial, "SOAK-GAME", 9);
  for (int i = 0; i < settings_.hosts; ++i) {
    rooms_.push_back(std::make_unique<Room>(i, RoleOf(i), root_ / ("room" + std::to_string(i))));
  }
  // Room 0 publishes the log-text table the others read: it starts first.
  start_ = Clock::now();
  for (auto& room : rooms_) {
    ASSERT_NO_FATAL_FAILURE(StartRoom(*room, content_.Url(), session));
    ASSERT_TRUE(room->index != 0 ||
                WaitUntil(Clock::now() + 20s, [&] { return room->window != 0; }))
        << "room 0 did not report its window";
  }
  const auto until = Clock::now() + 60s;
  for (auto& room : rooms_) {
    ASSERT_TRUE(WaitUntil(until, [&] { return room->window != 0; }))
        << "room " << room->index << " did not report its window";
    room->active = true;
  }
  start_ = Clock::now();
  Note("all " + std::to_string(settings_.hosts) + " rooms reported their windows");

  workers_.emplace_back([this] { Heartbeats(); });
  for (auto& room : rooms_) {
    if (room->role.traffic()) workers_.emplace_back([this, &r = *room] { DriveRoom(r); });
  }

  // The warm-up lasts until every traffic room has played past its first
  // reset (a room's memory settles there), and at least a tenth of the run.
  std::this_thread::sleep_until(At(0.1));
  for (auto& room : rooms_) {
    WaitUntil(At(0.18),
              [&] { return !room->role.traffic() || !room->active || room->cycles >= 12; });
  }
  for (auto& room : rooms_) room->start = SampleOf(room->process->pid());
  const auto cpu_window_start = Clock::now();
  Note("warm-up over: memory and CPU sampled");
  std::this_thread::sleep_until(At(0.2));
  LogOutage();
  std::this_thread::sleep_until(At(0.45));
  ManagerOutage();
  std::this_thread::sleep_until(At(0.65));
  ModuleCrashes();
  std::this_thread::sleep_until(At(0.9));

  // The end: stop the traffic, collect every answer, sample, and close.
  StopTraffic();
  Drain();
  const double cpu_window = std::chrono::duration<double>(Clock::now() - cpu_window_start).count();
  for (auto& room : rooms_) {
    if (room->active) room->end = SampleOf(room->process->pid());
  }
  Note("traffic stopped and drained");

  // Resets are answered by the module's trace, refusals by the host's log
  // line. Every map load is logged but for those the outage took.
  uint64_t dropped = 0;
  for (auto& room : rooms_) {
    const int i = room->index;
    ledger_->Add(i, Kind::kReset, &Tally::acknowledged, room->Resets());
    ledger_->Add(
        i, Kind::kUnsupported, &Tally::refused_logged,
        CountHostLog(i, "Not Supported Message!!!!! tIndex[" + std::to_string(i) + "], msgID[3]"));
    if (!room->role.traffic()) continue;
    const uint64_t sent = ledger_->Get(i, Kind::kLoadMap).sent;
    const uint64_t logged = CountHostLog(i, "GAMESERVERMSG_LOAD_MAP - tMapIndex[");
    EXPECT_LE(logged, sent) << "room " << i;
    if (logged > sent) continue;
    dropped += sent - logged;
    if (!room->role.stall) {
      EXPECT_LE(sent - logged, room->load_maps_in_outage)
          << "room " << i << " lost lines outside the outage";
    }
  }
  const std::vector<std::string> problems = ledger_->Problems();
  Note("map-load log lines dropped by the outage: " + std::to_string(dropped));
  EXPECT_GT(dropped, 0u) << "the log outage dropped nothing: was the folder really gone?";
  EXPECT_EQ(content_.ContentRequests().size(), ledger_->Total(Kind::kUccLoad).sent);

  for (auto& room : rooms_) {
    EXPECT_TRUE(!room->active ||
                manager_->Post(room->window, WM_GAMESERVERMSG, GAMESERVERMSG_TERMINATE, 0));
  }
  for (auto& room : rooms_) {
    if (!room->active) continue;
    const std::optional<platform::ExitStatus> status = room->process->Wait(20000);
    ASSERT_TRUE(status) << "room " << room->index << " did not end on TERMINATE";
    EXPECT_TRUE(status->exited && status->exit_code == 1) << "room " << room->index;
  }
  Note("every remaining room ended on TERMINATE");

  // The report, and the memory and CPU checks with its rows.
  std::ostringstream out;
  out << "# Soak report\n\n"
      << settings_.hosts << " hosts, " << settings_.seconds << " s, heartbeat every "
      << settings_.heartbeat_ms << " ms, pause between games " << settings_.pause_ms
      << " ms, watchdog period " << settings_.watchdog_ms << " ms.\n\n## Messages\n\n"
      << ledger_->Summary();
  const auto strays = ledger_->Strays();
  out << "\nMessages from hosts that answer nothing sent: " << strays.size() << " kinds";
  for (const auto& [key, count] : strays) {
    out << "; tIndex " << key.first << " id " << key.second << " x" << count;
  }
  out << ". Shutdown posts (20): " << shutdown_posts_ << ".\n\n## Events\n\n";
  for (const std::string& e : events_) out << "- " << e << "\n";
  out << "\n## Rooms\n\nResident memory (VmRSS, KiB) after the warm-up and at the end (or before "
         "the room's planned end); allowed growth "
      << settings_.rss_tolerance_kib << " KiB.\n\n"
      << "| room | role | RSS start | RSS end | growth | CPU % | fate |\n"
      << "|---:|---|---:|---:|---:|---:|---|\n";
  for (auto& room : rooms_) {
    const int i = room->index;
    const RoomRole& role = room->role;
    out << "| " << i << " | " << (role.idle ? "idle" : "traffic")
        << (role.watchdog ? ", watchdog" : "") << (role.crash ? ", crash" : "")
        << (role.stall ? ", stalled content" : "") << " | ";
    // An unsampled value reads as 0 in the report; its check fails.
    EXPECT_TRUE(room->start.rss_kib && room->end.rss_kib) << "room " << i << " was not sampled";
    const uint64_t rss_start = room->start.rss_kib.value_or(0);
    const uint64_t rss_end = room->end.rss_kib.value_or(0);
    const int64_t growth = static_cast<int64_t>(rss_end) - static_cast<int64_t>(rss_start);
    EXPECT_LE(growth, static_cast<int64_t>(settings_.rss_tolerance_kib)) << "room " << i << " grew";
    out << rss_start << " | " << rss_end << " | " << growth << " | " << std::fixed;
    if (role.idle) {
      const Sample &a = room->start, &b = room->end;
      EXPECT_TRUE(a.cpu_seconds && b.cpu_seconds) << "idle room " << i << " was not sampled";
      const double percent =
          100 * (b.cpu_seconds.value_or(0) - a.cpu_seconds.value_or(0)) / cpu_window;
      EXPECT_LE(percent, settings_.idle_cpu_limit_percent) << "idle room " << i;
      out << std::setprecision(3) << percent;
    } else {
      out << "-";
    }
    out << " | " << room->fate;
    for (double s : room->ucc_seconds) {
      out << "; content load given up after " << std::setprecision(1) << s << " s";
    }
    out << " |\n";
  }
  std::cout << out.str();
  const char* path_env = ::getenv("SERVERAPP_SOAK_REPORT");
  const fs::path path = path_env && *path_env ? fs::path(path_env)
                                              : fs::path(SERVERAPP_BINARY_DIR) / "soak-report.md";
  std::ofstream(path) << out.str();
  std::cout << "report written to " << path << "\n";
  EXPECT_TRUE(problems.empty()) << problems.size()
                                << " unbalanced accounts, first: " << problems.front();
  EXPECT_TRUE(strays.empty()) << "hosts sent answers to nothing";
}

}  // namespace
}  // namespace soak

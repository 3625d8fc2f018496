// The soak: many real ServerApp processes with the reference module under a
// manager played by gsmsim's peer library, driven at a high rate while
// faults are made. Every message the manager sends must be accounted for,
// resident memory must not grow and idle rooms must stay idle. docs/soak.md
// describes the phases, the account and the settings (SERVERAPP_SOAK_*).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "content_service.h"
#include "dev_server.h"
#include "gsmsim/peer/manager_peer.h"
#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "soak_ledger.h"
#include "soak_rooms.h"

namespace soak {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kUccMapBase = 900;
constexpr uint16_t kUnsupportedId = GAMESERVERMSG_HOST_HEARTBEAT_ACK;  // a host-to-manager id
constexpr uint16_t kShutdownId = 20;                                   // the host's last post

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

// Swaps two paths in one step (a file and a folder may trade places).
bool Exchange(const fs::path& a, const fs::path& b) {
  return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

template <typename T>
std::span<const std::byte> AsBytes(const T& value) {
  return {reinterpret_cast<const std::byte*>(&value), sizeof(T)};
}

class Soak : public ::testing::Test {
 protected:
  struct Room {
    RoomConfig config;
    std::unique_ptr<platform::Process> process;
    std::atomic<platform::WindowHandle> window{0};
    std::atomic<bool> active{false};
    std::atomic<int64_t> last_heartbeat_ns{0};
    std::optional<uint64_t> rss_start, rss_mid, rss_end;
    std::optional<double> cpu_start, cpu_end;
    uint64_t ack_timeouts = 0;  // cycles whose answers were late (reported)
    uint64_t load_maps_in_outage = 0;
    std::string fate = "ran to the end";
    std::vector<double> ucc_seconds;
    std::unique_ptr<TraceCounter> resets;  // the module's deliveries of RESET
    std::atomic<uint64_t> cycles{0};

    // VmRSS growth in KiB between the first and the last sample.
    std::optional<int64_t> Growth() const {
      if (!rss_start || !rss_end) return std::nullopt;
      return static_cast<int64_t>(*rss_end) - static_cast<int64_t>(*rss_start);
    }
    // CPU time in percent of one core over `window` seconds.
    std::optional<double> CpuPercent(double window) const {
      if (!cpu_start || !cpu_end || window <= 0) return std::nullopt;
      return 100 * (*cpu_end - *cpu_start) / window;
    }
  };

  void SetUp() override {
    ASSERT_GE(settings_.hosts, 1);
    ASSERT_LE(settings_.hosts, 200);  // server indexes 0 to 199
    std::string pattern = (fs::temp_directory_path() / "soak-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    log_base_ = root_ / "log";
    fs::create_directories(log_base_);
    ledger_ = std::make_unique<Ledger>(settings_.hosts);

    // The content server stalls every package request for 15 s, longer than
    // a host waits for a silent server (10 s); then it frees its thread (a
    // stall until released would hold one for good, and the server's pool
    // would run dry: later requests would never reach it).
    content_ = std::make_unique<devhttp::ContentService>("/content/", root_ / "served");
    content_->Register(http_.server());
    ASSERT_GT(http_.Start("127.0.0.1", 0), 0);
    content_->SetBehaviour({devhttp::ContentService::Mode::kStall, 1, 404, 15000});
  }

  void TearDown() override {
    StopTraffic();
    content_->ReleaseStalls();
    http_.Stop();
    for (auto& room : rooms_) room->process.reset();  // kills what still runs
    manager_.reset();
    if (HasFailure() || ::getenv("SERVERAPP_SOAK_KEEP") != nullptr) {
      std::cout << "soak folder kept: " << root_ << "\n";
    } else {
      std::error_code ignored;
      fs::remove_all(root_, ignored);
    }
  }

  // --- the manager ---
  bool StartManager(platform::WindowHandle handle) {
    gsmsim::ManagerPeer::Options options;
    options.handle = handle;
    options.keep_records = false;  // ten minutes of records would be the growth we look for
    for (int attempt = 0; attempt < 50; ++attempt) {
      std::string error;
      auto peer = gsmsim::ManagerPeer::Start(options, &error);
      if (peer) {
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
        rooms_[static_cast<size_t>(answer->tindex)]->window =
            static_cast<platform::WindowHandle>(message.l_param);
      }
      return;
    }
    if (!answer->kind && answer->msg_id == kShutdownId) {
      ++shutdown_posts_;
      return;
    }
    ledger_->Record(*answer);
  }

  // --- the gate: workers park at cycle boundaries while the main thread
  //     makes a fault ---
  // False when the worker is to end.
  bool Checkpoint(const std::function<bool()>& still_wanted) {
    std::unique_lock lock(gate_mutex_);
    if (paused_) {
      ++parked_;
      gate_cv_.notify_all();
      gate_cv_.wait(lock, [&] { return !paused_ || stop_; });
      --parked_;
    }
    return !stop_ && still_wanted();
  }

  void Pause() {
    std::unique_lock lock(gate_mutex_);
    paused_ = true;
    const bool all = gate_cv_.wait_for(lock, 120s, [&] { return parked_ == running_; });
    EXPECT_TRUE(all) << parked_ << " of " << running_ << " workers parked";
  }

  void Resume() { SetGateFlag(paused_, false); }

  // Sets a flag the gate's waiters look at, and wakes them.
  template <typename Flag>
  void SetGateFlag(Flag& flag, bool value) {
    {
      std::lock_guard lock(gate_mutex_);
      flag = value;
    }
    gate_cv_.notify_all();
  }

  // Ends the drivers and the heartbeats and waits for their threads.
  void StopTraffic() {
    SetGateFlag(stop_, true);
    for (std::thread& t : workers_) {
      if (t.joinable()) t.join();
    }
    workers_.clear();
    if (heartbeat_thread_.joinable()) heartbeat_thread_.join();
  }

  void StartWorker(std::function<void()> body) {
    {
      std::lock_guard lock(gate_mutex_);
      ++running_;
    }
    workers_.emplace_back([this, body = std::move(body)] {
      body();
      std::lock_guard lock(gate_mutex_);
      --running_;
      gate_cv_.notify_all();
    });
  }

  // --- sending, counted ---
  void PostCounted(int i, Kind kind, uint16_t id, uint64_t l_param) {
    Room& room = *rooms_[static_cast<size_t>(i)];
    if (manager_->Post(room.window, WM_GAMESERVERMSG, id, static_cast<platform::LParam>(l_param))) {
      ledger_->Sent(i, kind);
    } else {
      ledger_->NotPosted(i, kind);
    }
  }

  // A record by copy data, or (with `buffers`) posted by its address in this
  // process, the buffer kept in `buffers` until the game is over.
  void SendCounted(int i, std::span<const Kind> kinds, uint16_t id,
                   std::span<const std::byte> bytes, std::vector<uint64_t>* buffers = nullptr) {
    Room& room = *rooms_[static_cast<size_t>(i)];
    if (buffers == nullptr) {
      for (Kind kind : kinds) ledger_->Sent(i, kind);
      manager_->SendCopyData(room.window, id, bytes);
      return;
    }
    const uint64_t address = manager_->AddBuffer(bytes);
    if (manager_->Post(room.window, WM_GAMESERVERMSG, id, static_cast<platform::LParam>(address))) {
      for (Kind kind : kinds) ledger_->Sent(i, kind);
      buffers->push_back(address);
    } else {
      for (Kind kind : kinds) ledger_->NotPosted(i, kind);
      manager_->ReleaseBuffer(address);
    }
  }

  bool Settle(int i, std::initializer_list<Kind> kinds, std::chrono::milliseconds timeout) {
    return ledger_->WaitSettled(i, std::span<const Kind>(kinds.begin(), kinds.size()), timeout);
  }

  // One game of a traffic room: a map, a game information every fourth
  // cycle, three users joining (one by address) and leaving (one by
  // address), a reset every tenth cycle, an unsupported id every seventh.
  void Cycle(int i, uint64_t c) {
    Room& room = *rooms_[static_cast<size_t>(i)];
    const uint64_t map = 1 + c % 20, match = c & 0xFF;
    PostCounted(i, Kind::kLoadMap, GAMESERVERMSG_LOAD_MAP, map | 1u << 16 | match << 24);
    if (in_outage_) ++room.load_maps_in_outage;
    if (c % 4 == 0) {
      SendCounted(i, std::array{Kind::kGameInfo}, GAMESERVERMSG_START_HOST, AsBytes(*game_info_));
    }
    std::vector<uint64_t> buffers;
    const uint64_t usn = (static_cast<uint64_t>(i) + 1) * 1000000000ull + c * 3;
    constexpr std::array kJoin{Kind::kUserJoin, Kind::kUserJoinRoom};
    for (int s = 0; s < 3; ++s) {
      PROTO_GAME_USER_INFO user{};
      user.USN = usn + static_cast<uint64_t>(s);
      user.SlotIdx = s;
      user.TeamIdx = static_cast<int8_t>(s % 2);
      std::snprintf(user.FirstText, sizeof user.FirstText, "soak%d-%d", i, s);
      SendCounted(i, kJoin, GAMESERVERMSG_INSERTCHARACTER, AsBytes(user),
                  s == 1 ? &buffers : nullptr);
    }
    // The module must know a user before it can remove him.
    if (!Settle(i, {Kind::kLoadMap, Kind::kGameInfo, Kind::kUserJoin, Kind::kUserJoinRoom}, 30s)) {
      ++room.ack_timeouts;
    }
    for (int s = 0; s < 3; ++s) {
      PROTO_USER_DISCONNECTED gone;
      gone.USN = usn + static_cast<uint64_t>(s);
      SendCounted(i, std::array{Kind::kUserLeave}, GAMESERVERMSG_USER_DISCONNECTED, AsBytes(gone),
                  s == 2 ? &buffers : nullptr);
    }
    if (!Settle(i, {Kind::kUserLeave}, 30s)) ++room.ack_timeouts;
    for (uint64_t address : buffers) manager_->ReleaseBuffer(address);
    if (c % 10 == 9) {
      PostCounted(i, Kind::kReset, GAMESERVERMSG_RESET_ROOM, 0);
      // The reset empties the room on the update thread's next frame: the
      // next game's users must not be inserted before it, or the reset
      // would remove them before they leave.
      const uint64_t wanted = ledger_->Get(i, Kind::kReset).sent;
      const auto until = Clock::now() + 30s;
      while (room.resets->Poll() < wanted && Clock::now() < until) {
        std::this_thread::sleep_for(20ms);
      }
      if (room.resets->Poll() < wanted) ++room.ack_timeouts;
    }
    // Refusals must find a log folder to be written to; stall rooms may sit
    // in a download long enough to reach into an outage, so they send none.
    if (c % 7 == 3 && !no_refusals_ && !room.config.role.stall) {
      PostCounted(i, Kind::kUnsupported, kUnsupportedId, 0);
    }
  }

  // A map package from the stalled server: the host gives the transfer up
  // and reports the load as failed.
  void UccLoad(int i, int n) {
    Room& room = *rooms_[static_cast<size_t>(i)];
    stUCCGamePlay play{};
    play.MapIndex = static_cast<uint32_t>(kUccMapBase + n);
    play.RoundType = 1;
    std::snprintf(play.MapName, sizeof play.MapName, "soak-%d-%d.rez", i, n);
    const auto start = Clock::now();
    SendCounted(i, std::array{Kind::kUccLoad, Kind::kUccWait}, GAMESERVERMSG_UCC_MAP_LOAD,
                AsBytes(play));
    if (!Settle(i, {Kind::kUccLoad}, 60s)) ++room.ack_timeouts;
    room.ucc_seconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    // The request stays open for the package for a minute, then the host
    // reports the load failed once more. The room waits for that report, so
    // that no pause ever finds one outstanding.
    if (!Settle(i, {Kind::kUccWait}, 120s)) ++room.ack_timeouts;
  }

  void DriveRoom(int i) {
    Room& room = *rooms_[static_cast<size_t>(i)];
    const auto ucc_period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::max(20.0, settings_.seconds / 6)));
    auto next_ucc = Clock::now() + ucc_period / 2;
    int ucc = 0;
    for (uint64_t c = 0; Checkpoint([&] { return room.active.load(); }); ++c) {
      Cycle(i, c);
      ++room.cycles;
      if (room.config.role.stall && Clock::now() >= next_ucc) {
        UccLoad(i, ucc++);
        next_ucc = Clock::now() + ucc_period;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(settings_.pause_ms));
    }
  }

  // Heartbeats run through every fault but the manager's absence: the
  // watchdog rooms must see them stop only when the manager goes.
  void Heartbeats() {
    for (;;) {
      {
        std::unique_lock lock(gate_mutex_);
        if (hold_heartbeats_ && !stop_) {
          heartbeats_held_ = true;
          gate_cv_.notify_all();
          gate_cv_.wait(lock, [&] { return !hold_heartbeats_ || stop_; });
          heartbeats_held_ = false;
        }
        if (stop_) return;
      }
      for (int i = 0; i < settings_.hosts; ++i) {
        Room& room = *rooms_[static_cast<size_t>(i)];
        if (!room.active) continue;
        PostCounted(i, Kind::kHeartbeat, GAMESERVERMSG_HOST_HEARTBEAT, 0);
        room.last_heartbeat_ns = Clock::now().time_since_epoch().count();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(settings_.heartbeat_ms));
    }
  }

  // Waits for every answer the host owes (resets and refusals are read
  // from files at the end).
  void Drain() {
    for (int i = 0; i < settings_.hosts; ++i) {
      if (!rooms_[static_cast<size_t>(i)]->active) continue;
      EXPECT_TRUE(Settle(i,
                         {Kind::kHeartbeat, Kind::kLoadMap, Kind::kGameInfo, Kind::kUserJoin,
                          Kind::kUserJoinRoom, Kind::kUserLeave, Kind::kUccLoad, Kind::kUccWait},
                         60s))
          << "room " << i << " still owes answers";
    }
  }

  void SleepUntil(double fraction) {
    const auto until = start_ + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(settings_.seconds * fraction));
    std::this_thread::sleep_until(until);
  }

  double Elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

  void Note(const std::string& line) {
    std::ostringstream stamped;
    stamped << "[" << std::fixed << std::setprecision(1) << Elapsed() << " s] " << line;
    events_.push_back(stamped.str());
    std::cout << stamped.str() << std::endl;
  }

  uint64_t TotalAcknowledged() const {
    uint64_t total = 0;
    for (size_t k = 0; k < kKinds; ++k) total += ledger_->Total(static_cast<Kind>(k)).acknowledged;
    return total;
  }

  void SampleStart() {
    for (auto& room : rooms_) {
      if (!room->active) continue;
      room->rss_start = ResidentKiB(room->process->pid());
      room->cpu_start = CpuSeconds(room->process->pid());
    }
    cpu_window_start_ = Clock::now();
  }

  void SampleEnd(Room& room) {
    room.rss_end = ResidentKiB(room.process->pid());
    room.cpu_end = CpuSeconds(room.process->pid());
  }

  std::string Instance(int i) const { return "1_" + std::to_string(i); }

  // --- the faults ---
  void LogOutage() {
    const double seconds = std::max(5.0, settings_.seconds / 10);
    no_refusals_ = true;
    std::this_thread::sleep_for(3s);  // refusals already sent are logged first
    // The folder and a file trade places atomically, both ways: the hosts
    // keep trying to make the folder again, so a remove-then-create would
    // race with them.
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
    std::error_code ignored;
    fs::remove(swap, ignored);
    std::this_thread::sleep_for(1s);
    in_outage_ = false;
    no_refusals_ = false;
    Note("log folder back; " + std::to_string(acks_during) + " answers arrived meanwhile");
    EXPECT_GT(acks_during, 0u) << "the hosts stopped working without their log folder";
    for (int i = 0; i < settings_.hosts; ++i) {
      Room& room = *rooms_[static_cast<size_t>(i)];
      if (room.active) {
        EXPECT_FALSE(room.process->Wait(0)) << "room " << i << " ended in the outage";
      }
    }
  }

  void ManagerOutage() {
    Pause();
    Drain();
    {
      std::unique_lock lock(gate_mutex_);
      hold_heartbeats_ = true;
      EXPECT_TRUE(gate_cv_.wait_for(lock, 60s, [&] { return heartbeats_held_; }));
    }
    Drain();
    std::vector<int> watchdogs;
    for (int i = 0; i < settings_.hosts; ++i) {
      Room& room = *rooms_[static_cast<size_t>(i)];
      if (room.active) room.rss_mid = ResidentKiB(room.process->pid());
      if (room.active && room.config.role.watchdog) {
        watchdogs.push_back(i);
        room.active = false;  // its worker ends when released
        SampleEnd(room);
      }
    }
    const platform::WindowHandle handle = manager_->handle();
    manager_.reset();
    const auto killed = Clock::now();
    const double w = settings_.watchdog_ms / 1000.0;
    const double gap = std::max(6.0, 4 * w + 3);
    Note("manager killed; " + std::to_string(watchdogs.size()) + " watchdog rooms");
    std::map<int, double> ended_after;  // seconds after the room's last heartbeat
    while (Clock::now() - killed < std::chrono::duration<double>(gap)) {
      for (int i : watchdogs) {
        Room& room = *rooms_[static_cast<size_t>(i)];
        if (ended_after.count(i) == 0 && room.process->Wait(0)) {
          const auto last = Clock::time_point(Clock::duration(room.last_heartbeat_ns.load()));
          ended_after[i] = std::chrono::duration<double>(Clock::now() - last).count();
        }
      }
      std::this_thread::sleep_for(20ms);
    }
    for (int i : watchdogs) {
      Room& room = *rooms_[static_cast<size_t>(i)];
      const std::optional<platform::ExitStatus> status = room.process->Wait(0);
      ASSERT_TRUE(status) << "watchdog room " << i << " still runs without a manager";
      EXPECT_TRUE(status->exited && status->exit_code == 1)
          << "watchdog room " << i << " ended with " << status->exit_code << "/" << status->signal;
      // Between three and four periods after the last heartbeat; the upper
      // bound leaves room for a loaded machine.
      EXPECT_GE(ended_after[i], 3 * w - 0.3) << "room " << i;
      EXPECT_LE(ended_after[i], 4 * w + 2.5) << "room " << i;
      std::ostringstream fate;
      fate << "watchdog: ended with exit code " << status->exit_code << " " << std::fixed
           << std::setprecision(2) << ended_after[i] << " s after its last heartbeat";
      room.fate = fate.str();
    }
    for (int i = 0; i < settings_.hosts; ++i) {
      Room& room = *rooms_[static_cast<size_t>(i)];
      if (room.active) {
        EXPECT_FALSE(room.process->Wait(0)) << "room " << i << " ended with the manager";
      }
    }
    ASSERT_TRUE(StartManager(handle));
    Note("manager restarted on window " + std::to_string(handle));
    SetGateFlag(hold_heartbeats_, false);
    Resume();
  }

  void ModuleCrashes() {
    Pause();
    std::vector<int> crashes;
    for (int i = 0; i < settings_.hosts; ++i) {
      Room& room = *rooms_[static_cast<size_t>(i)];
      if (room.active && room.config.role.crash) {
        crashes.push_back(i);
        room.active = false;
        SampleEnd(room);
      }
    }
    Drain();
    Resume();  // the other rooms carry on meanwhile
    for (int i : crashes) {
      ASSERT_TRUE(rooms_[static_cast<size_t>(i)]->process->WriteStdin("crash null\n"));
    }
    Note("module crash in " + std::to_string(crashes.size()) + " rooms");
    for (int i : crashes) {
      Room& room = *rooms_[static_cast<size_t>(i)];
      const std::optional<platform::ExitStatus> status = room.process->Wait(60000);
      ASSERT_TRUE(status) << "crashed room " << i << " did not end";
      EXPECT_FALSE(status->exited && status->exit_code == 1) << "room " << i << " ended normally";
      const std::vector<fs::path> dumps = DumpsOf(log_base_, Instance(i));
      ASSERT_EQ(dumps.size(), 1u) << "room " << i;
      std::ifstream dump(dumps[0], std::ios::binary);
      char magic[4] = {};
      dump.read(magic, 4);
      EXPECT_EQ(std::string(magic, 4), "MDMP") << dumps[0];
      room.fate = "crashed (" +
                  (status->exited ? "exit code " + std::to_string(status->exit_code)
                                  : "signal " + std::to_string(status->signal)) +
                  "), dump " + dumps[0].filename().string() + " (" +
                  std::to_string(fs::file_size(dumps[0])) + " bytes)";
    }
  }

  std::string Report() const;

  const Settings settings_;
  fs::path root_, log_base_;
  std::unique_ptr<Ledger> ledger_;
  // Declared after the service so that the server stops first.
  std::unique_ptr<devhttp::ContentService> content_;
  devhttp::DevServer http_;
  std::unique_ptr<gsmsim::ManagerPeer> manager_;
  std::vector<std::unique_ptr<Room>> rooms_;
  std::unique_ptr<PROTO_START_HOST> game_info_ = std::make_unique<PROTO_START_HOST>();

  std::mutex gate_mutex_;
  std::condition_variable gate_cv_;
  bool paused_ = false;
  bool hold_heartbeats_ = false;
  bool heartbeats_held_ = false;
  std::thread heartbeat_thread_;
  int parked_ = 0;
  int running_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> no_refusals_{false};
  std::atomic<bool> in_outage_{false};
  std::vector<std::thread> workers_;

  std::atomic<uint64_t> shutdown_posts_{0};
  Clock::time_point start_;
  Clock::time_point cpu_window_start_, cpu_window_end_;
  std::vector<std::string> events_;
  std::vector<std::string> problems_;
};

std::string Soak::Report() const {
  std::ostringstream out;
  out << "# Soak report\n\n"
      << settings_.hosts << " hosts, " << settings_.seconds << " s, heartbeat every "
      << settings_.heartbeat_ms << " ms, pause between games " << settings_.pause_ms
      << " ms, watchdog period " << settings_.watchdog_ms << " ms.\n\n## Messages\n\n"
      << ledger_->TotalsTable();
  uint64_t sent = 0, settled = 0;
  for (size_t k = 0; k < kKinds; ++k) {
    const Tally t = ledger_->Total(static_cast<Kind>(k));
    sent += t.sent;
    settled += t.acknowledged + t.refused_logged;
  }
  out << "\nIn all " << sent << " messages sent, " << settled
      << " acknowledged or refused with a log line; " << problems_.size()
      << " room accounts that do not balance.\n";
  for (const std::string& p : problems_) out << "- " << p << "\n";
  const auto strays = ledger_->Strays();
  out << "\nMessages from hosts that answer nothing sent: " << strays.size() << " kinds";
  for (const auto& [key, count] : strays) {
    out << "; tIndex " << key.first << " id " << key.second << " x" << count;
  }
  out << ". Shutdown posts (20): " << shutdown_posts_ << ".\n\n## Events\n\n";
  for (const std::string& e : events_) out << "- " << e << "\n";
  out << "\n## Rooms\n\nResident memory (VmRSS, KiB) after the warm-up, before the manager is "
         "killed, and at the end (or before the room's planned end); allowed growth "
      << settings_.rss_tolerance_kib << " KiB.\n\n"
      << "| room | role | RSS start | RSS mid | RSS end | growth | CPU % | late cycles | fate |\n"
      << "|---:|---|---:|---:|---:|---:|---:|---:|---|\n";
  const double window = std::chrono::duration<double>(cpu_window_end_ - cpu_window_start_).count();
  for (size_t i = 0; i < rooms_.size(); ++i) {
    const Room& room = *rooms_[i];
    const RoomRole& role = room.config.role;
    std::string roles = role.idle ? "idle" : "traffic";
    if (role.watchdog) roles += ", watchdog";
    if (role.crash) roles += ", crash";
    if (role.stall) roles += ", stalled content";
    out << "| " << i << " | " << roles << " | ";
    if (room.Growth()) {
      out << *room.rss_start << " | " << (room.rss_mid ? std::to_string(*room.rss_mid) : "-")
          << " | " << *room.rss_end << " | " << *room.Growth();
    } else {
      out << "- | - | - | -";
    }
    out << " | ";
    if (role.idle && room.CpuPercent(window)) {
      out << std::fixed << std::setprecision(3) << *room.CpuPercent(window);
    } else {
      out << "-";
    }
    out << " | " << room.ack_timeouts << " | " << room.fate;
    for (double s : room.ucc_seconds) {
      out << "; content load given up after " << std::fixed << std::setprecision(1) << s << " s";
    }
    out << " |\n";
  }
  return out.str();
}

TEST_F(Soak, HostsUnderTrafficAndFaultsAccountForEveryMessage) {
  ASSERT_TRUE(StartManager(0));
  const std::string session = "soak" + std::to_string(::getpid());
  const std::string url = "http://127.0.0.1:" + std::to_string(http_.port()) + "/content/";
  std::memcpy(game_info_->GameLogSerial, "SOAK-GAME", 9);
  for (int i = 0; i < settings_.hosts; ++i) {
    auto room = std::make_unique<Room>();
    room->config = {root_ / ("room" + std::to_string(i)),
                    log_base_,
                    session,
                    i,
                    manager_->handle(),
                    40000 + i,
                    1,
                    RoleOf(i),
                    settings_.watchdog_ms,
                    url};
    std::string error;
    ASSERT_TRUE(PrepareRoom(room->config, &error)) << error;
    room->resets = std::make_unique<TraceCounter>(room->config.folder / "trace.txt",
                                                  "SendToServerShell id=8 reset");
    rooms_.push_back(std::move(room));
  }
  // Room 0 publishes the log-text table the others read: it starts first.
  start_ = Clock::now();
  for (int i = 0; i < settings_.hosts; ++i) {
    Room& room = *rooms_[static_cast<size_t>(i)];
    std::string error;
    room.process = StartRoom(room.config, &error);
    ASSERT_NE(room.process, nullptr) << error;
    if (i == 0) {
      const auto until = Clock::now() + 20s;
      while (room.window == 0 && Clock::now() < until) std::this_thread::sleep_for(10ms);
      ASSERT_NE(room.window.load(), 0u) << "room 0 did not report its window";
    }
  }
  const auto until = Clock::now() + 60s;
  for (auto& room : rooms_) {
    while (room->window == 0 && Clock::now() < until) std::this_thread::sleep_for(10ms);
    ASSERT_NE(room->window.load(), 0u)
        << "room " << room->config.index << " did not report its window";
    room->active = true;
  }
  start_ = Clock::now();
  Note("all " + std::to_string(settings_.hosts) + " rooms reported their windows");

  heartbeat_thread_ = std::thread([this] { Heartbeats(); });
  for (int i = 0; i < settings_.hosts; ++i) {
    if (rooms_[static_cast<size_t>(i)]->config.role.traffic)
      StartWorker([this, i] { DriveRoom(i); });
  }

  // The warm-up lasts until every traffic room has played past its first
  // reset (a room's memory settles there), and at least a tenth of the run.
  SleepUntil(0.1);
  for (auto& room : rooms_) {
    while (room->config.role.traffic && room->active && room->cycles < 12 &&
           Elapsed() < 0.18 * settings_.seconds) {
      std::this_thread::sleep_for(100ms);
    }
  }
  SampleStart();
  Note("warm-up over: memory and CPU sampled");
  SleepUntil(0.2);
  LogOutage();
  SleepUntil(0.45);
  ManagerOutage();
  SleepUntil(0.65);
  ModuleCrashes();
  SleepUntil(0.9);

  // The end: stop the traffic, collect every answer, sample, and close.
  StopTraffic();
  Drain();
  cpu_window_end_ = Clock::now();
  for (auto& room : rooms_) {
    if (room->active) SampleEnd(*room);
  }
  Note("traffic stopped and drained");

  // Resets reach the module on the update thread; the module's trace is
  // their answer. Refusals are answered by the host's log line. Map-load
  // lines: every one is in the log except those the outage took.
  uint64_t dropped = 0;
  for (int i = 0; i < settings_.hosts; ++i) {
    Room& room = *rooms_[static_cast<size_t>(i)];
    ledger_->SetAcknowledged(i, Kind::kReset, room.resets->Poll());
    ledger_->SetRefusedLogged(
        i, Kind::kUnsupported,
        CountHostLog(log_base_, Instance(i),
                     "Not Supported Message!!!!! tIndex[" + std::to_string(i) + "], msgID[3]"));
    if (!room.config.role.traffic) continue;
    const uint64_t sent = ledger_->Get(i, Kind::kLoadMap).sent;
    const uint64_t logged =
        CountHostLog(log_base_, Instance(i), "GAMESERVERMSG_LOAD_MAP - tMapIndex[");
    EXPECT_LE(logged, sent) << "room " << i;
    if (logged > sent) continue;
    dropped += sent - logged;
    if (!room.config.role.stall) {
      EXPECT_LE(sent - logged, room.load_maps_in_outage)
          << "room " << i << " lost lines outside the outage";
    }
  }
  problems_ = ledger_->Problems();
  Note("map-load log lines dropped by the outage: " + std::to_string(dropped));
  EXPECT_GT(dropped, 0u) << "the log outage dropped nothing: was the folder really gone?";
  EXPECT_EQ(content_->Requests().size(), ledger_->Total(Kind::kUccLoad).sent);

  for (int i = 0; i < settings_.hosts; ++i) {
    Room& room = *rooms_[static_cast<size_t>(i)];
    if (!room.active) continue;
    EXPECT_TRUE(manager_->Post(room.window, WM_GAMESERVERMSG, GAMESERVERMSG_TERMINATE, 0));
  }
  for (int i = 0; i < settings_.hosts; ++i) {
    Room& room = *rooms_[static_cast<size_t>(i)];
    if (!room.active) continue;
    const std::optional<platform::ExitStatus> status = room.process->Wait(20000);
    ASSERT_TRUE(status) << "room " << i << " did not end on TERMINATE";
    EXPECT_TRUE(status->exited && status->exit_code == 1) << "room " << i;
  }
  Note("every remaining room ended on TERMINATE");

  const std::string report = Report();
  std::cout << report;
  const char* path_env = ::getenv("SERVERAPP_SOAK_REPORT");
  const fs::path path = path_env && *path_env ? fs::path(path_env)
                                              : fs::path(SERVERAPP_BINARY_DIR) / "soak-report.md";
  std::ofstream(path) << report;
  std::cout << "report written to " << path << "\n";

  EXPECT_TRUE(problems_.empty()) << problems_.size()
                                 << " unbalanced accounts, first: " << problems_.front();
  EXPECT_TRUE(ledger_->Strays().empty()) << "hosts sent answers to nothing";
  const double window = std::chrono::duration<double>(cpu_window_end_ - cpu_window_start_).count();
  for (size_t i = 0; i < rooms_.size(); ++i) {
    const Room& room = *rooms_[i];
    ASSERT_TRUE(room.Growth()) << "room " << i << " was not sampled";
    EXPECT_LE(*room.Growth(), static_cast<int64_t>(settings_.rss_tolerance_kib))
        << "room " << i << " grew";
    if (room.config.role.idle) {
      ASSERT_TRUE(room.CpuPercent(window));
      EXPECT_LE(*room.CpuPercent(window), settings_.idle_cpu_limit_percent) << "idle room " << i;
    }
  }
}

}  // namespace
}  // namespace soak

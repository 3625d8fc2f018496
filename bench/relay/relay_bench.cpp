// The manager-to-module relay of a real ServerApp with the reference
// module, the manager played by gsmsim's peer library (not a test: run by
// hand, figures in docs/dispatch.md):
// - GAMESERVERMSG_START_HOST (211406-byte copy data) to the module's
//   delivery (its trace) and to the manager's GAMESERVERMSG_START_HOST_ACK,
//   at 12 and 50 ms frames;
// - heartbeats answered per second;
// - frame-start error at 12 ms frames (the module's IsPreparing trace);
// - memory of one idle host and of 50 hosts, as the system counts it
//   (relay_memory.h).
// The table goes to stdout at the end, each phase's start to stderr at once.
//
//   relay_bench [--quick] [--hosts N]
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"
#include "platform/thread.h"
#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "relay_memory.h"
#include "relay_stats.h"

namespace {

using namespace std::chrono_literals;
using hosttest::HostFolder;
using relaybench::Percentile;

constexpr uint32_t kWmGameServer = 0x440;
// Map loads (map | round type << 16 | match type << 24) whose round types
// give 12 and 50 ms frames.
constexpr platform::LParam kMapLoad12ms = 0x012A0005;
constexpr platform::LParam kMapLoad50ms = 0x2A010005;

double NowMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The host stamps its trace with the seam's 32-bit millisecond clock
// (platform::TimeGetTime); this program reads steady_clock. On POSIX both
// are CLOCK_MONOTONIC, but on Windows timeGetTime and the performance
// counter behind steady_clock need not start together. Right after a tick
// of the stamp clock, NowMs() is on a whole millisecond of it: the least
// difference seen at five ticks is the offset, modulo 2^32 ms.
constexpr double kStampWrapMs = 4294967296.0;

double StampClockOffsetMs() {
  double offset = kStampWrapMs;
  for (int i = 0; i < 5; ++i) {
    const uint32_t before = platform::TimeGetTime();
    uint32_t tick = before;
    double at = 0;
    while (tick == before) {
      tick = platform::TimeGetTime();
      at = NowMs();
    }
    offset =
        std::min(offset, std::fmod(at - static_cast<double>(tick) + kStampWrapMs, kStampWrapMs));
  }
  return offset;
}

template <typename T>
std::span<const std::byte> Bytes(const T& value) {
  return {reinterpret_cast<const std::byte*>(&value), sizeof(T)};
}

// What the manager receives, seen from its window thread.
struct Collector {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<platform::WindowHandle> hosts;  // REPORT_HWND, in arrival order
  std::vector<double> start_host_acks;        // NowMs() of each START_HOST_ACK
  std::atomic<uint64_t> heartbeat_acks{0};

  void OnMessage(const gsmsim::ReceivedMessage& m) {
    const double now = NowMs();
    if (gsmsim::IsManagerPost(GAMESERVERMSG_HOST_HEARTBEAT_ACK)(m)) {
      heartbeat_acks.fetch_add(1);
    } else if (gsmsim::IsManagerPost(GAMESERVERMSG_START_HOST_ACK)(m)) {
      std::lock_guard lock(mutex);
      start_host_acks.push_back(now);
    } else if (gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND)(m)) {
      std::lock_guard lock(mutex);
      hosts.push_back(static_cast<platform::WindowHandle>(m.l_param));
    } else {
      return;
    }
    arrived.notify_all();
  }

  // Waits until pred() holds (called under the lock).
  template <typename Pred>
  bool WaitUntil(Pred pred, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, timeout, pred);
  }
};

// A host in `folder` with the deployment's Setting.ini (log level 4) and its
// streams on the null device: an unread pipe would stall the host once the
// logger's echo filled it. The harness's own Setting.ini is removed first:
// the overwriting copy_file of mingw-w64's libstdc++ 12 refuses any
// existing target ("File exists"), as Windows gives every file inode 0.
// The peer owns the host and stops it at its end, so that a run that gives
// up halfway leaves no host behind (under Wine, one would keep the wine
// server busy).
platform::Process* StartHost(gsmsim::ManagerPeer& manager, const HostFolder& folder, int index) {
  const std::filesystem::path setting = folder.work() / "Setting.ini";
  std::error_code error;
  std::filesystem::remove(setting, error);
  std::filesystem::copy_file(std::filesystem::path(SERVERAPP_DIST_DIR) / "Setting.ini", setting,
                             error);
  if (error) {
    std::fprintf(stderr, "relay_bench: Setting.ini: %s\n", error.message().c_str());
    return nullptr;
  }
  platform::ProcessOptions options;
  options.program = hosttest::ServerAppPath();
  options.args = {std::to_string(manager.handle()), std::to_string(5000 + index),
                  std::to_string(index), "7", "9"};
  options.working_directory = folder.work().string();
  // Message boxes as (discarded) stderr lines: on Windows a real box would
  // wait for a click nobody gives.
  options.environment = {{"SERVERAPP_LOG_BASE", (folder.root() / "log").string()},
                         {"SERVERAPP_MESSAGEBOX", "stderr"}};
  options.std_in = platform::StdStream::kNull;
  options.std_out = platform::StdStream::kNull;
  options.std_err = platform::StdStream::kNull;
  std::string reason;
  platform::Process* host = manager.StartHost(options, &reason);
  if (!host) std::fprintf(stderr, "relay_bench: ServerApp: %s\n", reason.c_str());
  return host;
}

// Posts a terminate request and waits for the host's end; answers its exit
// code (1 is a clean end), -1000 when it did not end.
int StopHost(gsmsim::ManagerPeer& manager, platform::WindowHandle target, platform::Process& host) {
  manager.Post(target, kWmGameServer, GAMESERVERMSG_TERMINATE, 0);
  return hosttest::WaitExit(host, 20000);
}

struct Row {
  std::string figure;
  std::string value;
  std::string goal;
  std::string verdict;  // "met", "MISSED" or "-"
};

std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[160];
  std::snprintf(text, sizeof(text), format, a, b, c);
  return text;
}

// Heartbeats posted with at most `window` unanswered; answers per second.
double HeartbeatRate(gsmsim::ManagerPeer& manager, Collector& seen, platform::WindowHandle target,
                     uint64_t count, uint64_t window, uint64_t* refused) {
  const uint64_t base = seen.heartbeat_acks.load();
  const double start = NowMs();
  uint64_t posted = 0;
  uint64_t last_answered = 0;
  double last_progress = start;
  while (posted < count) {
    const uint64_t answered = seen.heartbeat_acks.load() - base;
    if (answered != last_answered) {
      last_answered = answered;
      last_progress = NowMs();
    } else if (NowMs() - last_progress > 10000) {
      break;  // the host stopped answering: the rate below says so
    }
    if (posted - answered >= window) {
      std::this_thread::yield();
      continue;
    }
    if (manager.Post(target, kWmGameServer, GAMESERVERMSG_HOST_HEARTBEAT, 0)) {
      ++posted;
    } else {
      ++*refused;  // the host's queue is full: try again
      std::this_thread::yield();
    }
  }
  const double deadline = NowMs() + 10000;
  while (seen.heartbeat_acks.load() - base < count && NowMs() < deadline) {
    std::this_thread::yield();
  }
  const uint64_t answered = seen.heartbeat_acks.load() - base;
  return static_cast<double>(answered) * 1000.0 / (NowMs() - start);
}

struct Latency {
  std::vector<double> accepted;  // ms, send to its return (the host's window took it)
  std::vector<double> delivery;  // ms, send to the module's delivery
  std::vector<double> ack;       // ms, send to the manager's acknowledgement
  int lost = 0;
};

// `samples` game infos, each sent at a random phase of the frame and
// waited for; deliveries are read from the trace after the acknowledgements
// (the host acknowledges after delivering).
Latency MeasureStartHost(gsmsim::ManagerPeer& manager, Collector& seen, const HostFolder& folder,
                         platform::WindowHandle target, uint32_t frame, int samples,
                         double stamp_offset) {
  Latency result;
  auto info = std::make_unique<PROTO_START_HOST>();
  std::mt19937 random(frame);
  std::uniform_int_distribution<int> phase_us(0, static_cast<int>(frame) * 1000);
  const size_t traced_before = folder.TraceTimes("SendToServerShell id=7").size();
  std::vector<double> sent;
  for (int i = 0; i < samples; ++i) {
    std::this_thread::sleep_for(std::chrono::microseconds(phase_us(random)));
    size_t acks = 0;
    {
      std::lock_guard lock(seen.mutex);
      acks = seen.start_host_acks.size();
    }
    // Bounded, so that the compiler sees the serial fit its 16 bytes.
    std::snprintf(info->GameLogSerial, sizeof(info->GameLogSerial), "BENCH-%u",
                  static_cast<unsigned>(i) % 100000u);
    const double t0 = NowMs();
    manager.SendCopyData(target, GAMESERVERMSG_START_HOST, Bytes(*info));
    const double returned = NowMs();
    if (!seen.WaitUntil([&] { return seen.start_host_acks.size() > acks; }, 3s)) {
      ++result.lost;
      break;  // deliveries can no longer be paired with their sends
    }
    std::lock_guard lock(seen.mutex);
    sent.push_back(t0);
    result.accepted.push_back(returned - t0);
    result.ack.push_back(seen.start_host_acks[acks] - t0);
  }
  const std::vector<uint32_t> traced = folder.TraceTimes("SendToServerShell id=7");
  for (size_t i = 0; i < sent.size() && traced_before + i < traced.size(); ++i) {
    // A stamp is the millisecond in which the delivery happened: its middle
    // is the estimate (+-0.5 ms). The send time is taken to the stamp clock.
    const double on_stamp_clock = std::fmod(sent[i] - stamp_offset + kStampWrapMs, kStampWrapMs);
    const uint32_t sent_ms = static_cast<uint32_t>(on_stamp_clock);
    const double whole = static_cast<int32_t>(traced[traced_before + i] - sent_ms);
    result.delivery.push_back(whole + 0.5 - (on_stamp_clock - std::floor(on_stamp_clock)));
  }
  return result;
}

// Waits until the module's update calls come `frame` ms apart.
bool WaitForFrameLength(const HostFolder& folder, uint32_t frame, std::chrono::seconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    std::vector<uint32_t> t = folder.TraceTimes("IsPreparing");
    if (t.size() > 6) {
      const uint32_t span = t.back() - t[t.size() - 6];
      if (span <= 5 * frame + 3 && span >= 5 * frame - 3) return true;
    }
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

void AddLatencyRows(std::vector<Row>& rows, const Latency& l, uint32_t frame) {
  const double goal = frame + 1.0;
  const double median = Percentile(l.delivery, 50);
  rows.push_back({Format("START_HOST to delivery, %.0f ms frames (median, p99; n=%.0f)", frame,
                         static_cast<double>(l.delivery.size())),
                  Format("%.2f ms, %.2f ms", median, Percentile(l.delivery, 99)),
                  Format("median <= %.0f ms", goal),
                  l.delivery.empty() || l.lost ? "MISSED" : (median <= goal ? "met" : "MISSED")});
  rows.push_back(
      {Format("START_HOST send to its return, %.0f ms frames (median, p99)", frame),
       Format("%.2f ms, %.2f ms", Percentile(l.accepted, 50), Percentile(l.accepted, 99)), "-",
       "-"});
  rows.push_back({Format("START_HOST to START_HOST_ACK, %.0f ms frames (median, p99)", frame),
                  Format("%.2f ms, %.2f ms", Percentile(l.ack, 50), Percentile(l.ack, 99)), "-",
                  l.lost ? "LOST" : "-"});
}

// Where the run is, on stderr at once: under Wine a phase can take minutes,
// and the table comes only at the end.
void Progress(const char* what) {
  static const double start = NowMs();
  std::fprintf(stderr, "relay_bench: %6.1f s: %s\n", (NowMs() - start) / 1000.0, what);
  std::fflush(stderr);
}

int Fail(const char* what) {
  std::fprintf(stderr, "relay_bench: %s\n", what);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  int host_count = 50;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--hosts") == 0 && i + 1 < argc) {
      host_count = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: relay_bench [--quick] [--hosts N]\n");
      return 2;
    }
  }
  const int samples = quick ? 30 : 200;
  const uint64_t heartbeats = quick ? 5000 : 50000;
  const int frames = quick ? 300 : 2000;

  gsmsim::ManagerPeer::Options options;
  options.keep_records = false;  // the hook sees every message; nothing piles up
  std::string error;
  auto manager = gsmsim::ManagerPeer::Start(options, &error);
  if (!manager) return Fail(("manager: " + error).c_str());
  Collector seen;
  manager->SetOnMessage([&seen](const gsmsim::ReceivedMessage& m) { seen.OnMessage(m); });
  std::vector<Row> rows;

  // --- one host: memory, heartbeats, frame starts, START_HOST latency ---
  // The room stays "preparing" so that the update thread calls the module
  // (IsPreparing) every frame and heartbeats are answered.
  Progress("one host: start");
  HostFolder folder(hosttest::Switches{{"PreparingUpdates", "100000000"}});
  platform::Process* host = StartHost(*manager, folder, 1);
  if (!host) return Fail("cannot start ServerApp");
  if (!seen.WaitUntil([&] { return !seen.hosts.empty(); }, 20s)) return Fail("no REPORT_HWND");
  const platform::WindowHandle target = seen.hosts.front();
  if (!folder.WaitForTrace("IsPreparing", 10s)) return Fail("no update call");
  std::this_thread::sleep_for(1s);  // the first (10 s) frame is idle now
  const relaybench::Memory fresh = relaybench::MemoryOf(host->pid());

  Progress("one host: heartbeats");
  uint64_t refused = 0;
  const double pingpong = HeartbeatRate(*manager, seen, target, heartbeats / 10, 1, &refused);
  const double pipelined = HeartbeatRate(*manager, seen, target, heartbeats, 64, &refused);

  Progress("one host: stores filled, then 12 ms frames");
  // Both stores full once: ten game infos and fifty users in one idle frame
  // write every slot (a push writes at the count, so one record per frame
  // would touch the first slot only).
  auto info = std::make_unique<PROTO_START_HOST>();
  for (int i = 0; i < 10; ++i) {
    manager->SendCopyData(target, GAMESERVERMSG_START_HOST, Bytes(*info));
  }
  for (int i = 0; i < 50; ++i) {
    PROTO_GAME_USER_INFO user;
    user.USN = 9000 + static_cast<uint64_t>(i);
    user.SlotIdx = i;
    manager->SendCopyData(target, GAMESERVERMSG_INSERTCHARACTER, Bytes(user));
  }
  const relaybench::Memory filled = relaybench::MemoryOf(host->pid());

  manager->Post(target, kWmGameServer, GAMESERVERMSG_LOAD_MAP, kMapLoad12ms);
  if (!seen.WaitUntil([&] { return seen.start_host_acks.size() >= 10; }, 25s)) {
    return Fail("the queued game infos were not acknowledged");
  }
  if (!WaitForFrameLength(folder, 12, 15s)) return Fail("frames did not become 12 ms");
  const relaybench::Memory delivered = relaybench::MemoryOf(host->pid());

  // Frame starts of a quiet stretch of 12 ms frames.
  Progress("one host: frame starts");
  const size_t calls_before = folder.TraceTimes("IsPreparing").size();
  const double queued_before = relaybench::RunQueueWaitMs(host->pid());
  std::this_thread::sleep_for(std::chrono::milliseconds(12 * frames + 50));
  const double queued = relaybench::RunQueueWaitMs(host->pid()) - queued_before;
  std::vector<uint32_t> starts = folder.TraceTimes("IsPreparing");
  starts.erase(starts.begin(), starts.begin() + static_cast<long>(calls_before));
  const std::vector<double> frame_errors = relaybench::FrameStartErrors(starts, 12);
  std::vector<double> intervals;
  for (size_t k = 1; k < starts.size(); ++k) {
    intervals.push_back(std::abs(static_cast<double>(starts[k] - starts[k - 1]) - 12.0));
  }

  Progress("one host: START_HOST at 12 ms frames");
  const double stamp_offset = StampClockOffsetMs();
  const Latency at12 = MeasureStartHost(*manager, seen, folder, target, 12, samples, stamp_offset);
  manager->Post(target, kWmGameServer, GAMESERVERMSG_LOAD_MAP, kMapLoad50ms);
  if (!WaitForFrameLength(folder, 50, 10s)) return Fail("frames did not become 50 ms");
  Progress("one host: START_HOST at 50 ms frames");
  const Latency at50 = MeasureStartHost(*manager, seen, folder, target, 50, samples, stamp_offset);
  const int first_exit = StopHost(*manager, target, *host);

  // --- many idle hosts on this machine ---
  Progress("many hosts: start");
  std::vector<std::unique_ptr<HostFolder>> folders;
  std::vector<platform::Process*> hosts;
  const size_t reported_before = seen.hosts.size();
  for (int i = 0; i < host_count; ++i) {
    folders.push_back(std::make_unique<HostFolder>());
    hosts.push_back(StartHost(*manager, *folders.back(), i));
    if (!hosts.back()) return Fail("cannot start one of the many hosts");
  }
  if (!seen.WaitUntil([&] { return seen.hosts.size() >= reported_before + host_count; }, 120s)) {
    return Fail("not every host reported its window");
  }
  for (auto& f : folders) {
    if (!f->WaitForTrace("IsPreparing", 30s)) return Fail("a host made no update call");
  }
  std::this_thread::sleep_for(1s);
  Progress("many hosts: memory, then stop");
  long resident_sum = 0, own_sum = 0, resident_max = 0;
  for (platform::Process* h : hosts) {
    const relaybench::Memory m = relaybench::MemoryOf(h->pid());
    resident_sum += m.resident_kib;
    own_sum += m.own_kib;
    resident_max = std::max(resident_max, m.resident_kib);
  }
  // The windows reported in start order need not match the processes, so
  // every host is asked to end; each exit code is then read.
  for (size_t i = reported_before; i < seen.hosts.size(); ++i) {
    manager->Post(seen.hosts[i], kWmGameServer, GAMESERVERMSG_TERMINATE, 0);
  }
  int clean = 0;
  for (platform::Process* h : hosts) clean += hosttest::WaitExit(*h, 30000) == 1 ? 1 : 0;
  Progress("done");

  // --- the table ---
  AddLatencyRows(rows, at12, 12);
  AddLatencyRows(rows, at50, 50);
  rows.push_back({"heartbeat answers/s (64 in flight)", Format("%.0f", pipelined), "> 20000",
                  pipelined > 20000 ? "met" : "MISSED"});
  rows.push_back(
      {"heartbeat answers/s (1 in flight, round trip)", Format("%.0f", pingpong), "-", "-"});
  const double median_error = Percentile(frame_errors, 50);
  rows.push_back({Format("frame-start error, 12 ms frames (median, p99; n=%.0f)",
                         static_cast<double>(frame_errors.size())),
                  Format("%.0f ms, %.0f ms", median_error, Percentile(frame_errors, 99)),
                  "median < 1 ms", !frame_errors.empty() && median_error < 1 ? "met" : "MISSED"});
  rows.push_back({"frame interval, deviation from 12 ms (median, p99, max)",
                  Format("%.0f ms, %.0f ms, %.0f ms", Percentile(intervals, 50),
                         Percentile(intervals, 99), Percentile(intervals, 100)),
                  "-", "-"});
  const std::string figures = relaybench::MemoryFigures();
  const auto memory = [](const relaybench::Memory& m) {
    return Format("%.0f KiB (%.0f)", static_cast<double>(m.resident_kib),
                  static_cast<double>(m.own_kib));
  };
  rows.push_back({"one idle host: " + figures, memory(fresh), "-", "-"});
  rows.push_back({"one host, both stores filled: " + figures, memory(filled), "-", "-"});
  rows.push_back(
      {"same, after their delivery to the module: " + figures, memory(delivered), "-", "-"});
  rows.push_back({Format("%.0f idle hosts: ", static_cast<double>(host_count)) + figures +
                      ", each summed; largest first figure",
                  Format("%.0f KiB (%.0f), %.0f KiB", static_cast<double>(resident_sum),
                         static_cast<double>(own_sum), static_cast<double>(resident_max)),
                  "-", "-"});
  rows.push_back({"hosts ended cleanly (exit code 1)",
                  Format("%.0f of %.0f", clean + (first_exit == 1 ? 1 : 0), host_count + 1.0),
                  "all", clean == host_count && first_exit == 1 ? "met" : "MISSED"});

  std::printf("| figure | value | goal | |\n|---|---|---|---|\n");
  for (const Row& r : rows) {
    std::printf("| %s | %s | %s | %s |\n", r.figure.c_str(), r.value.c_str(), r.goal.c_str(),
                r.verdict.c_str());
  }
  // Where the late frame starts come from: the share of frames late by
  // each whole millisecond, beside the time the host's threads waited for
  // a processor while runnable (other work on the machine).
  std::vector<int> late(6, 0);
  for (double e : frame_errors) ++late[std::min<size_t>(5, static_cast<size_t>(e))];
  std::printf("frame starts late by 0/1/2/3/4/5+ ms:");
  for (int n : late) std::printf(" %d", n);
  if (queued_before < 0 || queued < 0) {
    std::printf("\nhost threads runnable but not running during the %zu frames: n/a\n",
                starts.size());
  } else {
    std::printf(
        "\nhost threads runnable but not running during the %zu frames: %.1f ms (%.2f ms a "
        "frame)\n",
        starts.size(), queued, starts.empty() ? 0.0 : queued / static_cast<double>(starts.size()));
  }
  std::printf("steady_clock ahead of the trace's stamp clock by %.3f ms (modulo 2^32 ms)\n",
              stamp_offset > kStampWrapMs / 2 ? stamp_offset - kStampWrapMs : stamp_offset);
  std::printf("heartbeat posts refused (host queue full, retried): %llu\n",
              static_cast<unsigned long long>(refused));
  return 0;
}

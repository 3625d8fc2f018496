#include "room_runner.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <ostream>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "decode.h"
#include "json_text.h"
#include "peer/manager_peer.h"
#include "platform/identity.h"
#include "protocol/gameservermsg.h"
#include "stop_requests.h"

namespace gsmsim {
namespace fs = std::filesystem;
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A host's window report: generous, a sanitizer build starts slowly.
constexpr milliseconds kReportTimeout{20000};
// SIGTERM to exit; the host's own stop waits up to 5 s for its update thread.
constexpr int kStopTimeoutMs = 10000;
// The exit code of a host that ended as asked (the dialog's OK).
constexpr int kNormalExit = 1;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string TrimCopy(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

struct Room {
  int index = 0;
  fs::path folder;
  platform::Process* process = nullptr;  // owned by the peer
  std::atomic<uint64_t> window{0};
  std::optional<platform::ExitStatus> exit;
  bool terminate_sent = false;  // it was asked to end by the manager's message
};

// Everything the run prints goes through here (the window thread prints
// received messages while the main thread prints steps).
class Printer {
 public:
  Printer(std::ostream& out, bool json) : out_(out), json_(json), start_(Clock::now()) {}

  double Elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
  bool json() const { return json_; }

  void Received(const ReceivedMessage& message) {
    const DecodedMessage decoded = DecodeMessage(message);
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%.3f", Elapsed());
    std::lock_guard lock(mutex_);
    if (json_) {
      out_ << "{\"t\":" << stamp << ",\"event\":\"recv\","
           << DecodedJson(message, decoded).substr(1) << std::endl;
    } else {
      out_ << "[" << stamp << "] <- "
           << (message.kind == ReceivedMessage::Kind::kSend ? "send " : "post ")
           << DecodedText(decoded) << std::endl;
    }
  }

  // An event with its text form and its JSON fields (without braces).
  void Event(const std::string& text, const std::string& json_fields) {
    char stamp[32];
    std::snprintf(stamp, sizeof(stamp), "%.3f", Elapsed());
    std::lock_guard lock(mutex_);
    if (json_) {
      out_ << "{\"t\":" << stamp << "," << json_fields << "}" << std::endl;
    } else {
      out_ << "[" << stamp << "] " << text << std::endl;
    }
  }

 private:
  std::mutex mutex_;
  std::ostream& out_;
  const bool json_;
  const Clock::time_point start_;
};

std::optional<fs::path> DefaultDist() {
  const std::string exe = platform::ExecutablePath();
  if (exe.empty()) return std::nullopt;
  // <build>/tools/gsmsim/gsmsim -> <build>/dist
  return fs::path(exe).parent_path().parent_path().parent_path() / "dist";
}

// The host program of a deployment folder: ServerApp.exe in a Windows
// one, ServerApp in a POSIX one; empty when there is neither.
fs::path HostProgram(const fs::path& dist) {
  for (const char* name : {"ServerApp.exe", "ServerApp"}) {
    std::error_code ec;
    if (fs::is_regular_file(dist / name, ec)) return dist / name;
  }
  return {};
}

// A new folder gsmsim-<random> under the system's temporary folder.
std::optional<fs::path> MakeTemporaryFolder() {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) return std::nullopt;
  std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof(name), "gsmsim-%08llx",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFu));
    if (fs::create_directory(base / name, ec)) return base / name;
    if (ec) return std::nullopt;  // not merely taken
  }
  return std::nullopt;
}

bool PrepareRoom(const fs::path& dist, const fs::path& folder, const Scenario& scenario,
                 std::string* error) {
  std::error_code ec;
  fs::create_directories(folder / "rez" / "NationMsz", ec);
  if (ec) {
    *error = "cannot create " + folder.string() + ": " + ec.message();
    return false;
  }
  for (const char* file : {"Setting.ini", "UCCSetting.ini", "ReferenceModule.ini"}) {
    if (fs::exists(dist / file)) fs::copy_file(dist / file, folder / file, ec);
    if (ec) {
      *error = "cannot copy " + std::string(file) + ": " + ec.message();
      return false;
    }
  }
  for (const auto& entry : fs::directory_iterator(dist / "rez" / "NationMsz", ec)) {
    if (entry.path().extension() == ".msz") {
      fs::copy_file(entry.path(), folder / "rez" / "NationMsz" / entry.path().filename(), ec);
    }
  }
  for (const IniSetting& setting : scenario.ini) {
    std::ifstream in(folder / setting.file, std::ios::binary);
    std::stringstream text;
    if (in) text << in.rdbuf();
    in.close();
    std::ofstream(folder / setting.file, std::ios::binary | std::ios::trunc)
        << SetIniValue(text.str(), setting.section, setting.key, setting.value);
  }
  return true;
}

class Run {
 public:
  Run(const RunOptions& options, std::ostream& out, std::ostream& err)
      : options_(options), out_(out), err_(err), printer_(out, options.json) {}

  int Go();

 private:
  bool StartRooms();
  bool PlayScenario();
  bool DoStep(const ScenarioStep& step);
  bool Expect(const ScenarioStep& step, Room& room, size_t from);
  void HeartbeatLoop();
  bool StopRooms();
  std::vector<Room*> Targets();
  bool Matches(const ReceivedMessage& m, const ScenarioStep& step, int room) const;

  const RunOptions& options_;
  std::ostream& out_;
  std::ostream& err_;
  Printer printer_;
  StopRequests signals_;
  fs::path program_;
  Scenario scenario_;
  fs::path dist_;
  fs::path work_;
  bool own_work_ = false;
  std::unique_ptr<ManagerPeer> peer_;
  std::vector<std::unique_ptr<Room>> rooms_;
  int target_room_ = -1;  // -1: all

  std::set<size_t> consumed_;  // messages an expectation matched

  std::mutex heartbeat_mutex_;
  std::condition_variable heartbeat_cv_;
  bool heartbeat_stop_ = false;
};

int Run::Go() {
  if (!options_.scenario.empty()) {
    std::string error;
    auto scenario = LoadScenario(options_.scenario, &error);
    if (!scenario) {
      err_ << "gsmsim run: " << error << '\n';
      return 2;
    }
    scenario_ = std::move(*scenario);
  }
  if (!options_.dist.empty()) {
    dist_ = fs::absolute(options_.dist);  // the hosts run in their own folders
  } else if (auto dist = DefaultDist()) {
    dist_ = *dist;
  }
  program_ = HostProgram(dist_);
  if (program_.empty()) {
    err_ << "gsmsim run: no ServerApp in the deployment folder \"" << dist_.string()
         << "\" (give --dist DIR)\n";
    return 2;
  }
  if (options_.work.empty()) {
    auto folder = MakeTemporaryFolder();
    if (!folder) {
      err_ << "gsmsim run: cannot create a temporary folder\n";
      return 1;
    }
    work_ = *folder;
    own_work_ = true;
  } else {
    work_ = options_.work;
  }

  std::string error;
  peer_ = ManagerPeer::Start(&error);
  if (!peer_) {
    err_ << "gsmsim run: no manager window: " << error << '\n';
    return 1;
  }
  peer_->SetOnMessage([this](const ReceivedMessage& m) { printer_.Received(m); });
  printer_.Event(
      "manager window " + std::to_string(peer_->handle()) + ", rooms in " + work_.string(),
      "\"event\":\"manager\",\"hwnd\":" + std::to_string(peer_->handle()) +
          ",\"work\":" + JsonString(work_.string()));

  bool ok = StartRooms();
  std::thread heartbeats;
  if (ok && options_.heartbeat_ms > 0) heartbeats = std::thread(&Run::HeartbeatLoop, this);
  const auto started = Clock::now();
  if (ok && !scenario_.steps.empty()) ok = PlayScenario();
  const double seconds = options_.seconds > 0
                             ? options_.seconds
                             : (scenario_.steps.empty() && options_.scenario.empty() ? 10 : 0);
  while (ok && !signals_.Stopped() &&
         std::chrono::duration<double>(Clock::now() - started).count() < seconds) {
    signals_.Sleep(100);
  }
  {
    std::lock_guard lock(heartbeat_mutex_);
    heartbeat_stop_ = true;
  }
  heartbeat_cv_.notify_all();
  if (heartbeats.joinable()) heartbeats.join();
  const bool stopped_ok = StopRooms();
  peer_.reset();
  if (own_work_ && !options_.keep) {
    std::error_code ec;
    fs::remove_all(work_, ec);
  }
  return ok && stopped_ok ? 0 : 1;
}

bool Run::StartRooms() {
  const char* log_base = std::getenv("SERVERAPP_LOG_BASE");
  for (int i = 0; i < options_.rooms; ++i) {
    auto room = std::make_unique<Room>();
    room->index = i;
    room->folder = work_ / ("room" + std::to_string(i));
    std::string error;
    if (!PrepareRoom(dist_, room->folder, scenario_, &error)) {
      err_ << "gsmsim run: " << error << '\n';
      return false;
    }
    platform::ProcessOptions host;
    host.program = program_.string();
    host.args = {std::to_string(peer_->handle()), std::to_string(options_.port_base + i),
                 std::to_string(i), std::to_string(options_.reserved),
                 std::to_string(options_.group)};
    host.working_directory = room->folder.string();
    if (log_base == nullptr)
      host.environment.emplace_back("SERVERAPP_LOG_BASE", (work_ / "log").string());
    // A Windows host's message box would wait for a button nobody presses;
    // as on POSIX, it becomes a line on stderr.
    if (std::getenv("SERVERAPP_MESSAGEBOX") == nullptr)
      host.environment.emplace_back("SERVERAPP_MESSAGEBOX", "stderr");
    // No console unless the scenario types into it: with stdin on the null
    // device the host never reads it.
    if (scenario_.uses_console) {
      host.environment.emplace_back("SERVERAPP_CONSOLE", "1");
      host.std_in = platform::StdStream::kPipe;
    } else {
      host.std_in = platform::StdStream::kNull;
    }
    host.std_out =
        options_.host_output ? platform::StdStream::kInherit : platform::StdStream::kNull;
    host.std_err = platform::StdStream::kInherit;
    room->process = peer_->StartHost(host, &error);
    if (room->process == nullptr) {
      err_ << "gsmsim run: cannot start room " << i << ": " << error << '\n';
      return false;
    }
    printer_.Event("room " + std::to_string(i) + ": ServerApp pid " +
                       std::to_string(room->process->pid()) + " in " + room->folder.string(),
                   "\"event\":\"start\",\"room\":" + std::to_string(i) +
                       ",\"pid\":" + std::to_string(room->process->pid()));
    rooms_.push_back(std::move(room));
  }
  bool ok = true;
  for (auto& room : rooms_) {
    const int index = room->index;
    const auto report = peer_->WaitFor(
        [index](const ReceivedMessage& m) {
          return IsManagerPost(GAMESERVERMSG_REPORT_HWND)(m) &&
                 static_cast<int16_t>(static_cast<uint16_t>(m.w_param >> 16)) == index;
        },
        kReportTimeout);
    if (!report) {
      err_ << "gsmsim run: room " << index << " did not report its window within "
           << kReportTimeout.count() << " ms (see its log under SERVERAPP_LOG_BASE)\n";
      ok = false;
      continue;
    }
    room->window = static_cast<uint64_t>(report->l_param);
  }
  return ok;
}

void Run::HeartbeatLoop() {
  std::unique_lock lock(heartbeat_mutex_);
  while (!heartbeat_cv_.wait_for(lock, milliseconds(options_.heartbeat_ms),
                                 [this] { return heartbeat_stop_; })) {
    for (auto& room : rooms_) {
      const uint64_t window = room->window;
      if (window != 0) peer_->Post(window, WM_GAMESERVERMSG, GAMESERVERMSG_HOST_HEARTBEAT, 0);
    }
  }
}

std::vector<Room*> Run::Targets() {
  std::vector<Room*> targets;
  for (auto& room : rooms_) {
    if (target_room_ < 0 || room->index == target_room_) targets.push_back(room.get());
  }
  return targets;
}

bool Run::PlayScenario() {
  bool after_expect = true;
  size_t block_start = 0;
  for (const ScenarioStep& step : scenario_.steps) {
    if (signals_.Stopped()) return false;
    if (step.kind == ScenarioStep::Kind::kExpect) {
      after_expect = true;
      for (Room* room : Targets()) {
        if (!Expect(step, *room, block_start)) return false;
      }
      continue;
    }
    if (after_expect && step.kind != ScenarioStep::Kind::kRoom) {
      // Expectations look at what arrived since the first action after the
      // previous expectation.
      block_start = peer_->MessageCount();
      after_expect = false;
    }
    if (!DoStep(step)) return false;
  }
  return true;
}

bool Run::DoStep(const ScenarioStep& step) {
  const std::string where = "line " + std::to_string(step.line);
  printer_.Event("-> " + step.text, "\"event\":\"step\",\"line\":" + std::to_string(step.line) +
                                        ",\"text\":" + JsonString(step.text));
  switch (step.kind) {
    case ScenarioStep::Kind::kRoom:
      if (step.room >= options_.rooms) {
        err_ << "gsmsim run: " << where << ": there is no room " << step.room << '\n';
        return false;
      }
      target_room_ = step.room;
      return true;
    case ScenarioStep::Kind::kWait:
      return !signals_.Sleep(0) && [&] {
        const auto until = Clock::now() + milliseconds(step.wait_ms);
        while (Clock::now() < until) {
          const auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now()).count();
          if (signals_.Sleep(left < 100 ? left : 100)) return false;
        }
        return true;
      }();
    case ScenarioStep::Kind::kConsole:
      for (Room* room : Targets()) {
        if (!room->process->WriteStdin(step.console + "\n")) {
          err_ << "gsmsim run: " << where << ": room " << room->index << " took no console input\n";
        }
      }
      return true;
    case ScenarioStep::Kind::kPost:
      for (Room* room : Targets()) {
        if (!peer_->Post(room->window, WM_GAMESERVERMSG, step.msg_id, step.l_param)) {
          err_ << "gsmsim run: " << where << ": post to room " << room->index << " failed\n";
        } else if (step.msg_id == GAMESERVERMSG_TERMINATE) {
          room->terminate_sent = true;
        }
      }
      return true;
    case ScenarioStep::Kind::kRecord:
      for (Room* room : Targets()) {
        if (step.by_address) {
          // Kept until the peer ends: the host reads it whenever it gets to it.
          const uint64_t address = peer_->AddBuffer(step.record.bytes);
          if (!peer_->Post(room->window, WM_GAMESERVERMSG, step.msg_id,
                           static_cast<platform::LParam>(address))) {
            err_ << "gsmsim run: " << where << ": post to room " << room->index << " failed\n";
          }
        } else if (peer_->SendCopyData(room->window, step.msg_id, step.record.bytes) == 0 &&
                   !platform::IsWindow(room->window)) {
          err_ << "gsmsim run: " << where << ": room " << room->index << " is gone\n";
        }
      }
      return true;
    case ScenarioStep::Kind::kExpect:
      break;
  }
  return true;
}

bool Run::Matches(const ReceivedMessage& m, const ScenarioStep& step, int room) const {
  if (consumed_.count(m.index)) return false;
  const DecodedMessage decoded = DecodeMessage(m);
  if (!decoded.is_manager_message || decoded.name != step.expect_name) return false;
  if (!decoded.tIndex || *decoded.tIndex != room) return false;
  for (const auto& [field, value] : step.checks) {
    const DecodedField* f = decoded.Find(field);
    if (f == nullptr) return false;
    // Texts compare without their quotes.
    const bool text = f->json.size() >= 2 && f->json.front() == '"';
    if ((text ? f->json.substr(1, f->json.size() - 2) : f->json) != value) return false;
  }
  return true;
}

bool Run::Expect(const ScenarioStep& step, Room& room, size_t from) {
  const auto deadline = Clock::now() + milliseconds(step.wait_ms);
  const std::string what = step.text + " (room " + std::to_string(room.index) + ")";
  for (;;) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    const auto slice = left < milliseconds(100) ? left : milliseconds(100);
    const auto found =
        peer_->WaitFor([&](const ReceivedMessage& m) { return Matches(m, step, room.index); },
                       slice < milliseconds(0) ? milliseconds(0) : slice, from);
    if (found) {
      consumed_.insert(found->index);
      printer_.Event("ok: " + what,
                     "\"event\":\"expect\",\"ok\":true,\"line\":" + std::to_string(step.line) +
                         ",\"room\":" + std::to_string(room.index) +
                         ",\"text\":" + JsonString(step.text));
      return true;
    }
    if (signals_.Stopped() || Clock::now() >= deadline) break;
  }
  printer_.Event(
      "FAILED: " + what + ": nothing matched within " + std::to_string(step.wait_ms) + " ms",
      "\"event\":\"expect\",\"ok\":false,\"line\":" + std::to_string(step.line) +
          ",\"room\":" + std::to_string(room.index) + ",\"text\":" + JsonString(step.text));
  err_ << "gsmsim run: line " << step.line << ": expectation not met in room " << room.index << ": "
       << step.text << '\n';
  return false;
}

bool Run::StopRooms() {
  bool ok = true;
  for (auto& room : rooms_) {
    // A host already shutting down on the manager's terminate is let finish:
    // a SIGTERM in the middle of its shutdown would not be a clean stop.
    if (room->terminate_sent) room->process->Wait(kStopTimeoutMs);
    if (room->process->Wait(0)) continue;
    room->process->Terminate();
  }
  for (auto& room : rooms_) {
    room->exit = room->process->Wait(kStopTimeoutMs);
    if (!room->exit) {
      room->process->Kill();
      room->exit = room->process->Wait(-1);
      err_ << "gsmsim run: room " << room->index << " did not stop within " << kStopTimeoutMs
           << " ms; killed\n";
      ok = false;
    }
    const platform::ExitStatus& status = *room->exit;
    const bool normal = status.exited && status.exit_code == kNormalExit;
    ok = ok && normal;
    const std::string how = status.exited ? "exit code " + std::to_string(status.exit_code)
                                          : "signal " + std::to_string(status.signal);
    printer_.Event("room " + std::to_string(room->index) + " ended: " + how +
                       (normal ? "" : " (expected exit code 1)"),
                   "\"event\":\"exit\",\"room\":" + std::to_string(room->index) +
                       ",\"exited\":" + (status.exited ? "true" : "false") + ",\"code\":" +
                       std::to_string(status.exited ? status.exit_code : -status.signal) +
                       ",\"ok\":" + (normal ? "true" : "false"));
  }
  // Let the window thread print the hosts' last posts (message 20).
  std::this_thread::sleep_for(milliseconds(100));
  return ok;
}

}  // namespace

std::string SetIniValue(const std::string& text, const std::string& section, const std::string& key,
                        const std::string& value) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  const std::string wanted_section = Lower(section);
  const std::string wanted_key = Lower(key);
  int section_at = -1;
  size_t insert_at = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string trimmed = TrimCopy(lines[i]);
    if (!trimmed.empty() && trimmed.front() == '[') {
      if (section_at >= 0) {
        insert_at = i;
        break;
      }
      const size_t close = trimmed.find(']');
      if (close != std::string::npos &&
          Lower(TrimCopy(trimmed.substr(1, close - 1))) == wanted_section) {
        section_at = static_cast<int>(i);
      }
      continue;
    }
    const size_t equals = trimmed.find('=');
    if (section_at >= 0 && equals != std::string::npos && trimmed[0] != ';' &&
        Lower(TrimCopy(trimmed.substr(0, equals))) == wanted_key) {
      lines[i] = key + "=" + value;
      section_at = -2;  // done
      break;
    }
  }
  if (section_at == -1) {
    lines.push_back("[" + section + "]");
    lines.push_back(key + "=" + value);
  } else if (section_at >= 0) {
    // Insert after the section's last non-blank line.
    while (insert_at > static_cast<size_t>(section_at) + 1 &&
           TrimCopy(lines[insert_at - 1]).empty()) {
      --insert_at;
    }
    lines.insert(lines.begin() + static_cast<long>(insert_at), key + "=" + value);
  }
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

int RunRooms(const RunOptions& options, std::ostream& out, std::ostream& err) {
  Run run(options, out, err);
  return run.Go();
}

}  // namespace gsmsim

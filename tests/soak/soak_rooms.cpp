// Room folders, processes and what is read back from them.
#include "soak_rooms.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

namespace soak {

namespace {

constexpr char kTable[] = "rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz";

bool WriteText(const fs::path& path, const std::string& text, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) *error = "cannot write " + path.string();
  return static_cast<bool>(out);
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

uint64_t Occurrences(const std::string& haystack, const std::string& needle) {
  uint64_t count = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

// The files of one instance folder anywhere under the log base.
std::vector<fs::path> FilesOf(const fs::path& log_base, const std::string& instance) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(log_base, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file() && it->path().parent_path().filename() == instance) {
      files.push_back(it->path());
    }
  }
  return files;
}

}  // namespace

RoomRole RoleOf(int index) {
  RoomRole role;
  if (index == 0) return role;
  role.idle = index % 10 == 9;
  role.watchdog = !role.idle && index % 5 == 1;
  role.crash = !role.idle && !role.watchdog && index % 25 == 3;
  role.stall = !role.idle && !role.watchdog && !role.crash && index % 25 == 8;
  role.traffic = !role.idle;
  return role;
}

bool PrepareRoom(const RoomConfig& c, std::string* error) {
  std::error_code ec;
  fs::create_directories(c.folder / "rez" / "NationMsz", ec);
  fs::create_directories(c.folder / "ucc", ec);
  if (ec) {
    *error = "cannot create " + c.folder.string() + ": " + ec.message();
    return false;
  }
  fs::copy_file(fs::path(SERVERAPP_DIST_DIR) / kTable, c.folder / kTable,
                fs::copy_options::overwrite_existing, ec);
  if (ec) {
    *error = "cannot copy the log-text table: " + ec.message();
    return false;
  }
  std::string setting = "[GameMgmt]\r\nReadProcessMemory=0\r\nWriteProcessMemory=0\r\n";
  if (c.role.watchdog) setting += "HeartbeatWatchdogMs=" + std::to_string(c.watchdog_ms) + "\r\n";
  setting += "[LogInfo]\r\nLogLevel=4\r\n";
  // The room stays preparing for the whole soak, so that every heartbeat
  // has an answer to account for.
  const std::string module =
      "[Module]\nPreparingUpdates=1000000000\nTraceFile=" + (c.folder / "trace.txt").string() +
      "\n";
  const std::string ucc =
      "[rezrepositoryinfo]\nRezFilePath=ucc\n[fileserverurl]\nServerURL=" + c.content_url + "\n";
  return WriteText(c.folder / "Setting.ini", setting, error) &&
         WriteText(c.folder / "ReferenceModule.ini", module, error) &&
         WriteText(c.folder / "UCCSetting.ini", ucc, error);
}

std::unique_ptr<platform::Process> StartRoom(const RoomConfig& c, std::string* error) {
  platform::ProcessOptions options;
  options.program = std::string(SERVERAPP_DIST_DIR) + "/ServerApp";
  options.args = {std::to_string(c.manager), std::to_string(c.port), std::to_string(c.index), "0",
                  std::to_string(c.group)};
  options.working_directory = c.folder.string();
  options.environment = {{"SERVERAPP_LOG_BASE", c.log_base.string()},
                         {"SERVERAPP_SHM_SESSION", c.shm_session}};
  if (c.role.crash) options.environment.emplace_back("SERVERAPP_CONSOLE", "1");
  options.std_in = c.role.crash ? platform::StdStream::kPipe : platform::StdStream::kNull;
  // Fifty hosts echo every log line; nobody would drain the pipes.
  options.std_out = platform::StdStream::kNull;
  options.std_err = platform::StdStream::kNull;
  return platform::Process::Start(options, error);
}

std::optional<uint64_t> ResidentKiB(uint32_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6));
  }
  return std::nullopt;
}

std::optional<double> CpuSeconds(uint32_t pid) {
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  // The command name may hold spaces and parentheses: fields count from
  // the last ')'.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  uint64_t utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  if (!fields) return std::nullopt;
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

uint64_t TraceCounter::Poll() {
  std::ifstream in(trace_, std::ios::binary);
  if (!in) return count_;
  in.seekg(static_cast<std::streamoff>(offset_));
  std::string line;
  while (std::getline(in, line)) {
    if (in.eof()) break;  // a line still being written: read it next time
    offset_ += line.size() + 1;
    const size_t space = line.find(' ');
    if (space != std::string::npos && line.compare(space + 1, prefix_.size(), prefix_) == 0) {
      ++count_;
    }
  }
  return count_;
}

uint64_t CountHostLog(const fs::path& log_base, const std::string& instance,
                      const std::string& text) {
  uint64_t count = 0;
  for (const fs::path& path : FilesOf(log_base, instance)) {
    if (path.filename().string().rfind("error_", 0) == 0) {
      count += Occurrences(ReadText(path), text);
    }
  }
  return count;
}

std::vector<fs::path> DumpsOf(const fs::path& log_base, const std::string& instance) {
  std::vector<fs::path> dumps = FilesOf(log_base, instance);
  std::erase_if(dumps, [](const fs::path& path) { return path.extension() != ".dmp"; });
  return dumps;
}

}  // namespace soak

// The working-folder harness of the host integration tests.
#include "host_harness.h"

#include <fstream>
#include <sstream>
#include <thread>

#include "support/scratch.h"

namespace hosttest {

namespace {

constexpr char kTable[] = "rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string ServerAppPath() {
  return std::string(SERVERAPP_DIST_DIR) + "/" + testsupport::ProgramFileName("ServerApp");
}

HostFolder::HostFolder(const Switches& switches) {
  root_ = testsupport::MakeScratchFolder("hosttest-");
  work_ = root_ / "work";
  trace_ = root_ / "trace.txt";
  fs::create_directories(work_ / "rez" / "NationMsz");
  fs::create_directories(root_ / "log");
  fs::copy_file(fs::path(SERVERAPP_DIST_DIR) / kTable, work_ / kTable);
  std::ofstream(work_ / "Setting.ini") << "[LogInfo]\r\nLogLevel=5\r\n";

  Switches all = switches;
  all.emplace("TraceFile", trace_.string());
  std::ofstream ini(work_ / "ReferenceModule.ini");
  ini << "[Module]\n";
  for (const auto& [key, value] : all) ini << key << "=" << value << "\n";
}

HostFolder::~HostFolder() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void HostFolder::WriteParameterFile(const std::string& line) const {
  std::ofstream(root_ / "Parameter.txt") << line << "\n";
}

std::unique_ptr<platform::Process> HostFolder::Start(const std::vector<std::string>& args,
                                                     bool console,
                                                     const std::string& program) const {
  platform::ProcessOptions options;
  options.program = program.empty() ? ServerAppPath() : program;
  options.args = args;
  options.working_directory = work_.string();
  // Message boxes as stderr lines: on Windows a real box would wait for a
  // click nobody gives (POSIX writes them to stderr anyway).
  options.environment = {{"SERVERAPP_LOG_BASE", (root_ / "log").string()},
                         {"SERVERAPP_MESSAGEBOX", "stderr"}};
  if (console) options.environment.emplace_back("SERVERAPP_CONSOLE", "1");
  options.std_in = console ? platform::StdStream::kPipe : platform::StdStream::kNull;
  options.std_out = platform::StdStream::kPipe;
  options.std_err = platform::StdStream::kPipe;
  return platform::Process::Start(options);
}

std::vector<std::string> HostFolder::Trace() const {
  std::vector<std::string> lines;
  std::ifstream in(trace_);
  std::string line;
  while (std::getline(in, line)) {
    size_t space = line.find(' ');
    lines.push_back(space == std::string::npos ? line : line.substr(space + 1));
  }
  return lines;
}

std::vector<uint32_t> HostFolder::TraceTimes(const std::string& prefix) const {
  std::vector<uint32_t> times;
  std::ifstream in(trace_);
  std::string line;
  while (std::getline(in, line)) {
    size_t space = line.find(' ');
    if (space != std::string::npos && line.compare(space + 1, prefix.size(), prefix) == 0) {
      times.push_back(static_cast<uint32_t>(std::stoul(line.substr(0, space))));
    }
  }
  return times;
}

size_t HostFolder::CountTrace(const std::string& prefix) const {
  size_t count = 0;
  for (const std::string& line : Trace()) count += line.rfind(prefix, 0) == 0 ? 1 : 0;
  return count;
}

bool HostFolder::WaitForTrace(const std::string& prefix, std::chrono::milliseconds timeout) const {
  auto end = std::chrono::steady_clock::now() + timeout;
  do {
    if (CountTrace(prefix) > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

std::string HostFolder::HostLog() const {
  std::string all;
  fs::path base = root_ / "log";
  for (const auto& entry : fs::recursive_directory_iterator(base)) {
    if (entry.is_regular_file() && entry.path().filename().string().rfind("error_", 0) == 0) {
      all += ReadFile(entry.path());
    }
  }
  return all;
}

bool HostFolder::WaitForHostLog(const std::string& text, std::chrono::milliseconds timeout) const {
  auto end = std::chrono::steady_clock::now() + timeout;
  do {
    if (HostLog().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

std::string ReadAllStderr(platform::Process& process, int timeout_ms) {
  std::string all, line;
  while (process.ReadStderrLine(&line, timeout_ms)) all += line + "\n";
  return all;
}

std::string ReadAllStdout(platform::Process& process, int timeout_ms) {
  std::string all, line;
  while (process.ReadStdoutLine(&line, timeout_ms)) all += line + "\n";
  return all;
}

int WaitExit(platform::Process& process, int timeout_ms) {
  std::optional<platform::ExitStatus> status = process.Wait(timeout_ms);
  if (!status) return -1000;
  return status->exited ? status->exit_code : -status->signal;
}

}  // namespace hosttest

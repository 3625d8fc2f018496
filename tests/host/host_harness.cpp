#include "host_harness.h"

#include <algorithm>
#include <fstream>
#include <thread>

#include "support/scratch.h"

namespace hosttest {

namespace {

constexpr char kTable[] = "rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz";

// Asks `done` every 20 ms until it holds or `timeout` passed.
template <typename Done>
bool Eventually(std::chrono::milliseconds timeout, Done done) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::vector<std::string> Lines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ReadAll(platform::Process& process, bool err, int timeout_ms) {
  std::string all, line;
  while (err ? process.ReadStderrLine(&line, timeout_ms)
             : process.ReadStdoutLine(&line, timeout_ms)) {
    all += line + "\n";
  }
  return all;
}

}  // namespace

std::string ServerAppPath() {
  return std::string(SERVERAPP_DIST_DIR) + "/" + testsupport::ProgramFileName("ServerApp");
}

HostFolder::HostFolder(const Switches& switches)
    : root_(testsupport::MakeScratchFolder("hosttest-")),
      work_(root_ / "work"),
      trace_(root_ / "trace.txt") {
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

std::unique_ptr<platform::Process> HostFolder::Start(const std::vector<std::string>& args,
                                                     bool console,
                                                     const std::string& program) const {
  platform::ProcessOptions options;
  options.program = program.empty() ? ServerAppPath() : program;
  options.args = args;
  options.working_directory = work_.string();
  // Message boxes as stderr lines: a real box would wait for a click.
  options.environment = {{"SERVERAPP_LOG_BASE", (root_ / "log").string()},
                         {"SERVERAPP_MESSAGEBOX", "stderr"}};
  if (console) options.environment.emplace_back("SERVERAPP_CONSOLE", "1");
  options.std_in = console ? platform::StdStream::kPipe : platform::StdStream::kNull;
  options.std_out = platform::StdStream::kPipe;
  options.std_err = platform::StdStream::kPipe;
  return platform::Process::Start(options);
}

std::vector<std::string> HostFolder::Trace() const {
  std::vector<std::string> lines = Lines(trace_);
  for (std::string& line : lines) line.erase(0, line.find(' ') + 1);  // none: npos + 1 == 0
  return lines;
}

std::vector<uint32_t> HostFolder::TraceTimes(const std::string& prefix) const {
  std::vector<uint32_t> times;
  for (const std::string& line : Lines(trace_)) {
    const size_t space = line.find(' ');
    if (space != std::string::npos && line.compare(space + 1, prefix.size(), prefix) == 0) {
      times.push_back(static_cast<uint32_t>(std::stoul(line.substr(0, space))));
    }
  }
  return times;
}

size_t HostFolder::CountTrace(const std::string& prefix) const {
  return std::ranges::count_if(Trace(),
                               [&](const std::string& l) { return l.starts_with(prefix); });
}

bool HostFolder::WaitForTrace(const std::string& prefix, std::chrono::milliseconds timeout) const {
  return Eventually(timeout, [&] { return CountTrace(prefix) > 0; });
}

std::string HostFolder::HostLog() const {
  std::string all;
  for (const auto& entry : fs::recursive_directory_iterator(root_ / "log")) {
    if (entry.is_regular_file() && entry.path().filename().string().starts_with("error_")) {
      all += testsupport::ReadFile(entry.path());
    }
  }
  return all;
}

bool HostFolder::WaitForHostLog(const std::string& text, std::chrono::milliseconds timeout) const {
  return Eventually(timeout, [&] { return HostLog().find(text) != std::string::npos; });
}

std::string ReadAllStderr(platform::Process& process, int timeout_ms) {
  return ReadAll(process, true, timeout_ms);
}

std::string ReadAllStdout(platform::Process& process, int timeout_ms) {
  return ReadAll(process, false, timeout_ms);
}

int WaitExit(platform::Process& process, int timeout_ms) {
  std::optional<platform::ExitStatus> status = process.Wait(timeout_ms);
  if (!status) return -1000;
  return status->exited ? status->exit_code : -status->signal;
}

}  // namespace hosttest

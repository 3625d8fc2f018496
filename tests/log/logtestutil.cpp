#include "logtestutil.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/identity.h"
#include "support/scratch.h"

namespace logtest {

TempDir::TempDir() : path_(testsupport::MakeScratchFolder("logtest-")) {}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScopedCwd::ScopedCwd(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
  std::filesystem::current_path(dir);
}

ScopedCwd::~ScopedCwd() {
  std::error_code ec;
  std::filesystem::current_path(old_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    had_ = true;
    old_ = old;
  }
  testsupport::SetEnv(name, value);
}

ScopedEnv::~ScopedEnv() {
  testsupport::SetEnv(name_.c_str(), had_ ? old_.c_str() : nullptr);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

namespace {
platform::LocalTime g_fixed;
std::atomic<bool> g_fixed_lock{false};
platform::LocalTime FixedTime() {
  while (g_fixed_lock.exchange(true)) {
  }
  const platform::LocalTime t = g_fixed;
  g_fixed_lock.store(false);
  return t;
}
}  // namespace

void SetFixedTime(const platform::LocalTime& t) {
  while (g_fixed_lock.exchange(true)) {
  }
  g_fixed = t;
  g_fixed_lock.store(false);
  platform::SetLocalTimeSource(&FixedTime);
}

platform::LocalTime MakeTime(int y, int mo, int d, int h, int mi, int s, int ms) {
  platform::LocalTime t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  t.millisecond = ms;
  return t;
}

std::vector<std::uint8_t> MszOf(const std::vector<std::pair<std::int64_t, std::string>>& texts) {
  std::vector<msz::Record> records;
  for (const auto& [id, text] : texts) {
    msz::Record r;
    r.id = id;
    msz::Utf8ToUtf16(text, &r.text);
    records.push_back(std::move(r));
  }
  return msz::Build(records);
}

ShmSession::ShmSession() {
  name_ = "logtest" + std::to_string(platform::CurrentProcessId());
  testsupport::SetEnv("SERVERAPP_SHM_SESSION", name_.c_str());
}

ShmSession::~ShmSession() {
  // Whatever this session left (the guard, objects of killed peers).
  testsupport::RemoveSharedMemoryLeftovers(name_);
  testsupport::SetEnv("SERVERAPP_SHM_SESSION", nullptr);
}

Peer::Peer(const std::vector<std::string>& argv, const std::filesystem::path& cwd) {
  platform::ProcessOptions options;
  options.program = argv.at(0);
  options.args.assign(argv.begin() + 1, argv.end());
  options.working_directory = cwd.string();
  options.std_in = platform::StdStream::kPipe;
  options.std_out = platform::StdStream::kPipe;
  std::string why;
  process_ = platform::Process::Start(options, &why);
  if (!process_) throw std::runtime_error("cannot start the peer: " + why);
}

Peer::~Peer() {
  // A peer still running is asked to release and end; one that does not is
  // killed (by the Process object).
  if (process_) {
    process_->CloseStdin();
    process_->Wait(5000);
  }
}

std::string Peer::ReadLine(int timeout_ms) {
  std::string line;
  if (!process_ || !process_->ReadStdoutLine(&line, timeout_ms)) return {};
  return line;
}

int Peer::CloseAndWait() {
  if (!process_) return -1;
  process_->CloseStdin();
  const auto status = process_->Wait(-1);
  return status && status->exited ? status->exit_code : -1;
}

void Peer::Kill() {
  if (!process_) return;
  process_->Kill();
  process_->Wait(-1);
}

}  // namespace logtest

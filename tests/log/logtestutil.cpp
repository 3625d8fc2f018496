#include "logtestutil.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace logtest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "logtest-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

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
  if (const char* old = ::getenv(name)) {
    had_ = true;
    old_ = old;
  }
  if (value) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    ::setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
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
  name_ = "logtest" + std::to_string(::getpid());
  ::setenv("SERVERAPP_SHM_SESSION", name_.c_str(), 1);
}

ShmSession::~ShmSession() {
  // Whatever this session left (the guard, objects of killed peers).
  const std::string prefix = "u" + std::to_string(::getuid()) + "." + name_ + ".";
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) == 0) ::shm_unlink(("/" + name).c_str());
  }
  ::unsetenv("SERVERAPP_SHM_SESSION");
}

Peer::Peer(const std::vector<std::string>& argv, const std::filesystem::path& cwd) {
  int to_child[2];
  int from_child[2];
  if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const std::string dir = cwd.string();
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(to_child[0], 0);
    ::dup2(from_child[1], 1);
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(to_child[0]);
  ::close(from_child[1]);
  in_ = to_child[1];
  out_ = from_child[0];
}

Peer::~Peer() {
  // A peer still running is asked to release and end; one that does not is
  // killed.
  if (pid_ > 0) {
    if (in_ >= 0) {
      ::close(in_);
      in_ = -1;
    }
    bool reaped = false;
    for (int i = 0; i < 500 && !reaped; ++i) {
      const pid_t r = ::waitpid(pid_, nullptr, WNOHANG);
      reaped = r == pid_ || r < 0;
      if (!reaped) ::usleep(10000);
    }
    if (!reaped) Kill();
    pid_ = -1;
  }
  if (in_ >= 0) ::close(in_);
  if (out_ >= 0) ::close(out_);
}

std::string Peer::ReadLine(int timeout_ms) {
  for (;;) {
    const size_t eol = buffer_.find('\n');
    if (eol != std::string::npos) {
      std::string line = buffer_.substr(0, eol);
      buffer_.erase(0, eol + 1);
      return line;
    }
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return {};
    char buf[512];
    const ssize_t n = ::read(out_, buf, sizeof buf);
    if (n <= 0) return {};
    buffer_.append(buf, static_cast<size_t>(n));
  }
}

int Peer::CloseAndWait() {
  if (in_ >= 0) {
    ::close(in_);
    in_ = -1;
  }
  int status = 0;
  if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void Peer::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace logtest

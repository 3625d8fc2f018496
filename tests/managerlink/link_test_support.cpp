#include "link_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "gsmsim/peer/manager_peer.h"
#include "hostlogger.h"
#include "hostlogger_testing.h"
#include "platform/identity.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

namespace linktest {
namespace {

std::string ToHex(std::span<const std::byte> bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::byte b : bytes) {
    text.push_back(kDigits[static_cast<unsigned>(b) >> 4]);
    text.push_back(kDigits[static_cast<unsigned>(b) & 0xF]);
  }
  return text;
}

std::vector<std::byte> FromHex(const std::string& text) {
  std::vector<std::byte> bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(static_cast<std::byte>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

int g_sandbox_serial = 0;

}  // namespace

LogSandbox::LogSandbox(int ipc_memory, int ipc_msg) {
  dir_ =
      fs::temp_directory_path() / ("managerlink-" + std::to_string(platform::CurrentProcessId()) +
                                   "-" + std::to_string(++g_sandbox_serial));
  fs::remove_all(dir_);
  fs::create_directories(dir_);
  old_cwd_ = fs::current_path();
  fs::current_path(dir_);
  testsupport::SetEnv("SERVERAPP_LOG_BASE", (dir_ / "logs").string().c_str());
  std::ofstream("Setting.ini") << "[LogInfo]\nLogLevel=4\nIPCMemory=" << ipc_memory
                               << "\nIPCMsg=" << ipc_msg << "\n";
  ResetHostLoggerForTesting();
  InitHostLogger("ROOMPC01", "ServerApp", "7_3", nullptr);
}

LogSandbox::~LogSandbox() {
  ResetHostLoggerForTesting();
  testsupport::SetEnv("SERVERAPP_LOG_BASE", nullptr);
  fs::current_path(old_cwd_);
  std::error_code ignored;
  fs::remove_all(dir_, ignored);
}

std::vector<std::string> LogSandbox::Lines(const std::string& prefix, size_t date_width,
                                           const std::string& line_end) const {
  std::vector<std::string> lines;
  if (!fs::exists(dir_ / "logs")) return lines;
  for (const auto& entry : fs::recursive_directory_iterator(dir_ / "logs")) {
    if (entry.path().filename().string().rfind(prefix, 0) != 0) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    size_t at = 0;
    while (at < all.size()) {
      const size_t end = all.find(line_end, at);
      const std::string line = all.substr(at, end == std::string::npos ? end : end - at);
      lines.push_back(line.size() > date_width ? line.substr(date_width) : line);
      if (end == std::string::npos) break;
      at = end + line_end.size();
    }
  }
  return lines;
}

// "14:03:07.015 " before, " \r\r\n" after.
std::vector<std::string> LogSandbox::MainLines() const {
  return Lines("error_", 13, " \r\r\n");
}

// "2026-12-05-14:03:07.015, " before, " \r\n" after.
std::vector<std::string> LogSandbox::RwpmLines() const {
  return Lines("RWPM_", 25, " \r\n");
}

std::vector<std::string> LogSandbox::IpcMsgLines() const {
  return Lines("IPCMSG_", 25, " \r\n");
}

bool LogSandbox::HasRwpmFile() const {
  if (!fs::exists(dir_ / "logs")) return false;
  for (const auto& entry : fs::recursive_directory_iterator(dir_ / "logs")) {
    if (entry.path().filename().string().rfind("RWPM_", 0) == 0) return true;
  }
  return false;
}

uint32_t FaultySystem::GetWindowProcessId(platform::WindowHandle window) {
  return fail_process_id ? 0 : ManagerLinkSystem::GetWindowProcessId(window);
}

std::unique_ptr<platform::ProcessMemory> FaultySystem::OpenProcess(
    uint32_t pid, platform::ProcessMemoryAccess access) {
  ++opens;
  return fail_open ? nullptr : ManagerLinkSystem::OpenProcess(pid, access);
}

void* FaultySystem::AllocateRecord(size_t size) {
  return fail_allocation ? nullptr : ManagerLinkSystem::AllocateRecord(size);
}

std::vector<std::byte> Pattern(size_t size, uint8_t seed) {
  std::vector<std::byte> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::byte>((i * 7 + seed) & 0xFF);
  return bytes;
}

// ---------------- the manager process ----------------

int ManagerProcessMain() {
  std::string error;
  auto peer = gsmsim::ManagerPeer::Start(&error);
  if (peer == nullptr) {
    std::fprintf(stderr, "manager peer: %s\n", error.c_str());
    return 2;
  }
  std::printf("%llu\n", static_cast<unsigned long long>(peer->handle()));
  std::fflush(stdout);
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.rfind("put ", 0) == 0) {
      const std::vector<std::byte> bytes = FromHex(line.substr(4));
      std::printf("%llu\n", static_cast<unsigned long long>(peer->AddBuffer(bytes)));
    } else if (line.rfind("get ", 0) == 0) {
      const uint64_t address = std::strtoull(line.c_str() + 4, nullptr, 10);
      std::printf("=%s\n", ToHex(peer->ReadBuffer(address)).c_str());
    } else if (line == "quit") {
      break;
    }
    std::fflush(stdout);
  }
  return 0;
}

bool RunAsManagerProcess(int argc, char** argv, int* exit_code) {
  if (argc != 2 || std::strcmp(argv[1], "--manager") != 0) return false;
  *exit_code = ManagerProcessMain();
  return true;
}

std::unique_ptr<ManagerProcess> ManagerProcess::Start() {
  platform::ProcessOptions options;
  options.program = platform::ExecutablePath();
  options.args = {"--manager"};
  options.std_in = platform::StdStream::kPipe;
  options.std_out = platform::StdStream::kPipe;
  std::string error;
  std::unique_ptr<ManagerProcess> manager(new ManagerProcess);
  manager->process_ = platform::Process::Start(options, &error);
  EXPECT_NE(manager->process_, nullptr) << error;
  if (manager->process_ == nullptr) return nullptr;
  std::string line;
  const bool ready = manager->process_->ReadStdoutLine(&line, 20000);
  EXPECT_TRUE(ready) << "the manager process did not report its window";
  if (!ready) return nullptr;
  manager->window_ = std::strtoull(line.c_str(), nullptr, 10);
  EXPECT_NE(manager->window_, 0u) << line;
  if (manager->window_ == 0) return nullptr;
  return manager;
}

ManagerProcess::~ManagerProcess() {
  Stop();
}

std::string ManagerProcess::Ask(const std::string& command) {
  std::string line;
  if (process_ == nullptr || !process_->WriteStdin(command + "\n")) return line;
  if (!process_->ReadStdoutLine(&line, 20000)) line.clear();
  return line;
}

uint64_t ManagerProcess::Put(std::span<const std::byte> bytes) {
  return std::strtoull(Ask("put " + ToHex(bytes)).c_str(), nullptr, 10);
}

std::vector<std::byte> ManagerProcess::Get(uint64_t address) {
  const std::string answer = Ask("get " + std::to_string(address));
  if (answer.empty() || answer[0] != '=') return {};
  return FromHex(answer.substr(1));
}

void ManagerProcess::Stop() {
  if (process_ == nullptr) return;
  process_->WriteStdin("quit\n");
  process_->CloseStdin();
  if (!process_->Wait(20000)) process_->Kill();
  process_->Wait(-1);
  process_.reset();
}

}  // namespace linktest

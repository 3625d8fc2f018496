#include "link_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "gsmsim/peer/manager_peer.h"
#include "platform/identity.h"

namespace linktest {
namespace {

std::string ToHex(std::span<const std::byte> bytes) {
  std::string text;
  char digits[3];
  for (std::byte b : bytes) {
    std::snprintf(digits, sizeof(digits), "%02x", std::to_integer<unsigned>(b));
    text += digits;
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

}  // namespace

std::vector<std::byte> Pattern(size_t size, uint8_t seed) {
  std::vector<std::byte> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::byte>((i * 7 + seed) & 0xFF);
  return bytes;
}

bool RunAsManagerProcess(int argc, char** argv, int* exit_code) {
  if (argc != 2 || std::strcmp(argv[1], "--manager") != 0) return false;
  std::string error;
  auto peer = gsmsim::ManagerPeer::Start(&error);
  *exit_code = peer == nullptr ? 2 : 0;
  if (peer == nullptr) {
    std::fprintf(stderr, "manager peer: %s\n", error.c_str());
    return true;
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
  std::string line;
  if (manager->process_ != nullptr && manager->process_->ReadStdoutLine(&line, 20000)) {
    manager->window_ = std::strtoull(line.c_str(), nullptr, 10);
  }
  if (manager->window_ == 0) {
    ADD_FAILURE() << "the manager process did not report its window: " << error << line;
    return nullptr;
  }
  return manager;
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

#include "dev_server.h"

#include <httplib.h>

#include <chrono>

namespace devhttp {

DevServer::DevServer() : server_(std::make_unique<httplib::Server>()) {}

DevServer::~DevServer() {
  Stop();
}

int DevServer::Start(const std::string& host, int port) {
  if (port == 0) {
    port_ = server_->bind_to_any_port(host.c_str());
  } else {
    port_ = server_->bind_to_port(host.c_str(), port) ? port : -1;
  }
  if (port_ < 0) return -1;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() only reaches a server that already runs its accept loop.
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return port_;
}

void DevServer::Stop() {
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

}  // namespace devhttp

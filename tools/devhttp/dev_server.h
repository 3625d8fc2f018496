// The HTTP server of the development services: binds, runs on a thread of
// its own and stops cleanly. Services (the crash-report service, the
// content file server) add their routes to server() before Start.
#pragma once

#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace devhttp {

class DevServer {
 public:
  DevServer();
  ~DevServer();
  DevServer(const DevServer&) = delete;
  DevServer& operator=(const DevServer&) = delete;

  httplib::Server& server() { return *server_; }

  // Binds host:port (port 0: any free port) and starts serving. Answers the
  // port, or -1 when it cannot bind.
  int Start(const std::string& host, int port);
  // Stops serving and waits for the thread; safe to call twice.
  void Stop();

  int port() const { return port_; }

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = -1;
};

}  // namespace devhttp

// The development services in this process, on a thread of their own.
#include "dev_services.h"

#include "content_service.h"
#include "crash_service.h"
#include "dev_server.h"
#include "support/scratch.h"

namespace devtest {

namespace fs = std::filesystem;

struct DevServices::State {
  fs::path folder = testsupport::MakeScratchFolder("devservices-");
  devhttp::CrashService crash{"/crs/", folder / "crs"};
  devhttp::ContentService content{"/content/", folder / "content"};
  devhttp::DevServer server;
  int port = -1;
};

DevServices::DevServices() : state_(std::make_unique<State>()) {}

DevServices::~DevServices() {
  // A stalled answer would keep the server's thread from stopping.
  state_->crash.ReleaseStalls();
  state_->content.ReleaseStalls();
  state_->server.Stop();
  std::error_code ignored;
  fs::remove_all(state_->folder, ignored);
}

bool DevServices::Start(std::string* why) {
  state_->crash.Register(state_->server.server());
  state_->content.Register(state_->server.server());
  state_->port = state_->server.Start("127.0.0.1", 0);
  if (state_->port <= 0) *why = "cannot listen on a loopback port";
  return state_->port > 0;
}

std::string DevServices::CrashUrl() const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + "/crs/";
}

std::string DevServices::ContentUrl() const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + "/content/";
}

fs::path DevServices::CrashStore() const {
  return state_->crash.folder();
}

fs::path DevServices::ContentRoot() const {
  return state_->content.folder();
}

std::vector<Upload> DevServices::Uploads() const {
  std::vector<Upload> uploads;
  for (const devhttp::StoredObject& object : state_->crash.Objects()) {
    uploads.push_back({object.name, object.version, object.size});
  }
  return uploads;
}

std::vector<std::string> DevServices::ContentRequests() const {
  return state_->content.Requests();
}

}  // namespace devtest

// The services in this process, with a redirecting route of their own.
#include <httplib.h>

#include "content_service.h"
#include "crash_service.h"
#include "dev_server.h"
#include "support/content_server.h"
#include "support/scratch.h"

namespace testsupport {

struct ContentServer::State {
  std::filesystem::path folder = MakeScratchFolder("devservices-");
  devhttp::ContentService content{"/content/", folder / "content"};
  devhttp::CrashService crash{"/crs/", folder / "crs"};
  // Destroyed first: its thread may still be handling a request.
  devhttp::DevServer server;
  int port = -1;
};

ContentServer::ContentServer() : state_(std::make_unique<State>()) {}

ContentServer::~ContentServer() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(state_->folder, ignored);
}

bool ContentServer::Start(std::string* why) {
  state_->content.Register(state_->server.server());
  state_->crash.Register(state_->server.server());
  state_->server.server().Get("/moved/(.*)",
                              [](const httplib::Request& req, httplib::Response& res) {
                                res.set_redirect("/content/" + std::string(req.matches[1]));
                              });
  state_->port = state_->server.Start("127.0.0.1", 0);
  if (state_->port <= 0) *why = "the services cannot bind a loopback port";
  return state_->port > 0;
}

void ContentServer::Stop() {
  // A stalled answer would keep the server's thread from stopping.
  state_->content.ReleaseStalls();
  state_->crash.ReleaseStalls();
  state_->server.Stop();
}

std::filesystem::path ContentServer::Root() const {
  return state_->content.folder();
}

std::string ContentServer::Url() const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + "/content/";
}

int ContentServer::Control(const std::string& path_and_query) const {
  httplib::Client client("127.0.0.1", state_->port);
  const auto answer = client.Post(path_and_query, "", "text/plain");
  return answer ? answer->status : 0;
}

std::string ContentServer::RedirectUrl(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + "/moved/" + name;
}

std::string ContentServer::CrashUrl() const {
  return "http://127.0.0.1:" + std::to_string(state_->port) + "/crs/";
}

std::filesystem::path ContentServer::CrashStore() const {
  return state_->crash.folder();
}

std::vector<Upload> ContentServer::Uploads() const {
  std::vector<Upload> uploads;
  for (const devhttp::StoredObject& o : state_->crash.Objects()) {
    uploads.push_back({o.name, o.version, o.headers, o.size});
  }
  return uploads;
}

std::vector<std::string> ContentServer::ContentRequests() const {
  return state_->content.Requests();
}

}  // namespace testsupport

// The content server in this process, with a redirecting route of its own.
#include <httplib.h>

#include "content_service.h"
#include "dev_server.h"
#include "support/content_server.h"
#include "support/scratch.h"

namespace testsupport {

struct ContentServer::State {
  std::filesystem::path root = MakeScratchFolder("contentserver-");
  devhttp::ContentService service{"/content/", root};
  devhttp::DevServer server;
  int port = -1;
};

ContentServer::ContentServer() : state_(std::make_unique<State>()) {}

ContentServer::~ContentServer() {
  Stop();
  std::error_code ignored;
  std::filesystem::remove_all(state_->root, ignored);
}

bool ContentServer::Start(std::string* why) {
  state_->service.Register(state_->server.server());
  state_->server.server().Get("/moved/(.*)",
                              [this](const httplib::Request& req, httplib::Response& res) {
                                res.set_redirect("/content/" + std::string(req.matches[1]));
                              });
  state_->port = state_->server.Start("127.0.0.1", 0);
  if (state_->port <= 0) *why = "the content server cannot bind a loopback port";
  return state_->port > 0;
}

void ContentServer::Stop() {
  state_->service.ReleaseStalls();
  state_->server.Stop();
}

std::filesystem::path ContentServer::Root() const {
  return state_->root;
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

}  // namespace testsupport

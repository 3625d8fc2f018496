// The content server under Wine: devhttp of the build machine, started and
// stopped through the shell, serving a folder both sides see.
#include "support/content_server.h"
#include "wine_host.h"

namespace testsupport {

struct ContentServer::State {
  wine_test::SharedFolder folder;
  wine_test::HostDevHttp server{folder};
};

ContentServer::ContentServer() : state_(std::make_unique<State>()) {}

ContentServer::~ContentServer() = default;

bool ContentServer::Start(std::string* why) {
  if (!state_->server.Start(why)) return false;
  std::error_code ec;
  std::filesystem::create_directories(Root(), ec);
  if (ec) *why = "cannot create " + Root().string() + ": " + ec.message();
  return !ec;
}

void ContentServer::Stop() {
  state_->server.Stop();
}

std::filesystem::path ContentServer::Root() const {
  return state_->server.ContentRoot();
}

std::string ContentServer::Url() const {
  return state_->server.Url("/content/");
}

int ContentServer::Control(const std::string& path_and_query) const {
  return state_->server.Control(path_and_query);
}

std::string ContentServer::RedirectUrl(const std::string&) const {
  return {};
}

}  // namespace testsupport

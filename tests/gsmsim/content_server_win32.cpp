// The content server under Wine: devhttp of the build machine, started and
// stopped through the shell, serving a folder both sides see.
#include "content_server.h"

#include "wine_host.h"

namespace gsmsim_test {

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

std::filesystem::path ContentServer::Root() const {
  return state_->server.ContentRoot();
}

std::string ContentServer::Url() const {
  return state_->server.Url("/content/");
}

}  // namespace gsmsim_test

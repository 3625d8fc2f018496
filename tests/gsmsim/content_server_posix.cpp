// The content server as a child process: it prints its address first.
#include "content_server.h"

#include "platform/process.h"
#include "support/scratch.h"

namespace gsmsim_test {

struct ContentServer::State {
  std::filesystem::path root;
  std::unique_ptr<platform::Process> process;
  std::string url;
};

ContentServer::ContentServer() : state_(std::make_unique<State>()) {}

ContentServer::~ContentServer() {
  if (state_->process) state_->process->Terminate();
  state_->process.reset();
  std::error_code ignored;
  if (!state_->root.empty()) std::filesystem::remove_all(state_->root, ignored);
}

bool ContentServer::Start(std::string* why) {
  state_->root = testsupport::MakeScratchFolder("contentserver-");
  platform::ProcessOptions server;
  server.program = DEVHTTP_PATH;
  server.args = {"--host",         "127.0.0.1", "--port",         "0",
                 "--content-path", "/content/", "--content-root", state_->root.string()};
  server.std_in = platform::StdStream::kNull;
  server.std_out = platform::StdStream::kPipe;
  server.std_err = platform::StdStream::kInherit;
  state_->process = platform::Process::Start(server, why);
  if (!state_->process) return false;
  std::string banner;
  if (!state_->process->ReadStdoutLine(&banner, 10000)) {
    *why = "devhttp printed no address";
    return false;
  }
  const size_t at = banner.find("http://");
  if (at == std::string::npos) {
    *why = "devhttp printed no address: " + banner;
    return false;
  }
  state_->url = banner.substr(at) + "/content/";
  return true;
}

std::filesystem::path ContentServer::Root() const {
  return state_->root;
}

std::string ContentServer::Url() const {
  return state_->url;
}

}  // namespace gsmsim_test

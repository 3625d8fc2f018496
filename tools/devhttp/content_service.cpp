#include "content_service.h"

#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

#include "crash_service.h"  // IsSafeObjectName

namespace devhttp {
namespace {

// The whole file, or false when it cannot be read.
bool ReadWhole(const std::filesystem::path& path, std::string* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  *out = text.str();
  return true;
}

std::string EscapeForPattern(const std::string& text) {
  std::string pattern;
  for (char c : text) {
    if (std::strchr(".^$|()[]{}*+?\\", c) != nullptr) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

}  // namespace

bool ParseContentMode(const std::string& text, ContentService::Mode* mode) {
  using Mode = ContentService::Mode;
  static const std::pair<const char*, Mode> kModes[] = {{"serve", Mode::kServe},
                                                        {"short", Mode::kShort},
                                                        {"status", Mode::kStatus},
                                                        {"stall", Mode::kStall},
                                                        {"trickle", Mode::kTrickle}};
  for (const auto& [name, value] : kModes) {
    if (text == name) {
      *mode = value;
      return true;
    }
  }
  return false;
}

ContentService::ContentService(std::string prefix, std::filesystem::path folder)
    : prefix_(std::move(prefix)), folder_(std::move(folder)) {
  if (prefix_.empty() || prefix_.back() != '/') prefix_ += '/';
  std::filesystem::create_directories(folder_);
}

ContentService::~ContentService() {
  ReleaseStalls();
}

void ContentService::SetBehaviour(const Behaviour& behaviour) {
  std::lock_guard<std::mutex> lock(mutex_);
  behaviour_ = behaviour;
  released_ = false;
}

ContentService::Behaviour ContentService::behaviour() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return behaviour_;
}

void ContentService::ReleaseStalls() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
  }
  released_cv_.notify_all();
}

void ContentService::SetRequestHook(std::function<void(const std::string&)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  hook_ = std::move(hook);
}

std::vector<std::string> ContentService::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool ContentService::WaitUnlessReleased(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (ms <= 0) {
    released_cv_.wait(lock, [this] { return released_; });
  } else {
    released_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return released_; });
  }
  return !released_;
}

void ContentService::Register(httplib::Server& server) {
  server.Get(EscapeForPattern(prefix_) + "(.*)",
             [this](const httplib::Request& req, httplib::Response& res) {
               const std::string name = req.matches.size() > 1 ? std::string(req.matches[1]) : "";
               std::function<void(const std::string&)> hook;
               Behaviour behaviour;
               {
                 std::lock_guard<std::mutex> lock(mutex_);
                 requests_.push_back(name);
                 hook = hook_;
                 behaviour = behaviour_;
               }
               if (hook) hook(name);

               if (behaviour.mode == Mode::kStatus) {
                 res.status = behaviour.status;
                 res.set_content("status " + std::to_string(behaviour.status) + "\n", "text/plain");
                 return;
               }
               if (behaviour.mode == Mode::kStall && !WaitUnlessReleased(behaviour.ms)) {
                 res.status = 503;
                 return;
               }
               auto body = std::make_shared<std::string>();
               if (!IsSafeObjectName(name) || !ReadWhole(folder_ / name, body.get())) {
                 res.status = 404;
                 res.set_content("no such package\n", "text/plain");
                 return;
               }
               if (behaviour.mode == Mode::kShort && body->size() > behaviour.bytes) {
                 body->resize(behaviour.bytes);
               }
               if (behaviour.mode != Mode::kTrickle) {
                 res.set_content(*body, "application/octet-stream");
                 return;
               }
               const std::size_t piece = behaviour.bytes == 0 ? 1 : behaviour.bytes;
               const int interval = behaviour.ms;
               res.set_content_provider(body->size(), "application/octet-stream",
                                        [this, body, piece, interval](size_t offset, size_t length,
                                                                      httplib::DataSink& sink) {
                                          const size_t n = length < piece ? length : piece;
                                          if (!sink.write(body->data() + offset, n)) return false;
                                          return WaitUnlessReleased(interval > 0 ? interval : 1);
                                        });
             });

  server.Post("/_control/content", [this](const httplib::Request& req, httplib::Response& res) {
    Behaviour behaviour = this->behaviour();
    if (req.has_param("mode") && !ParseContentMode(req.get_param_value("mode"), &behaviour.mode)) {
      res.status = 400;
      res.set_content("bad mode\n", "text/plain");
      return;
    }
    if (req.has_param("bytes")) {
      behaviour.bytes = std::strtoull(req.get_param_value("bytes").c_str(), nullptr, 10);
    }
    if (req.has_param("status"))
      behaviour.status = std::atoi(req.get_param_value("status").c_str());
    if (req.has_param("ms")) behaviour.ms = std::atoi(req.get_param_value("ms").c_str());
    SetBehaviour(behaviour);
    res.set_content("ok\n", "text/plain");
  });
}

}  // namespace devhttp

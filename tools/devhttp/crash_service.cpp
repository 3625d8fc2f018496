#include "crash_service.h"

#include <httplib.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace devhttp {
namespace {

bool EqualNoCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return i == a.size() && b[i] == '\0';
}

}  // namespace

bool IsEscapedTarget(const std::string& target) {
  for (size_t i = 0; i < target.size(); ++i) {
    const auto c = static_cast<unsigned char>(target[i]);
    if (c == '%') {
      if (i + 2 >= target.size() || !std::isxdigit(static_cast<unsigned char>(target[i + 1])) ||
          !std::isxdigit(static_cast<unsigned char>(target[i + 2]))) {
        return false;
      }
      i += 2;
    } else if (!std::isalnum(c) && std::strchr("-._~!$&'()*+,;=:@/?", c) == nullptr) {
      return false;  // also NUL, which strchr would find
    }
  }
  return true;
}

bool IsSafeObjectName(const std::string& name) {
  if (name.empty() || name.front() == '/') return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return name.find('\\') == std::string::npos && name.find('\0') == std::string::npos;
}

CrashService::CrashService(std::string prefix, std::filesystem::path folder)
    : prefix_(std::move(prefix)), folder_(std::move(folder)) {
  if (prefix_.empty() || prefix_.back() != '/') prefix_ += '/';
  std::filesystem::create_directories(folder_);
}

CrashService::~CrashService() {
  ReleaseStalls();
}

void CrashService::SetStatus(int status) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = status;
}

void CrashService::SetStallMilliseconds(int milliseconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  stall_ms_ = milliseconds;
  releasing_ = false;
}

void CrashService::SetStrictPaths(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  strict_paths_ = on;
}

void CrashService::ReleaseStalls() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    releasing_ = true;
  }
  released_.notify_all();
}

void CrashService::Stall() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stall_ms_ <= 0) return;
  released_.wait_for(lock, std::chrono::milliseconds(stall_ms_), [this] { return releasing_; });
}

std::vector<StoredObject> CrashService::Objects() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return objects_;
}

void CrashService::Register(httplib::Server& server) {
  // httplib matches the whole path against a regular expression.
  std::string pattern;
  for (char c : prefix_) {
    if (std::strchr(".^$|()[]{}*+?\\", c) != nullptr) pattern += '\\';
    pattern += c;
  }
  pattern += "(.*)";
  server.Put(pattern, [this](const httplib::Request& req, httplib::Response& res) {
    Stall();
    bool strict = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      strict = strict_paths_;
    }
    if (strict && !IsEscapedTarget(req.target)) {
      res.status = 400;
      res.set_content("unescaped request path\n", "text/plain");
      return;
    }
    std::string name = req.matches.size() > 1 ? std::string(req.matches[1]) : std::string();
    if (!IsSafeObjectName(name)) {
      res.status = 400;
      res.set_content("bad object name\n", "text/plain");
      return;
    }
    StoredObject object;
    object.name = name;
    object.size = req.body.size();
    for (const auto& [key, value] : req.headers) {
      object.headers += key + ": " + value + "\n";
      if (EqualNoCase(key, "version")) object.version = value;
    }
    std::filesystem::path target = folder_ / name;
    std::error_code ec;
    std::filesystem::create_directories(target.parent_path(), ec);
    std::ofstream(target, std::ios::binary)
        .write(req.body.data(), static_cast<std::streamsize>(req.body.size()));
    std::ofstream(target.string() + ".headers", std::ios::binary) << object.headers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      object.status = status_;
      objects_.push_back(object);
    }
    res.status = object.status;
    res.set_content("stored " + name + "\n", "text/plain");
  });
  server.Post("/_control/crs", [this](const httplib::Request& req, httplib::Response& res) {
    if (req.has_param("status")) SetStatus(std::atoi(req.get_param_value("status").c_str()));
    if (req.has_param("stall_ms")) {
      SetStallMilliseconds(std::atoi(req.get_param_value("stall_ms").c_str()));
    }
    if (req.has_param("strict_paths")) SetStrictPaths(req.get_param_value("strict_paths") == "1");
    res.set_content("ok\n", "text/plain");
  });
}

}  // namespace devhttp

// The development services under Wine: the build machine's devhttp, started
// beside this program on a folder both sides see. What reached it is read
// from that folder (each upload is a file with its headers beside it) and
// from devhttp's output (one line per package request).
#include "dev_services.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "wine_host.h"

namespace devtest {

namespace fs = std::filesystem;

struct DevServices::State {
  wine_test::SharedFolder folder;
  wine_test::HostDevHttp server{folder};
};

DevServices::DevServices() : state_(std::make_unique<State>()) {}

DevServices::~DevServices() = default;

bool DevServices::Start(std::string* why) {
  if (!state_->server.Start(why)) return false;
  // devhttp made both folders before it listened; the content folder must
  // be there for the test to place packages in.
  std::error_code ec;
  fs::create_directories(ContentRoot(), ec);
  if (ec) *why = "cannot create " + ContentRoot().string() + ": " + ec.message();
  return !ec;
}

std::string DevServices::CrashUrl() const {
  return state_->server.Url("/crs/");
}

std::string DevServices::ContentUrl() const {
  return state_->server.Url("/content/");
}

fs::path DevServices::CrashStore() const {
  return state_->server.CrashStore();
}

fs::path DevServices::ContentRoot() const {
  return state_->server.ContentRoot();
}

namespace {

// The value of the "version" line of a stored headers file ("Key: value"
// lines, the key in any case); empty when there is none.
std::string VersionHeader(const std::string& headers) {
  std::istringstream lines(headers);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (key != "version") continue;
    std::string value = line.substr(colon + 1);
    if (!value.empty() && value.front() == ' ') value.erase(0, 1);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
    return value;
  }
  return {};
}

}  // namespace

std::vector<Upload> DevServices::Uploads() const {
  // An upload is a file with "<name>.headers" beside it. The service
  // answers a PUT only after writing both, and the crash-report client
  // sends its parts one after another, so the files' times give the order.
  struct Stored {
    fs::file_time_type time;
    Upload upload;
  };
  std::vector<Stored> stored;
  const fs::path store = CrashStore();
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(store, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path headers = it->path().string() + ".headers";
    if (!it->is_regular_file() || !fs::is_regular_file(headers)) continue;
    Stored s;
    s.time = fs::last_write_time(it->path(), ec);
    s.upload.name = fs::relative(it->path(), store).generic_string();
    s.upload.version = VersionHeader(wine_test::ReadWhole(headers));
    s.upload.size = fs::file_size(it->path(), ec);
    stored.push_back(std::move(s));
  }
  std::stable_sort(stored.begin(), stored.end(),
                   [](const Stored& a, const Stored& b) { return a.time < b.time; });
  std::vector<Upload> uploads;
  for (Stored& s : stored) uploads.push_back(std::move(s.upload));
  return uploads;
}

std::vector<std::string> DevServices::ContentRequests() const {
  static const std::string kPrefix = "devhttp content GET ";
  std::vector<std::string> names;
  std::istringstream lines(wine_test::ReadWhole(state_->server.OutputFile()));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(kPrefix, 0) == 0) names.push_back(line.substr(kPrefix.size()));
  }
  return names;
}

}  // namespace devtest

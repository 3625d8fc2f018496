// The services under Wine: the build machine's devhttp, started and stopped
// through the shell on a free port, its folders in a folder both sides see.
// What reached it is read from that folder (each upload is a file with its
// headers beside it) and from its output (one line per package request).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <wininet.h>

#include <algorithm>
#include <regex>
#include <sstream>

#include "crs_test_support.h"
#include "support/content_server.h"
#include "support/scratch.h"

namespace testsupport {

namespace fs = std::filesystem;
using crs_test::ReadFile;

struct ContentServer::State {
  crs_test::TempFolder folder;
  int port = -1;
  bool started = false;
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
  }
};

ContentServer::ContentServer() : state_(std::make_unique<State>()) {}

ContentServer::~ContentServer() {
  Stop();
}

bool ContentServer::Start(std::string* why) {
  const std::string devhttp = crs_test::HostDevHttpPath();
  const std::string u = crs_test::ToUnix(state_->folder.path());
  // timeout: a test that dies without Stop() leaves no service behind for
  // long; it passes the stop signal on.
  if (!UnderWine() || u.empty() || devhttp.empty()) {
    *why = "no devhttp of the build machine under Wine (set SERVERAPP_HOST_DEVHTTP)";
    return false;
  }
  if (!crs_test::StartHostCommand("/bin/sh -c \"timeout 600 '" + devhttp +
                                  "' --host 127.0.0.1 --port 0 --crs-root '" + u +
                                  "/crs' --content-root '" + u + "/content' --log-requests 1 > '" +
                                  u + "/devhttp.out' 2>&1 & echo $! > '" + u + "/devhttp.pid'\"")) {
    *why = "cannot start " + devhttp;
    return false;
  }
  state_->started = true;
  static const std::regex kListening("listening on http://127\\.0\\.0\\.1:([0-9]+)");
  std::smatch m;
  std::string out;
  if (!crs_test::WaitUntil(
          [&] {
            out = ReadFile(state_->folder.path() / "devhttp.out");
            return std::regex_search(out, m, kListening);
          },
          10000)) {
    *why = "devhttp did not start: " + out;
    return false;
  }
  state_->port = std::stoi(m[1]);
  // The content folder must be there for the test to place packages in.
  std::error_code ec;
  fs::create_directories(Root(), ec);
  return true;
}

void ContentServer::Stop() {
  if (!state_->started) return;
  state_->started = false;
  crs_test::StartHostCommand("/bin/sh -c \"kill -TERM $(cat '" +
                             crs_test::ToUnix(state_->folder.path()) + "/devhttp.pid')\"");
  // Stopped once nothing answers on its port any more (it may still be
  // closing kept-alive connections).
  crs_test::WaitUntil([&] { return Control("/_control/crs") == 0; }, 5000);
}

fs::path ContentServer::Root() const {
  return state_->folder.path() / "content";
}

std::string ContentServer::Url() const {
  return state_->Url("/content/");
}

int ContentServer::Control(const std::string& path_and_query) const {
  HINTERNET session = InternetOpenA("test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  if (session == nullptr) return 0;
  HINTERNET connection =
      InternetConnectA(session, "127.0.0.1", static_cast<INTERNET_PORT>(state_->port), nullptr,
                       nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request =
      connection != nullptr
          ? HttpOpenRequestA(connection, "POST", path_and_query.c_str(), nullptr, nullptr, nullptr,
                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
          : nullptr;
  DWORD status = 0;
  static const char kHeaders[] = "Content-Type: text/plain\r\n";
  if (request != nullptr && HttpSendRequestA(request, kHeaders, sizeof(kHeaders) - 1, nullptr, 0)) {
    DWORD size = sizeof(status);
    HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                   nullptr);
  }
  if (request != nullptr) InternetCloseHandle(request);
  if (connection != nullptr) InternetCloseHandle(connection);
  InternetCloseHandle(session);
  return static_cast<int>(status);
}

std::string ContentServer::RedirectUrl(const std::string&) const {
  return {};
}

std::string ContentServer::CrashUrl() const {
  return state_->Url("/crs/");
}

fs::path ContentServer::CrashStore() const {
  return state_->folder.path() / "crs";
}

std::vector<Upload> ContentServer::Uploads() const {
  // An upload is a file with "<name>.headers" beside it. The service
  // answers a PUT only after writing both, and the crash-report client
  // sends its parts one after another, so the files' times give the order.
  std::vector<std::pair<fs::file_time_type, Upload>> stored;
  static const std::regex kVersion("(^|\n)version: *([^\r\n]*)", std::regex::icase);
  std::error_code ec;
  for (const fs::path& p : crs_test::FindFiles(CrashStore(), "")) {
    const fs::path headers = p.string() + ".headers";
    if (!fs::is_regular_file(headers)) continue;
    Upload upload{fs::relative(p, CrashStore()).generic_string(), "", ReadFile(headers),
                  fs::file_size(p, ec)};
    std::smatch m;
    if (std::regex_search(upload.headers, m, kVersion)) upload.version = m[2];
    stored.emplace_back(fs::last_write_time(p, ec), std::move(upload));
  }
  std::ranges::stable_sort(stored, {}, &decltype(stored)::value_type::first);
  std::vector<Upload> uploads;
  for (auto& s : stored) uploads.push_back(std::move(s.second));
  return uploads;
}

std::vector<std::string> ContentServer::ContentRequests() const {
  static const std::string kPrefix = "devhttp content GET ";
  std::vector<std::string> names;
  std::istringstream lines(ReadFile(state_->folder.path() / "devhttp.out"));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(kPrefix, 0) == 0) names.push_back(line.substr(kPrefix.size()));
  }
  return names;
}

}  // namespace testsupport

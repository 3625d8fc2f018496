// The development content file server: answers GET <prefix><name> with the
// file <folder>/<name>, as the content file server of the package downloads
// does ("ServerURL" = http://host:port<prefix>).
//
// For tests it can misbehave, chosen from the code or over HTTP while it runs:
//   POST /_control/content?mode=serve|short|status|stall|trickle
//        [&bytes=N][&status=N][&ms=N]      (with an empty body: curl -d '')
//   serve    the file (404 when missing)
//   short    only the first `bytes` bytes of the file, with that length
//   status   the status `status` with a short text body
//   stall    nothing for `ms` ms (0: until released), then the file
//   trickle  the file `bytes` bytes at a time, one piece every `ms` ms
#pragma once

#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace httplib {
class Server;
}

namespace devhttp {

class ContentService {
 public:
  enum class Mode { kServe, kShort, kStatus, kStall, kTrickle };
  struct Behaviour {
    Mode mode = Mode::kServe;
    std::size_t bytes = 1;  // short: body length; trickle: piece size
    int status = 404;       // status
    int ms = 0;             // stall: duration (0 = until released); trickle: interval
  };

  // Files are served from below folder, created when missing. prefix "/x/"
  // or "/x": both take "/x/<name>".
  ContentService(std::string prefix, std::filesystem::path folder);
  // Ends every stall and trickle first, so the server can stop.
  ~ContentService();
  ContentService(const ContentService&) = delete;
  ContentService& operator=(const ContentService&) = delete;

  // Adds the GET route and the control route.
  void Register(httplib::Server& server);

  void SetBehaviour(const Behaviour& behaviour);
  Behaviour behaviour() const;
  // Ends every stall and trickle at once (call before the server stops);
  // holds until the next SetBehaviour.
  void ReleaseStalls();

  // Runs at the start of every GET, with the decoded name, on the server's
  // thread (tests place files "from elsewhere" here).
  void SetRequestHook(std::function<void(const std::string& name)> hook);
  // The decoded names of every GET received, in order.
  std::vector<std::string> Requests() const;

  const std::filesystem::path& folder() const { return folder_; }

 private:
  // Waits up to ms (0: until released); false once released.
  bool WaitUnlessReleased(int ms);

  std::string prefix_;
  std::filesystem::path folder_;
  mutable std::mutex mutex_;
  std::condition_variable released_cv_;
  bool released_ = false;
  Behaviour behaviour_;
  std::function<void(const std::string&)> hook_;
  std::vector<std::string> requests_;
};

// "serve", "short", "status", "stall", "trickle"; false for any other text.
bool ParseContentMode(const std::string& text, ContentService::Mode* mode);

}  // namespace devhttp

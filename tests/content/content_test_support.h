// Test support of the content download: the log sandbox as the current
// directory (UCCSetting.ini, the repository, the logs), the
// development content server on a free loopback port, and a dialog stand-in
// that records what CUccDownload asks of it.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "content/uccdownload.h"
#include "content_service.h"
#include "dev_server.h"
#include "interface/igameserver.h"
#include "ltcommon.h"
#include "protocol/gameprotocommon.h"
#include "protocol/managerrecords.h"
#include "support/log_sandbox.h"
#include "support/null_game_server.h"
#include "support/scratch.h"

namespace contenttest {

namespace fs = std::filesystem;

// The shared log sandbox with the main log at level 4.
struct Sandbox : testsupport::LogSandbox {
  Sandbox() : LogSandbox("content-") { Start("LogLevel=4\n"); }
};

// Writes UCCSetting.ini in the current directory. An empty text leaves the
// key out.
void WriteUccSetting(const std::string& rez_file_path, const std::string& server_url);

// A file of `size` bytes whose content depends on `seed`.
void WriteFileOfSize(const fs::path& path, std::size_t size, char seed = 'a');
using testsupport::ReadFile;

// Entries of `folder` whose names end in ".log" (temporary files).
std::vector<fs::path> TempFiles(const fs::path& folder);

// The development content server, serving `folder` under /content/.
class ContentServer {
 public:
  explicit ContentServer(const fs::path& folder) : service_("/content/", folder) {
    service_.Register(server_.server());
    port_ = server_.Start("127.0.0.1", 0);
  }
  ~ContentServer() {
    service_.ReleaseStalls();
    server_.Stop();
  }
  devhttp::ContentService& service() { return service_; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/content/"; }

 private:
  devhttp::ContentService service_;
  devhttp::DevServer server_;
  int port_ = -1;
};

// One SERVERAPPMSG_INIT as the module received it.
struct ReceivedInit {
  uint32_t id = 0xFFFFFFFF;
  PROTO_SERVERAPPMSG_INIT init;
};

// The module's server object: decodes every SendToServerShell.
class RecordingServer final : public NullGameServer {
 public:
  int32_t SendToServerShell(ILTMessage_Read* pMessage) override;

  std::vector<ReceivedInit> received;
  int32_t answer = 0;
};

// One post to the manager.
struct Post {
  uint16_t msgID;
  int64_t lParam;
};

// The dialog's side: an injected clock, recorded posts, shell texts and
// frame intervals, and the module behind a lock held on the calling thread.
class FakeDialog {
 public:
  UccDownloadHost Host();

  // The module lock (g_csServer): WithModule takes it, and a test's update
  // thread holds it around PollUccDownload, as ServerUpdate does.
  std::recursive_mutex module_lock;
  std::mutex record_lock;  // guards the recordings below

  std::atomic<uint32_t> clock{1000};
  std::vector<Post> posts;
  std::vector<uint32_t> shell_levels;
  std::vector<uint32_t> frame_intervals;
  RecordingServer server;
  refmod::CLTCommon common;
  bool has_module = true;
  int module_calls = 0;
};

// A UCC map-load record.
stUCCGamePlay MakeRecord(uint32_t map_index, uint32_t round_type, uint32_t match_type,
                         const std::string& name);

}  // namespace contenttest

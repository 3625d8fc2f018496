// The content download's log sandbox, content server and a dialog stand-in
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

struct Sandbox : testsupport::LogSandbox {
  Sandbox() : LogSandbox("content-") { Start("LogLevel=4\n"); }
};

// UCCSetting.ini in the current directory; an empty text leaves a key out.
void WriteUccSetting(const std::string& rez_file_path, const std::string& server_url);

void WriteFileOfSize(const fs::path& path, std::size_t size, char seed = 'a');
using testsupport::ReadFile;

// The temporary files (".log") in `folder`.
std::vector<fs::path> TempFiles(const fs::path& folder);

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

struct ReceivedInit {
  uint32_t id = 0xFFFFFFFF;
  PROTO_SERVERAPPMSG_INIT init;
};

class RecordingServer final : public NullGameServer {
 public:
  int32_t SendToServerShell(ILTMessage_Read* pMessage) override;

  std::vector<ReceivedInit> received;
  int32_t answer = 0;
};

struct Post {
  uint16_t msgID;
  int64_t lParam;
};

class FakeDialog {
 public:
  UccDownloadHost Host();

  // The module lock (g_csServer), as ServerUpdate holds it.
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

stUCCGamePlay MakeRecord(uint32_t map_index, uint32_t round_type, uint32_t match_type,
                         const std::string& name);

}  // namespace contenttest

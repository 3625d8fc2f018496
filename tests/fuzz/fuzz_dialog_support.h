// What the dialog-driven fuzz targets share (docs/fuzzing.md): one windowless
// dialog, a recording module, a manager window and a watch on the host log.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "gsmsim/peer/manager_peer.h"
#include "hostlogger.h"
#include "interface/hostltcommon.h"
#include "interface/ltmessage.h"
#include "logmsgmanager.h"
#include "ltcommon.h"
#include "platform/clock.h"
#include "platform/identity.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "protocol/serverappmsg.h"
#include "queues.h"
#include "serverappdlg.h"
#include "serverglobals.h"
#include "support/null_game_server.h"

// The dialog's requests for the quiet crash filter (fuzz_crashhook.cpp).
extern std::atomic<int> g_fuzzQuietFilterRequests;

namespace fuzzdlg {

using fuzz::Fail;
using fuzz::Require;

// Keeps each delivered message (read past its 8-bit id) until Clear.
class RecordingModule final : public NullGameServer {
 public:
  struct Delivery {
    uint32_t id = 0;
    ILTMessage_Read* message = nullptr;
  };

  int32_t SendToServerShell(ILTMessage_Read* pMessage) override {
    if (pMessage == nullptr) Fail("null message delivered to the module");
    pMessage->Acquire();
    deliveries.push_back({pMessage->ReadBits(8), pMessage});
    return answer;
  }
  int32_t GetUserCount() override { return users; }

  void Clear() {
    for (Delivery& d : deliveries) d.message->Release();
    deliveries.clear();
  }

  std::vector<Delivery> deliveries;
  int32_t answer = 0;
  int32_t users = 0;
};

// The main host log's path and size; Now() cuts a log past 64 MiB back so
// that long runs do not fill the disk.
struct LogMark {
  std::string path;
  uintmax_t size = 0;

  static LogMark Now(bool cut = true) {
    char path[1024] = {};
    Require(GetHostLogPath(HostLogFile::kMain, platform::GetLocalTime(), path, sizeof(path)),
            "no host log path");
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) return {path, 0};
    if (cut && size > (64u << 20)) {
      std::filesystem::resize_file(path, 0, ec);
      return {path, 0};
    }
    return {path, size};
  }
  // Also true when the log moved to a new file meanwhile (answer unknown).
  bool Grew() const {
    const LogMark after = Now(false);
    return after.path != path || after.size > size;
  }
};

// The record size of an id by copy data or (by_address) by a post; else 0.
inline size_t RecordSize(uint64_t id, bool by_address) {
  switch (id) {
    case GAMESERVERMSG_START_HOST:
      return sizeof(PROTO_START_HOST);
    case GAMESERVERMSG_INSERTCHARACTER:
      return sizeof(PROTO_GAME_USER_INFO);
    case GAMESERVERMSG_USER_DISCONNECTED:
      return sizeof(PROTO_USER_DISCONNECTED);
    case GAMESERVERMSG_AIGACHA_GROUP_RATE_RESULT:
      return sizeof(PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT);
    case GAMESERVERMSG_AIGACHA_ITEM_INSERT_RESULT:
      return sizeof(PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT);
    case GAMESERVERMSG_RWPM_ADDRESS_TABLE:
      return by_address ? sizeof(RWPM_ADDRESS_TABLE) : 0;
    case GAMESERVERMSG_UCC_MAP_LOAD:
      return by_address ? 0 : sizeof(stUCCGamePlay);
    case GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO:
      return by_address ? 0 : sizeof(PROTO_AUTO_MATCH_STARTING_USER_INFO);
    default:
      return 0;
  }
}

struct Fixture {
  std::filesystem::path root;
  refmod::CLTCommon common;
  RecordingModule module;
  std::unique_ptr<gsmsim::ManagerPeer> manager;
  std::unique_ptr<CServerAppDlg> dlg;
  // What the input queued (large: allocated once).
  std::unique_ptr<PROTO_START_HOST> game_info = std::make_unique<PROTO_START_HOST>();
  std::unique_ptr<PROTO_GAME_USER_INFO> user_info = std::make_unique<PROTO_GAME_USER_INFO>();
  bool queued_game = false;
  bool queued_user = false;
  // Copy-data sends that reached the manager since the last take.
  struct Send {
    uint64_t dw_data;
    size_t size;
  };
  std::mutex sends_mutex;
  std::vector<Send> sends;

  std::vector<Send> TakeSends() {
    std::lock_guard<std::mutex> lock(sends_mutex);
    return std::exchange(sends, {});
  }

  // So that an input's outcome never depends on the inputs before it.
  void Reset() {
    module.Clear();
    module.answer = 0;
    module.users = 0;
    TakeSends();
    ClearQueues();
    dlg->m_Ucc.CloseRequest();
    dlg->m_listConsole.clear();
    dlg->m_lPendingNotice.store(0);
    dlg->m_lIdleRequest.store(0);
    dlg->m_bServerReady.store(0);
    dlg->m_nHeartbeatMisses = 0;
    dlg->m_dwHeartbeatValue.store(0);
    dlg->m_pServer = &module;
    dlg->m_ManagerLink.Attach(manager->handle(), 0, 3);
    g_pLTCommon = &common;
    g_dwFrameInterval.store(10000);
  }

  // At most one record of each kind may be queued.
  void PopQueued() {
    queued_game = PopGameInfo(*game_info);
    queued_user = PopUserInfo(*user_info);
    Require(!PopGameInfo(*game_info) && !PopUserInfo(*user_info), "more than one record queued");
  }

  // The one message the module got, which must carry `id`.
  ILTMessage_Read& Delivered(uint32_t id) {
    const auto& got = module.deliveries;
    Require(got.size() == 1 && got[0].id == id, "expected exactly one delivery with its id");
    return *got[0].message;
  }
};

inline Fixture& GetFixture() {
  static Fixture* fixture = [] {
    namespace fs = std::filesystem;
    auto* f = new Fixture();
    const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    f->root = base / ("serverapp-fuzz-" + std::to_string(platform::CurrentProcessId()));
    for (const char* folder : {"work/rez/NationMsz", "work/ucc", "log"}) {
      fs::create_directories(f->root / folder);
    }
    fs::copy_file(fs::path(SERVERAPP_DIST_DIR) / "rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz",
                  f->root / "work/rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz",
                  fs::copy_options::overwrite_existing);
    // Every refusal the targets look for is an error or fatal line.
    std::ofstream(f->root / "work/Setting.ini") << "[LogInfo]\r\nLogLevel=2\r\n";
    // Downloads go to a port where nothing listens: refused at once.
    std::ofstream(f->root / "work/UCCSetting.ini")
        << "[fileserverurl]\r\nServerURL=http://127.0.0.1:1/\r\n"
        << "[rezrepositoryinfo]\r\nRezFilePath=" << (f->root / "work/ucc/").string() << "\r\n";
    fs::current_path(f->root / "work");
    ::setenv("SERVERAPP_LOG_BASE", (f->root / "log").c_str(), 1);
    InitHostLogger("fuzzhost", "ServerApp", "9_3");
    Require(InitLogMsgManager(EUSAGE_NOUSE), "message table not loaded");

    gsmsim::ManagerPeer::Options options;
    options.keep_records = false;
    f->manager = gsmsim::ManagerPeer::Start(options);
    Require(f->manager != nullptr, "no manager window");
    f->manager->SetOnMessage([f](const gsmsim::ReceivedMessage& m) {
      std::lock_guard<std::mutex> lock(f->sends_mutex);
      if (m.kind == gsmsim::ReceivedMessage::Kind::kSend)
        f->sends.push_back({m.dw_data, m.data.size()});
    });
    f->dlg = std::make_unique<CServerAppDlg>(std::vector<std::string>{});
    f->dlg->m_sServerIndex = 3;
    f->Reset();
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(GetFixture().root, ec);
    });
    return f;
  }();
  return *fixture;
}

// The fixture changes into its scratch folder, so libFuzzer's path
// arguments are made absolute first; the logger's echo is silenced.
inline void Initialize(int* argc, char*** argv) {
  namespace fs = std::filesystem;
  const std::string path_flags[] = {"-artifact_prefix=", "-exact_artifact_path=", "-dict=",
                                    "-features_dir=", "-merge_control_file="};
  for (int i = 1; i < *argc; ++i) {
    std::string arg = (*argv)[i];
    const size_t value = arg.find('=') + 1;  // 0 without one
    if (!arg.empty() && arg[0] != '-') {
      arg = fs::absolute(arg).string();
    } else if (value > 0 && value < arg.size() &&
               std::ranges::count(path_flags, arg.substr(0, value)) != 0) {
      // absolute() keeps the trailing '/' by which a prefix names a folder.
      arg = arg.substr(0, value) + fs::absolute(arg.substr(value)).string();
    }
    (*argv)[i] = strdup(arg.c_str());
  }
  Require(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence stdout");
  GetFixture();
}

// The first `n` bytes at `p` over the record's defaults (one copy per type,
// overwritten by the next call).
template <typename Record>
const Record& OverDefaults(const uint8_t* p, size_t n) {
  static const auto defaults = std::make_unique<Record>();
  static const auto record = std::make_unique<Record>();
  std::memcpy(record.get(), defaults.get(), sizeof(Record));
  if (n > 0) std::memcpy(record.get(), p, std::min(n, sizeof(Record)));
  return *record;
}
template <typename Record>
void CheckOverDefaults(const Record& got, const uint8_t* p, size_t n) {
  Require(std::memcmp(&got, &OverDefaults<Record>(p, n), sizeof(Record)) == 0,
          "record is not what was given over its defaults");
}

inline uint64_t Take(ILTMessage_Read& m, uint32_t bits) {
  Require(m.BitsLeft() >= bits, "delivered message shorter than its fields");
  return bits > 32 ? m.ReadBits64(bits) : m.ReadBits(bits);
}
inline void RequireAtEnd(ILTMessage_Read& m) {
  Require(!m.IsOverrun() && m.Tell() == m.Size(), "delivered message longer than its fields");
}

// The records both dispatches take as given (`n` bytes at `p`): the two
// large ones queued, the others to the module. False for other ids.
inline bool CheckRecord(Fixture& f, uint64_t id, const uint8_t* p, size_t n) {
  const bool none_delivered = f.module.deliveries.empty();
  switch (id) {
    case GAMESERVERMSG_START_HOST:
      Require(none_delivered && f.queued_game, "game info not queued");
      CheckOverDefaults(*f.game_info, p, n);
      return true;
    case GAMESERVERMSG_INSERTCHARACTER:
      Require(none_delivered && f.queued_user, "user info not queued");
      CheckOverDefaults(*f.user_info, p, n);
      return true;
    case GAMESERVERMSG_USER_DISCONNECTED: {
      ILTMessage_Read& m = f.Delivered(SERVERAPPMSG_USER_DISCONNECTED);
      Require(Take(m, 64) == OverDefaults<PROTO_USER_DISCONNECTED>(p, n).USN,
              "user disconnected: USN");
      RequireAtEnd(m);
      return true;
    }
    // The AI gacha results: their fields, as many entries as kept, no more.
    case GAMESERVERMSG_AIGACHA_GROUP_RATE_RESULT: {
      using R = PROTO_GAMEGT_INGAME_AIGACHA_GROUP_RATE_RESULT;
      ILTMessage_Read& m = f.Delivered(SERVERAPPMSG_AIGACHA_GROUP_RATE_RESULT);
      const uint32_t count = OverDefaults<R>(p, n).Count;
      const uint32_t kept = std::min(count, R::kCapacity);
      Require(Take(m, 32) == kept, "group rate result: kept count");
      for (uint32_t i = 0; i < kept; ++i) {
        Take(m, 32);
        Take(m, 32);
        for (int k = 0; k < 4; ++k) Take(m, 64);
      }
      RequireAtEnd(m);
      return true;
    }
    case GAMESERVERMSG_AIGACHA_ITEM_INSERT_RESULT: {
      using R = PROTO_GAMEGT_INGAME_AIGACHA_ITEM_INSERT_RESULT;
      ILTMessage_Read& m = f.Delivered(SERVERAPPMSG_AIGACHA_ITEM_INSERT_RESULT);
      const R& r = OverDefaults<R>(p, n);
      const uint32_t count = r.Count;
      Require(Take(m, 64) == r.USN, "item insert result: USN");
      Require(Take(m, 16) == (count & 0xFFFF), "item insert result: declared count");
      Take(m, 32);
      for (uint32_t i = 0; i < std::min(count, R::kCapacity); ++i) {
        Take(m, 32);
        Take(m, 64);
        Take(m, 16);
      }
      Require(Take(m, 8) == 0xFF, "item insert result: end mark");
      RequireAtEnd(m);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace fuzzdlg

// The manager's posted messages with arbitrary ids and lParams; records
// passed by address are read from this process, where the manager window
// lives. Input layout and invariants: docs/fuzzing.md.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_dialog_support.h"
#include "protocol/gameprotocommon.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "protocol/relayrecords.h"
#include "protocol/serverappmsg.h"

using namespace fuzzdlg;

namespace {

constexpr size_t kBufferSize = 256 * 1024;

// The first byte of an unreadable page, after kBufferSize readable bytes.
uint8_t* GuardEnd() {
  static uint8_t* const end = [] {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t readable = (kBufferSize + page - 1) / page * page;
    auto* base = static_cast<uint8_t*>(
        mmap(nullptr, readable + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    Require(base != MAP_FAILED && mprotect(base + readable, page, PROT_NONE) == 0, "guard page");
    return base + readable;
  }();
  return end;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Fixture& f = GetFixture();
  uint8_t* const buffer = GuardEnd() - kBufferSize;
  f.Reset();

  size_t at = 0;
  auto take = [&](size_t n, uint64_t* out) {
    if (size - at < n) return false;
    *out = 0;
    std::memcpy(out, data + at, n);  // little-endian
    at += n;
    return true;
  };
  uint64_t kind = 0;
  if (!take(1, &kind)) return 0;
  uint32_t msg = WM_GAMESERVER;
  if (kind >= 0xF8) {
    if (!take(4, &kind)) return 0;
    msg = static_cast<uint32_t>(kind);
  } else if (kind >= 0xF0) {
    msg = platform::kWmTimer;
  }
  uint64_t w = 0;
  if (!take(1, &w)) return 0;
  if (w < 0xC0) {
    w %= 64;
  } else if (!take(8, &w)) {
    return 0;
  }
  uint64_t mode = 0;
  if (!take(1, &mode)) return 0;

  const size_t fetched = msg == WM_GAMESERVER ? RecordSize(w, true) : 0;
  uint64_t l = 0;
  const uint8_t* record_bytes = nullptr;  // where a readable record lies
  switch (mode & 3) {
    case 0:
      if (!take(8, &l)) return 0;
      break;
    case 1: {
      const size_t n = size - at < kBufferSize ? size - at : kBufferSize;
      if (n > 0) std::memcpy(buffer, data + at, n);
      if (fetched > n) std::memset(buffer + n, 0, fetched - n);
      l = reinterpret_cast<uintptr_t>(buffer);
      record_bytes = buffer;
      break;
    }
    case 2: {
      // The record's last 1 to 256 bytes lie in the unreadable page.
      uint64_t cut = 0;
      take(1, &cut);
      const size_t into = static_cast<size_t>(cut) + 1;
      const size_t length = fetched > 0 ? fetched : 8;
      const size_t inside = length > into ? length - into : 0;
      l = reinterpret_cast<uintptr_t>(GuardEnd() - inside);
      break;
    }
    default:
      break;
  }
  f.module.answer = (mode & 4) != 0 ? 1 : 0;
  f.dlg->m_bServerReady.store((mode & 8) != 0 ? 1 : 0);
  f.module.users = (mode & 16) != 0 ? 2 : 0;
  f.dlg->m_lIdleRequest.store((mode & 32) != 0 ? 1 : 0);
  f.dlg->m_nHeartbeatMisses = (mode & 64) != 0 ? 3 : 0;

  static const auto table_before = std::make_unique<RWPM_ADDRESS_TABLE>();
  *table_before = f.dlg->m_ManagerLink.AddressTable();
  const int quiet_before = g_fuzzQuietFilterRequests.load();
  const LogMark log_before = LogMark::Now();

  f.dlg->OnPost(msg, static_cast<platform::WParam>(w), static_cast<platform::LParam>(l));

  std::vector<RecordingModule::Delivery>& got = f.module.deliveries;
  f.PopQueued();
  const bool logged = log_before.Grew();
  const int quiet = g_fuzzQuietFilterRequests.load() - quiet_before;

  if (msg == platform::kWmTimer) {
    Require(got.empty() && !f.queued_game && !f.queued_user, "a timer reached the module");
    const auto sends = f.TakeSends();
    if (w == 0) {
      Require(sends.size() == 1 && sends[0].dw_data == GAMESERVERMSG_GAMEEND &&
                  sends[0].size == 2 + sizeof(GAMEPROTO_SS_GAMEEND),
              "timer 0: one empty game end to the manager");
      Require(logged, "timer 0 not logged");
    } else {
      Require(sends.empty(), "a timer other than 0 sent a record");
    }
    Require(quiet == ((w == 1 && (mode & 64) != 0) ? 1 : 0), "watchdog ending");
    return 0;
  }
  if (msg != WM_GAMESERVER) {
    Require(got.empty() && !f.queued_game && !f.queued_user && quiet == 0,
            "a foreign window message was acted on");
    return 0;
  }

  Require(!f.queued_game || w == GAMESERVERMSG_START_HOST, "game info queued for another id");
  Require(!f.queued_user || w == GAMESERVERMSG_INSERTCHARACTER, "user info queued for another id");
  Require(quiet == (w == GAMESERVERMSG_TERMINATE ? 1 : 0), "quiet filter for another id");

  // A fetch of an unreadable record: nothing queued or forwarded, logged.
  if (fetched > 0 && record_bytes == nullptr) {
    const bool acted = !got.empty() || f.queued_game || f.queued_user ||
                       std::memcmp(&f.dlg->m_ManagerLink.AddressTable(), table_before.get(),
                                   sizeof(RWPM_ADDRESS_TABLE)) != 0;
    // A raw lParam may point at readable memory (sanitizer shadow memory,
    // for one): only guard-page and null addresses are known to fail.
    if ((mode & 3) != 0) {
      Require(!acted, "a record that cannot be read was used");
      Require(logged, "a failed record fetch was not logged");
    }
    return 0;
  }

  switch (w) {
    case GAMESERVERMSG_HOST_HEARTBEAT:
      Require(got.empty(), "heartbeat reached the module");
      Require(f.dlg->m_nHeartbeatMisses == 0, "heartbeat left the miss counter");
      Require(f.dlg->m_lIdleRequest.load() == ((mode & 32) != 0 && (mode & 16) != 0 ? 1 : 0),
              "heartbeat idle transition");
      break;
    case GAMESERVERMSG_LOAD_MAP: {
      ILTMessage_Read& m = f.Delivered(SERVERAPPMSG_INIT);
      PROTO_SERVERAPPMSG_INIT init;
      init.Read(m);
      RequireAtEnd(m);
      Require(init.tMapIndex == static_cast<int16_t>(l & 0xFFFF) &&
                  init.roundType == static_cast<uint8_t>((l >> 16) & 0xFF) &&
                  init.MatchType == static_cast<uint8_t>((l >> 24) & 0xFF) && init.bLoad &&
                  init.cFixed == -1 && !init.bSecondFlag,
              "map load fields");
      Require(f.dlg->m_lIdleRequest.load() == 0, "map load left the idle request");
      break;
    }
    case GAMESERVERMSG_RESET_ROOM:
      Require(
          got.empty() && f.dlg->m_lPendingNotice.load() == 1 && f.dlg->m_lIdleRequest.load() == 1,
          "reset room");
      break;
    case GAMESERVERMSG_TERMINATE:
      Require(got.empty(), "terminate");
      break;
    case GAMESERVERMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY: {
      ILTMessage_Read& m = f.Delivered(SERVERAPPMSG_SPECTATOR_RECOMMEND_ROOM_SELECT_NTY);
      Require(Take(m, 8) == (l & 0xFF), "spectator room value");
      RequireAtEnd(m);
      break;
    }
    case GAMESERVERMSG_ADDITIONAL_ROOM_INFO: {
      ILTMessage_Read& m = f.Delivered(SERVERAPPMSG_ADDITIONAL_ROOM_INFO);
      Require(Take(m, 1) == (l != 0 ? 1u : 0u), "additional room info flag");
      RequireAtEnd(m);
      break;
    }
    case GAMESERVERMSG_RWPM_ADDRESS_TABLE:
      Require(got.empty(), "address table reached the module");
      CheckOverDefaults(f.dlg->m_ManagerLink.AddressTable(), record_bytes, fetched);
      break;
    default:
      if (CheckRecord(f, w, record_bytes, fetched)) break;
      Require(got.empty() && logged, "an unlisted id was acted on or not logged");
      return 0;
  }
  // Every forward that the module refused is logged.
  if (f.module.answer != 0 && !got.empty()) Require(logged, "a failed delivery was not logged");
  return 0;
}

// CManagerLink: the host's transports to and from the manager (the
// GameServerManager). It posts short messages, sends records as WM_COPYDATA,
// reads records the manager left in its own memory (ReadGSMMemory and the
// record fetch) and keeps the RWPM address table.
//
// The dialog owns one link and calls Attach once at start-up, before the
// update thread can send anything. Posts and copy-data sends are safe from
// any thread; ReadGSMMemory, the fetches and the address table belong to the
// window thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <type_traits>

#include "managerlink/fetchedrecords.h"
#include "managerlink/linksystem.h"
#include "platform/window.h"
#include "protocol/managerrecords.h"
#include "protocol/payload.h"

class CManagerLink {
 public:
  // `system` must outlive the link; tests pass a fault-injecting one.
  explicit CManagerLink(ManagerLinkSystem& system = RealManagerLinkSystem());
  CManagerLink(const CManagerLink&) = delete;
  CManagerLink& operator=(const CManagerLink&) = delete;

  // The manager's window (m_hManagerWnd), the host's own window (wParam of
  // every copy-data send) and the server index (tIndex).
  void Attach(platform::WindowHandle hManagerWnd, platform::WindowHandle hHostWnd, int16_t tIndex);

  platform::WindowHandle ManagerWindow() const { return manager_.load(std::memory_order_acquire); }
  platform::WindowHandle HostWindow() const { return host_.load(std::memory_order_acquire); }
  int16_t ServerIndex() const { return tIndex_.load(std::memory_order_acquire); }

  // Not null, and the system confirms it is a window.
  bool IsManagerWindowValid() const;

  // --- to the manager ---

  // Posts WM_USER+0x40 with wParam (tIndex << 16) | msgID and `lParam`
  // while the manager window is valid. Answers the system's success; false,
  // with nothing posted, for an invalid window. Never retried.
  bool PostToManager(uint32_t msgID, platform::LParam lParam);

  // Sends WM_COPYDATA {dwData = msgID, the payload} with wParam = the host
  // window, blocking until the manager has handled it, while the manager
  // window is valid; otherwise sends nothing and logs nothing. The manager's
  // answer is not used: true only says the message was delivered.
  bool SendCopyDataToManager(uint16_t msgID, std::span<const std::byte> payload);
  bool SendCopyDataToManager(const proto::CopyDataPayload& payload);

  // The record send: tIndex followed by the record, under the record's own
  // message id. The three records of another form have their own calls.
  template <typename Record>
  bool SendRecordToManager(const Record& record) {
    return SendCopyDataToManager(proto::MakeRecordPayload(ServerIndex(), record));
  }
  // The record alone (it carries its own tIndex).
  bool SendRecordToManager(const CLANSTATREPORTDATA& record);
  // GAMESERVERMSG_INSERTCHARACTER_ACK: tIndex and the USN.
  bool SendInsertCharacterAck(uint64_t usn);
  // GAMESERVERMSG_AUTO_MATCH_STARTING_USER_INFO_ACK: tIndex alone.
  bool SendAutoMatchStartingUserInfoAck();

  // --- from the manager ---

  // Copies `length` bytes at `address` in the manager's process into
  // `buffer`. Answers true when the whole length was read; every failure
  // writes its own line at level 2 and answers false.
  bool ReadGSMMemory(platform::LParam address, void* buffer, int32_t length);

  // The IPCMSG line a posted record address gets before it is fetched.
  void LogRecvNotice(uint32_t msgID, platform::LParam address) const;

  // The record fetch: a record with its defaults, filled from `address` by
  // ReadGSMMemory; `handle(const Record&)` runs only when the read
  // succeeded; the "[RECV]" dump is written whether or not it did (when the
  // IPCMemory switch is on); then the record is freed. Answers whether the
  // record was read and handled.
  template <typename Record, typename Handler>
  bool FetchRecord(platform::LParam address, Handler&& handle);

  // GAMESERVERMSG_RWPM_ADDRESS_TABLE: fetches the table and, only when the
  // read succeeded, replaces the link's table with it whole.
  bool ReceiveAddressTable(platform::LParam address);
  // All zero until the manager sent its own.
  const RWPM_ADDRESS_TABLE& AddressTable() const { return address_table_; }

  // --- transport modes ---

  // RWPM read mode (copy data from the manager reported as not supported)
  // and RWPM write mode (records written into the manager's memory). Both
  // stay off whatever Setting.ini says: the flags are read and logged only,
  // every record goes by WM_COPYDATA and WM_COPYDATA is always accepted.
  // See docs/manager-link.md.
  bool IsRwpmReadMode() const { return false; }
  bool IsRwpmWriteMode() const { return false; }

 private:
  void LogAllocationFailure(const char* record_name) const;

  ManagerLinkSystem* system_;
  std::atomic<platform::WindowHandle> manager_{0};
  std::atomic<platform::WindowHandle> host_{0};
  std::atomic<int16_t> tIndex_{0};
  RWPM_ADDRESS_TABLE address_table_{};
};

template <typename Record, typename Handler>
bool CManagerLink::FetchRecord(platform::LParam address, Handler&& handle) {
  static_assert(std::is_trivially_copyable_v<Record> && std::is_trivially_destructible_v<Record>);
  static_assert(sizeof(Record) <= INT32_MAX);
  using Fetch = FetchedRecord<Record>;

  void* memory = system_->AllocateRecord(sizeof(Record));
  if (memory == nullptr) {
    LogAllocationFailure(Fetch::kName);
    return false;
  }
  // The memory goes back to the system however this ends.
  struct Release {
    ManagerLinkSystem* system;
    void operator()(void* p) const { system->FreeRecord(p); }
  };
  std::unique_ptr<void, Release> owner(memory, Release{system_});
  const Record* record = new (memory) Record();

  const bool read = ReadGSMMemory(address, memory, static_cast<int32_t>(sizeof(Record)));
  if (read) handle(*record);
  Fetch::Dump(ServerIndex(), *record);
  return read;
}

#include "managerlink/managerlink.h"

#include "hostlogger.h"
#include "protocol/postedparams.h"

CManagerLink::CManagerLink(ManagerLinkSystem& system) : system_(&system) {}

void CManagerLink::Attach(platform::WindowHandle hManagerWnd, platform::WindowHandle hHostWnd,
                          int16_t tIndex) {
  tIndex_.store(tIndex, std::memory_order_release);
  host_.store(hHostWnd, std::memory_order_release);
  manager_.store(hManagerWnd, std::memory_order_release);
}

bool CManagerLink::IsManagerWindowValid() const {
  const platform::WindowHandle manager = ManagerWindow();
  return manager != 0 && system_->IsWindow(manager);
}

bool CManagerLink::PostToManager(uint32_t msgID, platform::LParam lParam) {
  if (!IsManagerWindowValid()) return false;
  return system_->PostMessage(ManagerWindow(), WM_GAMESERVERMSG,
                              proto::MakePostWParam(ServerIndex(), msgID), lParam);
}

bool CManagerLink::SendCopyDataToManager(uint16_t msgID, std::span<const std::byte> payload) {
  if (!IsManagerWindowValid()) return false;
  return system_->SendCopyData(ManagerWindow(), HostWindow(), msgID, payload);
}

bool CManagerLink::SendCopyDataToManager(const proto::CopyDataPayload& payload) {
  return SendCopyDataToManager(payload.msgID, std::as_bytes(std::span(payload.bytes)));
}

bool CManagerLink::SendRecordToManager(const CLANSTATREPORTDATA& record) {
  return SendCopyDataToManager(proto::MakeClanStatPayload(record));
}

bool CManagerLink::SendInsertCharacterAck(uint64_t usn) {
  return SendCopyDataToManager(proto::MakeInsertCharacterAckPayload(ServerIndex(), usn));
}

bool CManagerLink::SendAutoMatchStartingUserInfoAck() {
  return SendCopyDataToManager(proto::MakeAutoMatchStartingUserInfoAckPayload(ServerIndex()));
}

bool CManagerLink::ReadGSMMemory(platform::LParam address, void* buffer, int32_t length) {
  const int tIndex = ServerIndex();
  const long proto = static_cast<long>(address);

  if (!IsManagerWindowValid()) {
    HostLog(HLOG_ERROR,
            "[RWPM]ReadGSMMemory Failed!! m_hManagerWnd is INVALID tIndex[%d], proto[%ld], "
            "proto_size[%d]",
            tIndex, proto, length);
    return false;
  }
  if (address == 0) {
    HostLog(HLOG_ERROR,
            "[RWPM]ReadGSMMemory Failed!! Address is null tIndex[%d], proto[%ld], proto_size[%d]",
            tIndex, proto, length);
    return false;
  }
  if (buffer == nullptr || length <= 0) {
    HostLog(HLOG_ERROR,
            "[RWPM]ReadGSMMemory Failed!! buffer is INVALID tIndex[%d], proto[%ld], "
            "proto_size[%d]",
            tIndex, proto, length);
    return false;
  }
  const uint32_t pid = system_->GetWindowProcessId(ManagerWindow());
  if (pid == 0) {
    HostLog(HLOG_ERROR,
            "[RWPM]ReadGSMMemory Failed!! ProcessID is INVALID tIndex[%d], proto[%ld], "
            "proto_size[%d]",
            tIndex, proto, length);
    return false;
  }
  // Read access only; the handle closes when `process` goes out of scope,
  // on every path below.
  const std::unique_ptr<platform::ProcessMemory> process =
      system_->OpenProcess(pid, platform::ProcessMemoryAccess::kRead);
  if (process == nullptr) {
    HostLog(HLOG_ERROR,
            "[RWPM]ReadGSMMemory Failed!! OpenProcess Error!! tIndex[%d], proto[%ld], "
            "proto_size[%d]",
            tIndex, proto, length);
    return false;
  }
  if (!process->Read(static_cast<uint64_t>(address), buffer, static_cast<size_t>(length))) {
    HostLog(HLOG_ERROR,
            "[RWPM]ReadGSMMemory Failed!! ReadProcessMemory Error!! tIndex[%d], proto[%ld], "
            "proto_size[%d]",
            tIndex, proto, length);
    return false;
  }
  return true;
}

void CManagerLink::LogRecvNotice(uint32_t msgID, platform::LParam address) const {
  IpcMsgLog("[RECV] tIndex[%02d], msgID[%02d], address[%ld]", static_cast<int>(ServerIndex()),
            static_cast<int>(msgID), static_cast<long>(address));
}

bool CManagerLink::ReceiveAddressTable(platform::LParam address) {
  return FetchRecord<RWPM_ADDRESS_TABLE>(
      address, [this](const RWPM_ADDRESS_TABLE& table) { address_table_ = table; });
}

void CManagerLink::LogAllocationFailure(const char* record_name) const {
  HostLog(HLOG_ERROR, "[RWPM][ERROR : New Memory Error!!] %s", record_name);
}

// The reference server object: attachment, room state and the messages the
// host delivers. The network operations are in servernet.cpp, the console
// commands in serverconsole.cpp.
#include "server.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "interface/ltmessage.h"
#include "interface/serverapphandler.h"
#include "protocol/serverappmsg.h"

namespace refmod {

CReferenceServer::CReferenceServer(const ServerSwitches& switches)
    : switches_(switches), trace_(switches.trace_file) {
  preparing_left_ = switches_.preparing_updates;
  trace_.Line("CreateServer");
}

CReferenceServer::~CReferenceServer() = default;

void CReferenceServer::Say(const std::string& text) {
  // The host shows a console line without its last character (the line
  // end), so every line ends with one.
  if (handler_ != nullptr) handler_->WriteLog(0, 4, (text + "\n").c_str());
}

int32_t CReferenceServer::SetAppHandler(ServerAppHandler* pHandler) {
  trace_.Line("SetAppHandler %s", pHandler != nullptr ? "attach" : "detach");
  if (pHandler == nullptr) {
    handler_ = nullptr;
    return 0;
  }
  if (switches_.set_handler_result != 0) return switches_.set_handler_result;
  handler_ = pHandler;
  return 0;
}

bool CReferenceServer::SetRezFileList(const char* const* ppszFiles, int32_t nCount) {
  rez_files_.clear();
  for (int32_t i = 0; ppszFiles != nullptr && i < nCount; ++i) {
    if (ppszFiles[i] != nullptr) rez_files_.emplace_back(ppszFiles[i]);
  }
  trace_.Line("SetRezFileList count=%d", nCount);
  return switches_.rez_list_result;
}

bool CReferenceServer::Initialize(bool bLocalTest) {
  trace_.Line("Initialize local=%d", bLocalTest ? 1 : 0);
  initialized_ = switches_.initialize_result;
  return initialized_;
}

int32_t CReferenceServer::GetUserCount() {
  return users_.load();
}

void CReferenceServer::GetReadyText(char* pszText, uint32_t nSize) {
  if (pszText == nullptr || nSize == 0) return;
  std::snprintf(pszText, nSize, "reference room ready on port %d, %d user(s)", port_,
                users_.load());
  trace_.Line("GetReadyText size=%u", nSize);
}

bool CReferenceServer::IsPreparing(int32_t nReserved) {
  ++preparing_calls_;
  trace_.Line("IsPreparing %d call=%llu", nReserved,
              static_cast<unsigned long long>(preparing_calls_));
  if (switches_.hang_in_is_preparing > 0 &&
      preparing_calls_ == static_cast<uint64_t>(switches_.hang_in_is_preparing)) {
    // A module stuck for good: the host must stop this thread without
    // waiting for it. The loop sleeps so that it costs no processor time.
    for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (preparing_left_ > 0) {
    --preparing_left_;
    return true;
  }
  return false;
}

void CReferenceServer::SetManagerHandle(const char* pszHandle) {
  manager_handle_ = pszHandle != nullptr ? pszHandle : "";
  trace_.Line("SetManagerHandle %s", manager_handle_.c_str());
}

int32_t CReferenceServer::SendToServerShell(ILTMessage_Read* pMessage) {
  if (pMessage == nullptr) return 1;
  ++messages_;
  uint32_t id = pMessage->ReadBits(8);
  switch (id) {
    case SERVERAPPMSG_SERVER_INFO: {
      group_ = pMessage->ReadBits(32);
      server_index_ = static_cast<int32_t>(pMessage->ReadBits(32));
      trace_.Line("SendToServerShell id=%u group=%u index=%d", id, group_, server_index_);
      break;
    }
    case SERVERAPPMSG_INSERTCHARACTER: {
      users_.fetch_add(1);
      trace_.Line("SendToServerShell id=%u users=%d", id, users_.load());
      break;
    }
    case SERVERAPPMSG_USER_DISCONNECTED: {
      int32_t users = users_.load();
      while (users > 0 && !users_.compare_exchange_weak(users, users - 1)) {
      }
      trace_.Line("SendToServerShell id=%u users=%d", id, users_.load());
      break;
    }
    case SERVERAPPMSG_RESET: {
      users_.store(0);
      trace_.Line("SendToServerShell id=%u reset", id);
      break;
    }
    default:
      trace_.Line("SendToServerShell id=%u bits=%u", id, pMessage->Size());
      break;
  }
  // A message that ended before its fields did is refused.
  return pMessage->IsOverrun() ? 2 : 0;
}

}  // namespace refmod

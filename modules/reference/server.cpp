// The reference server object: attachment, readiness and the package list.
// The room's handling of the host's messages is in serverroom.cpp, the
// network operations in servernet.cpp, the console commands in
// serverconsole.cpp, serveremitcmd.cpp and servercrash.cpp.
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
  CrashIfArmedElsewhere();
  trace_.Line("IsPreparing %d call=%llu", nReserved,
              static_cast<unsigned long long>(preparing_calls_));
  if (switches_.hang_in_is_preparing > 0 &&
      preparing_calls_ == static_cast<uint64_t>(switches_.hang_in_is_preparing)) {
    // A module stuck for good: the host must stop this thread without
    // waiting for it.
    HangForGood(switches_.hang_mode, handler_);
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

}  // namespace refmod

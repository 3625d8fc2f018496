// A dialog without a window, driven by calling its handlers: a fake server
// object that keeps every message delivered to it, the reference module's
// real bit-stream messages, a manager played in-process by gsmsim's peer,
// and host logs in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "gsmsim/peer/manager_peer.h"
#include "interface/igameserver.h"
#include "interface/ltmessage.h"
#include "logmsgmanager.h"
#include "ltcommon.h"
#include "serverappdlg.h"
#include "support/log_sandbox.h"
#include "support/null_game_server.h"

namespace dispatchtest {

// Keeps the readers it is given (with a reference) and answers a chosen result.
class FakeServer final : public NullGameServer {
 public:
  ~FakeServer() {
    for (ILTMessage_Read* m : messages) m->Release();
  }
  int32_t SendToServerShell(ILTMessage_Read* pMessage) override {
    pMessage->Acquire();
    ids.push_back(pMessage->ReadBits(8));
    messages.push_back(pMessage);
    return answer;
  }
  int32_t GetUserCount() override { return users; }

  // The delivered messages, positioned after their 8-bit id.
  std::vector<ILTMessage_Read*> messages;
  std::vector<uint32_t> ids;
  int32_t users = 0;
  int32_t answer = 0;
};

class DispatchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite() { logs_.reset(); }
  void SetUp() override;
  void TearDown() override;

  // Main-log and etcinfo text written since SetUp.
  std::string Log() const { return logs_->Text("error_").substr(log_start_); }
  std::string EtcInfoLog() const { return logs_->Text("etcinfo_").substr(etc_start_); }
  // A table text (the default message table).
  static std::string Entry(uint32_t id) { return GetLogMsg(id); }

  void Post(uint32_t msgID, int64_t lParam) { dlg_->OnPost(WM_GAMESERVER, msgID, lParam); }
  void CopyData(uint64_t dwData, const void* data, size_t size);

  static std::unique_ptr<testsupport::LogSandbox> logs_;
  refmod::CLTCommon common_;
  FakeServer server_;
  std::unique_ptr<gsmsim::ManagerPeer> manager_;
  std::unique_ptr<CServerAppDlg> dlg_;
  size_t log_start_ = 0;
  size_t etc_start_ = 0;
};

}  // namespace dispatchtest

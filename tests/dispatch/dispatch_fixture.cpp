#include "dispatch_fixture.h"

#include "interface/hostltcommon.h"
#include "queues.h"

namespace dispatchtest {

namespace fs = std::filesystem;

std::unique_ptr<testsupport::LogSandbox> DispatchTest::logs_;

void DispatchTest::SetUpTestSuite() {
  logs_ = std::make_unique<testsupport::LogSandbox>("dispatchtest-");
  fs::create_directories(logs_->dir() / "rez/NationMsz");
  fs::copy_file(fs::path(SERVERAPP_DIST_DIR) / "rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz",
                logs_->dir() / "rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz");
  logs_->Start("LogLevel=5\n", "9_3", "dispatchhost");
}

void DispatchTest::SetUp() {
  ASSERT_TRUE(InitLogMsgManager(EUSAGE_NOUSE));
  manager_ = gsmsim::ManagerPeer::Start();
  ASSERT_NE(manager_, nullptr);
  dlg_ = std::make_unique<CServerAppDlg>(std::vector<std::string>{});
  dlg_->m_sServerIndex = 3;
  dlg_->m_pServer = &server_;
  dlg_->m_ManagerLink.Attach(manager_->handle(), 0, 3);
  g_pLTCommon = &common_;
  ClearQueues();
  log_start_ = logs_->Text("error_").size();
  etc_start_ = logs_->Text("etcinfo_").size();
}

void DispatchTest::TearDown() {
  dlg_.reset();  // deletes the locks; releases the message table
  g_pLTCommon = nullptr;
  manager_.reset();
}

void DispatchTest::CopyData(uint64_t dwData, const void* data, size_t size) {
  platform::CopyData copy;
  copy.dw_data = dwData;
  copy.data = std::span<const std::byte>(static_cast<const std::byte*>(data), size);
  EXPECT_EQ(dlg_->OnSend(platform::kWmCopyData, manager_->handle(), 0, copy), 0);
}

}  // namespace dispatchtest

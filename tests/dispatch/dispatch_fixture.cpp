#include "dispatch_fixture.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "hostlogger.h"
#include "interface/hostltcommon.h"
#include "logmsgmanager.h"
#include "platform/identity.h"
#include "queues.h"
#include "support/scratch.h"

namespace dispatchtest {

namespace fs = std::filesystem;
fs::path DispatchTest::root_;

FakeServer::~FakeServer() {
  for (ILTMessage_Read* m : messages) m->Release();
}

int32_t FakeServer::SendToServerShell(ILTMessage_Read* pMessage) {
  pMessage->Acquire();
  ids.push_back(pMessage->ReadBits(8));
  messages.push_back(pMessage);
  return answer;
}

namespace {

std::string ReadLogs(const fs::path& root, const std::string& prefix) {
  std::string all;
  for (const auto& entry : fs::recursive_directory_iterator(root / "log")) {
    if (entry.path().filename().string().rfind(prefix, 0) != 0) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    all += text.str();
  }
  return all;
}

}  // namespace

void DispatchTest::SetUpTestSuite() {
  root_ =
      fs::temp_directory_path() / ("dispatchtest-" + std::to_string(platform::CurrentProcessId()));
  // A folder left by an earlier run under a reused pid would mix its logs
  // into this run's.
  fs::remove_all(root_);
  fs::create_directories(root_ / "work/rez/NationMsz");
  fs::create_directories(root_ / "log");
  fs::copy_file(fs::path(SERVERAPP_DIST_DIR) / "rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz",
                root_ / "work/rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz");
  std::ofstream(root_ / "work/Setting.ini") << "[LogInfo]\r\nLogLevel=5\r\n";
  fs::current_path(root_ / "work");
  testsupport::SetEnv("SERVERAPP_LOG_BASE", (root_ / "log").string().c_str());
  InitHostLogger("dispatchhost", "ServerApp", "9_3");
}

void DispatchTest::TearDownTestSuite() {
  std::error_code ec;
  fs::current_path(fs::temp_directory_path(), ec);  // a folder in use cannot go on Windows
  fs::remove_all(root_, ec);
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
  log_start_ = ReadLogs(root_, "error_").size();
  etc_start_ = ReadLogs(root_, "etcinfo_").size();
}

void DispatchTest::TearDown() {
  dlg_.reset();  // deletes the locks; releases the message table
  g_pLTCommon = nullptr;
  manager_.reset();
}

std::string DispatchTest::Log() const {
  return ReadLogs(root_, "error_").substr(log_start_);
}

std::string DispatchTest::EtcInfoLog() const {
  return ReadLogs(root_, "etcinfo_").substr(etc_start_);
}

std::string DispatchTest::Entry(int id) {
  return GetLogMsg(static_cast<uint32_t>(id));
}

void DispatchTest::CopyData(uint64_t dwData, const void* data, size_t size) {
  platform::CopyData copy;
  copy.dw_data = dwData;
  copy.data = std::span<const std::byte>(static_cast<const std::byte*>(data), size);
  EXPECT_EQ(dlg_->OnSend(platform::kWmCopyData, manager_->handle(), 0, copy), 0);
}

}  // namespace dispatchtest

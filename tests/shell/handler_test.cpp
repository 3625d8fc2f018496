// The server-app handler in process: WriteLog's categories, verbatim texts,
// the console capture, the memory query's failure lines, and LogShellText.
#include <gtest/gtest.h>

#include "gameserverapphandler.h"
#include "hostlogger.h"
#include "serverappdlg.h"
#include "serverglobals.h"
#include "support/log_sandbox.h"

namespace {

class HandlerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    logs_ = new testsupport::LogSandbox("handlertest-");
    logs_->Start("", "9_2", "TESTPC");  // no Setting.ini: threshold 4
  }
  static void TearDownTestSuite() {
    delete logs_;
    logs_ = nullptr;
  }

  void SetUp() override {
    dlg_.m_sServerIndex = 2;
    dlg_.m_nPort = 700;
  }

  std::string Logs(const std::string& prefix) const { return logs_->Text(prefix); }

  static testsupport::LogSandbox* logs_;
  CServerAppDlg dlg_{{}};
};

testsupport::LogSandbox* HandlerTest::logs_ = nullptr;

TEST_F(HandlerTest, WriteLogRoutesEachCategoryVerbatim) {
  CGameServerAppHandler& handler = dlg_.m_AppHandler;
  EXPECT_EQ(handler.WriteLog(6, 3, "abc"), 0);
  EXPECT_EQ(handler.WriteLog(0, 2, "main 100%s %d %n"), 0);
  EXPECT_EQ(handler.WriteLog(1, 9, "to timeout"), 0);
  EXPECT_EQ(handler.WriteLog(2, 9, "to etcinfo"), 0);
  EXPECT_EQ(handler.WriteLog(3, 9, "to packet"), 0);
  EXPECT_EQ(handler.WriteLog(4, 1, "category four"), 0);
  EXPECT_EQ(handler.WriteLog(5, 1, "to kernel"), 0);
  EXPECT_EQ(handler.WriteLog(7, 1, "category seven"), 0);
  EXPECT_EQ(handler.WriteLog(-1, 1, "category minus one"), 0);
  EXPECT_EQ(handler.WriteInfo("info line"), 0);
  EXPECT_EQ(handler.WriteLog(0, 5, "below the threshold"), 0);

  const std::string main = Logs("error_");
  EXPECT_NE(main.find("[WARN_] ServerappIndex(2), Port(700) abc"), std::string::npos) << main;
  EXPECT_NE(main.find("[ERROR] main 100%s %d %n"), std::string::npos) << main;
  EXPECT_NE(main.find("[INFO_] info line"), std::string::npos) << main;
  EXPECT_EQ(main.find("below the threshold"), std::string::npos);
  EXPECT_NE(Logs("timeout_").find("to timeout"), std::string::npos);
  EXPECT_NE(Logs("etcinfo_").find("to etcinfo"), std::string::npos);
  EXPECT_NE(Logs("packet_").find("to packet"), std::string::npos);
  EXPECT_NE(Logs("kernel_").find("[FATAL] to kernel"), std::string::npos);
  const std::string everything = Logs("");
  for (const char* dropped : {"category four", "category seven", "category minus one"}) {
    EXPECT_EQ(everything.find(dropped), std::string::npos) << dropped;
  }
}

TEST_F(HandlerTest, ConsoleCaptureDropsTheLastCharacterAndWritesNoLog) {
  CGameServerAppHandler& handler = dlg_.m_AppHandler;
  g_bConsoleCommand.store(true);
  handler.WriteLog(0, 4, "console line\n");
  handler.WriteLog(4, 4, "");  // the capture ignores the category; empty stays empty
  handler.WriteLog(0, 4, std::string(300, 'x').c_str());
  g_bConsoleCommand.store(false);
  ASSERT_EQ(dlg_.m_listConsole.size(), 3u);
  EXPECT_EQ(dlg_.m_listConsole[0], "console line");
  EXPECT_EQ(dlg_.m_listConsole[1], "");
  EXPECT_EQ(dlg_.m_listConsole[2], std::string(259, 'x'));
  EXPECT_EQ(Logs("").find("console line"), std::string::npos);
}

// Fakes for each step of the memory query.
uint32_t NoPid() {
  return 0;
}
uint32_t SomePid() {
  return 4242;
}
bool Refuse(uint32_t) {
  return false;
}
bool Allow(uint32_t) {
  return true;
}
uint64_t NoBytes() {
  return 0;
}
uint64_t FourGigAndOne() {
  return (1ull << 32) + 1;
}
int32_t Error() {
  return 13;
}

TEST_F(HandlerTest, MemoryQueryReportsEachFailureAndTruncatesTo32Bits) {
  CGameServerAppHandler& handler = dlg_.m_AppHandler;
  static const ProcessMemoryQuery no_pid{NoPid, Allow, FourGigAndOne, Error};
  static const ProcessMemoryQuery no_open{SomePid, Refuse, FourGigAndOne, Error};
  static const ProcessMemoryQuery no_info{SomePid, Allow, NoBytes, Error};
  static const ProcessMemoryQuery big{SomePid, Allow, FourGigAndOne, Error};
  handler.SetProcessMemoryQuery(no_pid);
  EXPECT_EQ(handler.GetProcessMemoryUsage(), 0u);
  handler.SetProcessMemoryQuery(no_open);
  EXPECT_EQ(handler.GetProcessMemoryUsage(), 0u);
  handler.SetProcessMemoryQuery(no_info);
  EXPECT_EQ(handler.GetProcessMemoryUsage(), 0u);
  handler.SetProcessMemoryQuery(big);
  EXPECT_EQ(handler.GetProcessMemoryUsage(), 1u);
  const std::string main = Logs("error_");
  for (const char* step :
       {"Get pid error.", "Open process error.", "GetProcessMemoryInfo error."}) {
    EXPECT_NE(main.find(std::string("[ERROR] GetProcessMemoryUsage() ") + step +
                        " (server index: 2, error number: 13)"),
              std::string::npos)
        << step;
  }
  // The real system answers this process's private bytes.
  handler.SetProcessMemoryQuery(RealProcessMemoryQuery());
  EXPECT_GT(handler.GetProcessMemoryUsage(), 0u);
}

TEST_F(HandlerTest, WithoutBackPointerEveryOperationAnswersZero) {
  CGameServerAppHandler detached;
  g_bConsoleCommand.store(true);
  EXPECT_EQ(detached.WriteLog(0, 1, "detached line"), 0);
  g_bConsoleCommand.store(false);
  EXPECT_EQ(detached.WriteLog(0, 1, "detached line"), 0);
  EXPECT_EQ(detached.GetProcessMemoryUsage(), 0u);
  detached.SetGameEnded(true);
  EXPECT_FALSE(detached.IsGameEnded());
  EXPECT_EQ(Logs("").find("detached line"), std::string::npos);

  dlg_.m_AppHandler.SetGameEnded(true);
  EXPECT_TRUE(dlg_.m_AppHandler.IsGameEnded());
}

TEST_F(HandlerTest, LogShellTextLetsThePrefixChooseTheLevel) {
  dlg_.LogShellText("!hack: speed 2", 2);
  dlg_.LogShellText("!err: broken %s", 4);
  dlg_.LogShellText("plain 50%", 3);
  dlg_.LogShellText("!hac not a prefix", 2);
  const std::string main = Logs("error_");
  EXPECT_NE(main.find("[INFO_] !hack: speed 2"), std::string::npos) << main;
  EXPECT_NE(main.find("[FATAL] !err: broken %s"), std::string::npos) << main;
  EXPECT_NE(main.find("[WARN_] plain 50%"), std::string::npos) << main;
  EXPECT_NE(main.find("[ERROR] !hac not a prefix"), std::string::npos) << main;
}

}  // namespace

// The server-app handler in process, with the real logger.
#include <gtest/gtest.h>

#include <memory>

#include "gameserverapphandler.h"
#include "hostlogger.h"
#include "serverappdlg.h"
#include "serverglobals.h"
#include "support/log_sandbox.h"

namespace {

class HandlerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    logs_ = std::make_unique<testsupport::LogSandbox>("handlertest-");
    logs_->Start("", "9_2", "TESTPC");  // no Setting.ini: threshold 4
  }
  static void TearDownTestSuite() { logs_.reset(); }

  void SetUp() override {
    dlg_.m_sServerIndex = 2;
    dlg_.m_nPort = 700;
  }

  std::string Logs(const std::string& prefix) const { return logs_->Text(prefix); }

  static std::unique_ptr<testsupport::LogSandbox> logs_;
  CServerAppDlg dlg_{{}};
};

std::unique_ptr<testsupport::LogSandbox> HandlerTest::logs_;

// Rows: category, level, text, and the file holding the line (none: no file has the text).
TEST_F(HandlerTest, WriteLogRoutesEachCategoryVerbatim) {
  struct Row {
    int32_t category, level;
    const char* text;
    const char* file;
    std::string line;
  };
  const std::vector<Row> rows = {
      {6, 3, "abc", "error_", "[WARN_] ServerappIndex(2), Port(700) abc"},
      {0, 2, "main 100%s %d %n", "error_", "[ERROR] main 100%s %d %n"},
      {1, 9, "to timeout", "timeout_", "to timeout"},
      {2, 9, "to etcinfo", "etcinfo_", "to etcinfo"},
      {3, 9, "to packet", "packet_", "to packet"},
      {5, 1, "to kernel", "kernel_", "[FATAL] to kernel"},
      {4, 1, "category four", "", ""},
      {7, 1, "category seven", "", ""},
      {-1, 1, "category minus one", "", ""},
      {0, 5, "below the threshold", "", ""},
  };
  CGameServerAppHandler& handler = dlg_.m_AppHandler;
  for (const Row& row : rows) EXPECT_EQ(handler.WriteLog(row.category, row.level, row.text), 0);
  EXPECT_EQ(handler.WriteInfo("info line"), 0);
  EXPECT_NE(Logs("error_").find("[INFO_] info line"), std::string::npos);
  const std::string everything = Logs("");
  for (const Row& row : rows) {
    if (row.line.empty()) {
      EXPECT_EQ(everything.find(row.text), std::string::npos) << row.text;
    } else {
      EXPECT_NE(Logs(row.file).find(row.line), std::string::npos) << row.text;
    }
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

// The three steps' failure lines: DispatchTest.SystemErrorNumbersComeFromTheFailedCall.
TEST_F(HandlerTest, MemoryQueryTruncatesTo32Bits) {
  CGameServerAppHandler& handler = dlg_.m_AppHandler;
  const ProcessMemoryQuery& real = RealProcessMemoryQuery();
  const ProcessMemoryQuery big = {real.ProcessId, real.CanOpenProcess,
                                  [] { return (uint64_t{1} << 32) + 1; }, real.LastError};
  handler.SetProcessMemoryQuery(big);  // kept by address
  EXPECT_EQ(handler.GetProcessMemoryUsage(), 1u);
  handler.SetProcessMemoryQuery(real);
  EXPECT_GT(handler.GetProcessMemoryUsage(), 0u);
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

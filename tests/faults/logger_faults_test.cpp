// The host logger and the message table when the files and shared memory
// under them fail.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "hostlogger.h"
#include "hostlogger_testing.h"
#include "logmsgmanager.h"
#include "logmsgmanager_testing.h"
#include "logtestutil.h"
#include "platform/fault_injection.h"
#include "platform/identity.h"
#include "platform/shm.h"

namespace {

namespace fs = std::filesystem;
namespace fault = platform::fault;
using platform::fault::Point;

// Captures what the process writes to its standard output for one scope.
class StdoutCapture {
 public:
  explicit StdoutCapture(const fs::path& file) : file_(file) {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    FILE* f = std::fopen(file.c_str(), "w");
    ::dup2(::fileno(f), STDOUT_FILENO);
    std::fclose(f);
  }
  ~StdoutCapture() { Stop(); }
  std::string Stop() {
    if (saved_ >= 0) {
      std::fflush(stdout);
      ::dup2(saved_, STDOUT_FILENO);
      ::close(saved_);
      saved_ = -1;
    }
    return logtest::ReadFile(file_);
  }

 private:
  fs::path file_;
  int saved_ = -1;
};

class LoggerFaultTest : public ::testing::Test {
 protected:
  LoggerFaultTest()
      : base_env_("SERVERAPP_LOG_BASE", (dir_.path() / "logs").c_str()), cwd_(dir_.path()) {}

  void SetUp() override {
    fault::Reset();
    ResetHostLoggerForTesting();
    logtest::SetFixedTime(logtest::MakeTime(2026, 12, 5, 14, 3, 7, 15));
    logtest::WriteFile(dir_.path() / "Setting.ini", "[LogInfo]\nLogLevel=4\n");
    InitHostLogger("ROOMPC01", "ServerApp", "7_3", nullptr);
  }
  void TearDown() override {
    fault::Reset();
    platform::SetLocalTimeSource(nullptr);
    ResetHostLoggerForTesting();
  }

  std::string MainLog() const {
    const fs::path file = dir_.path() / "logs/quellmark/ServerApp/20261205/7_3" /
                          "error_ServerApp_ROOMPC01_20261205_04.log";
    return fs::exists(file) ? logtest::ReadFile(file) : std::string("<none>");
  }

  logtest::TempDir dir_;
  logtest::ScopedEnv base_env_;
  logtest::ScopedCwd cwd_;
};

TEST_F(LoggerFaultTest, LogFolderThatCannotBeMadeDropsTheFileLineButNotTheOutput) {
  StdoutCapture out(dir_.path() / "stdout.txt");
  fault::Arm(Point::kMkdir, 1, EACCES, true);
  HostLog(HLOG_INFO, "first %d", 1);
  EXPECT_EQ(MainLog(), "<none>");
  fault::Reset();
  HostLog(HLOG_INFO, "second %d", 2);
  const std::string printed = out.Stop();
  EXPECT_EQ(MainLog(), "14:03:07.015 [INFO_] second 2 \r\r\n");
  // The line the file could not take still reached the standard output.
  EXPECT_EQ(printed, "14:03:07.015 [INFO_] first 1 \r\n14:03:07.015 [INFO_] second 2 \r\n");
}

TEST_F(LoggerFaultTest, FileOpenAndWriteFailuresLoseOnlyTheirLine) {
  HostLog(HLOG_INFO, "a");
  StdoutCapture out(dir_.path() / "stdout.txt");
  // One failed open is retried after making the folders: the line is kept.
  fault::Arm(Point::kFileOpen, 1, EMFILE);
  HostLog(HLOG_INFO, "b");
  EXPECT_EQ(fault::Calls(Point::kFileOpen), 2u);
  // Two in a row drop the line from the file.
  fault::Arm(Point::kFileOpen, 3, EMFILE, true);
  HostLog(HLOG_INFO, "c");
  fault::Disarm(Point::kFileOpen);
  fault::Arm(Point::kFileWrite, fault::Calls(Point::kFileWrite) + 1, ENOSPC);
  HostLog(HLOG_INFO, "d");
  HostLog(HLOG_INFO, "e");
  EXPECT_EQ(MainLog(),
            "14:03:07.015 [INFO_] a \r\r\n14:03:07.015 [INFO_] b \r\r\n"
            "14:03:07.015 [INFO_] e \r\r\n");
  const std::string printed = out.Stop();
  EXPECT_EQ(printed,
            "14:03:07.015 [INFO_] b \r\n14:03:07.015 [INFO_] c \r\n"
            "14:03:07.015 [INFO_] d \r\n14:03:07.015 [INFO_] e \r\n");
}

class MessageTableFaultTest : public ::testing::Test {
 protected:
  MessageTableFaultTest() : cwd_(dir_.path()) {}

  void SetUp() override {
    fault::Reset();
    ResetLogMsgManagerForTesting();
    SetLogMsgWaitsForTesting(300, 500, 10);
    platform::SetAssertionSink([this](std::string_view text) { asserts_.emplace_back(text); });
    logtest::WriteFile(dir_.path() / kLogMszPath,
                       logtest::MszOf({{0, "zero"}, {1, "one %d"}, {3, "three"}}));
  }
  void TearDown() override {
    fault::Reset();
    ResetLogMsgManagerForTesting();
    ResetHostLoggerForTesting();
    SetLogMsgWaitsForTesting(1000, 10000, 100);
    platform::SetAssertionSink({});
  }

  // True when a published object of that name is still there.
  static bool Published(const char* name) {
    platform::SharedMemory* memory = platform::OpenSharedMemory(name, false);
    platform::CloseSharedMemory(memory);
    return memory != nullptr;
  }

  logtest::ShmSession session_;
  logtest::TempDir dir_;
  logtest::ScopedCwd cwd_;
  std::vector<std::string> asserts_;
};

TEST_F(MessageTableFaultTest, PublishingFailuresReleaseWhatTheyMadeAndAnswerTheirCode) {
  struct Case {
    Point point;
    std::uint64_t nth;
    std::uint32_t code;
  };
  // The count object, a message object midway, the count view, a message view.
  for (const Case& c : {Case{Point::kShmCreate, 1, 2}, Case{Point::kShmCreate, 3, 2},
                        Case{Point::kShmMap, 1, 3}, Case{Point::kShmMap, 3, 3}}) {
    SCOPED_TRACE(std::string(fault::PointName(c.point)) + " " + std::to_string(c.nth));
    fault::Reset();
    ResetLogMsgManagerForTesting();
    asserts_.clear();
    fault::Arm(c.point, c.nth, ENOMEM);
    EXPECT_FALSE(InitLogMsgManager(EUSAGE_WRITE));
    EXPECT_EQ(GetLogMsgError(), c.code);
    EXPECT_FALSE(asserts_.empty());
    fault::Reset();
    // Nothing half-published is left for the other instances to wait on.
    EXPECT_FALSE(Published(kLogDataSizeName));
    EXPECT_FALSE(Published("App_LogData-0"));
    ReleaseLogMsgManager();
    // Once the fault has cleared, publishing works again.
    ASSERT_TRUE(InitLogMsgManager(EUSAGE_WRITE));
    EXPECT_EQ(GetLogMsg(3), "three");
    ReleaseLogMsgManager();
  }
}

TEST_F(MessageTableFaultTest, UnreadableTableFileIsErrorOneWithItsLogLine) {
  logtest::ScopedEnv base("SERVERAPP_LOG_BASE", (dir_.path() / "logs").c_str());
  logtest::SetFixedTime(logtest::MakeTime(2026, 12, 5, 14, 3, 7, 15));
  logtest::WriteFile(dir_.path() / "Setting.ini", "[LogInfo]\nLogLevel=4\n");
  InitHostLogger("ROOMPC01", "ServerApp", "7_3", nullptr);
  fault::Arm(Point::kFileOpen, 1, EACCES);
  EXPECT_FALSE(InitLogMsgManager(EUSAGE_WRITE));
  EXPECT_EQ(GetLogMsgError(), 1u);
  platform::SetLocalTimeSource(nullptr);
  const std::string log = logtest::ReadFile(dir_.path() / "logs/quellmark/ServerApp/20261205/7_3" /
                                            "error_ServerApp_ROOMPC01_20261205_04.log");
  EXPECT_EQ(log,
            "14:03:07.015 [ERROR] Log Msz File ./rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz : "
            "cannot be opened (missing, no right, or opened by another instance) \r\r\n");
  EXPECT_FALSE(Published(kLogDataSizeName));
}

// A reader that cannot open a table another instance has published must not
// swing between reading and publishing for ever: it gives up with code 5.
TEST_F(MessageTableFaultTest, ReaderThatCannotOpenAPublishedTableGivesUp) {
  ASSERT_TRUE(InitLogMsgManager(EUSAGE_WRITE));
  std::unique_ptr<logtest::Peer> reader;
  {
    logtest::ScopedEnv faults("SERVERAPP_FAULTS", "shm_open:1+:13");
    reader = std::make_unique<logtest::Peer>(
        std::vector<std::string>{LOGMSG_PEER, "read", "exit", "300", "500", "10", "3"},
        dir_.path());
  }
  EXPECT_EQ(reader->ReadLine(10000), "init=0 mode=2 error=5");
  EXPECT_EQ(reader->CloseAndWait(), 0);

  // A reader without the fault reads the table as ever.
  logtest::Peer good({LOGMSG_PEER, "read", "exit", "300", "500", "10", "3"}, dir_.path());
  EXPECT_EQ(good.ReadLine(), "init=1 mode=2 error=0");
  EXPECT_EQ(good.ReadLine(), "text 3=three");
  ReleaseLogMsgManager();
}

// A reader whose view of the count or whose message open fails: code 4.
TEST_F(MessageTableFaultTest, ReaderOpenAndMapFailuresAreCodeFour) {
  logtest::Peer writer({LOGMSG_PEER, "write", "hold", "300", "500", "10"}, dir_.path());
  ASSERT_EQ(writer.ReadLine(), "init=1 mode=1 error=0");
  ASSERT_EQ(writer.ReadLine(), "ready");
  for (auto [point, nth] : {std::pair{Point::kShmMap, 1}, std::pair{Point::kShmOpen, 3}}) {
    SCOPED_TRACE(fault::PointName(point));
    fault::Reset();
    ResetLogMsgManagerForTesting();
    fault::Arm(point, static_cast<std::uint64_t>(nth), EACCES);
    EXPECT_FALSE(InitLogMsgManager(EUSAGE_READ));
    EXPECT_EQ(GetLogMsgError(), 4u);
    fault::Reset();
    ReleaseLogMsgManager();
    ASSERT_TRUE(InitLogMsgManager(EUSAGE_READ));
    EXPECT_EQ(GetLogMsg(1), "one %d");
    ReleaseLogMsgManager();
  }
  EXPECT_EQ(writer.CloseAndWait(), 0);
}

}  // namespace

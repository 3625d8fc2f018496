// The host logger and the message table when the files and shared memory
// under them fail.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "fault_test.h"
#include "hostlogger.h"
#include "logmsgmanager_testing.h"
#include "logtestutil.h"
#include "platform/shm.h"

namespace {

namespace fs = std::filesystem;

class LoggerFaultTest : public FaultTest<logtest::HostLoggerTest> {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    logs_.Start("LogLevel=4\n");
  }
};

// A folder, an open or a write that fails loses its line from the file
// only: standard output has every line, and the next line is written.
TEST_F(LoggerFaultTest, FailuresLoseTheFileLineButNotTheOutput) {
  testing::internal::CaptureStdout();
  // The log folder of a new day cannot be made.
  fault::Arm(Point::kMkdir, 1, EACCES, true);
  HostLog(HLOG_INFO, "a");
  EXPECT_FALSE(fs::exists(File("error")));
  fault::Reset();
  HostLog(HLOG_INFO, "b");
  // One failed open is retried after making the folders: the line is kept.
  fault::Arm(Point::kFileOpen, 1, EMFILE);
  HostLog(HLOG_INFO, "c");
  EXPECT_EQ(fault::Calls(Point::kFileOpen), 2u);
  // Two in a row drop the line from the file.
  fault::Arm(Point::kFileOpen, 3, EMFILE, true);
  HostLog(HLOG_INFO, "d");
  fault::Disarm(Point::kFileOpen);
  fault::Arm(Point::kFileWrite, fault::Calls(Point::kFileWrite) + 1, ENOSPC);
  HostLog(HLOG_INFO, "e");
  HostLog(HLOG_INFO, "f");
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(logs_.Text(),
            "14:03:07.015 [INFO_] b \r\r\n14:03:07.015 [INFO_] c \r\r\n"
            "14:03:07.015 [INFO_] f \r\r\n");
  EXPECT_EQ(printed,
            "14:03:07.015 [INFO_] a \r\n14:03:07.015 [INFO_] b \r\n14:03:07.015 [INFO_] c \r\n"
            "14:03:07.015 [INFO_] d \r\n14:03:07.015 [INFO_] e \r\n14:03:07.015 [INFO_] f \r\n");
}

class MessageTableFaultTest : public FaultTest<logtest::MessageTableTest> {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    WriteTable({{0, "zero"}, {1, "one %d"}, {3, "three"}});
  }

  // True when a published object of that name is still there.
  static bool Published(const char* name) {
    platform::SharedMemory* memory = platform::OpenSharedMemory(name, false);
    platform::CloseSharedMemory(memory);
    return memory != nullptr;
  }
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
  StartLogger();
  fault::Arm(Point::kFileOpen, 1, EACCES);
  EXPECT_FALSE(InitLogMsgManager(EUSAGE_WRITE));
  EXPECT_EQ(GetLogMsgError(), 1u);
  EXPECT_EQ(logs_.Text(),
            "14:03:07.015 [ERROR] Log Msz File ./rez/NationMsz/MSG_DEFINE_ServerApp_Log.msz : "
            "cannot be opened (missing, no right, or opened by another instance) \r\r\n");
  EXPECT_FALSE(Published(kLogDataSizeName));
}

// A reader that cannot open a table another instance has published must not
// swing between reading and publishing for ever: it gives up with code 5.
TEST_F(MessageTableFaultTest, ReaderThatCannotOpenAPublishedTableGivesUp) {
  ASSERT_TRUE(InitLogMsgManager(EUSAGE_WRITE));
  auto reader = StartPeer("read", "exit", {"3"}, {{"SERVERAPP_FAULTS", "shm_open:1+:13"}});
  EXPECT_EQ(reader->ReadLine(10000), "init=0 mode=2 error=5");
  EXPECT_EQ(reader->CloseAndWait(), 0);

  // A reader without the fault reads the table as ever.
  auto good = StartPeer("read", "exit", {"3"});
  EXPECT_EQ(good->ReadLine(), "init=1 mode=2 error=0");
  EXPECT_EQ(good->ReadLine(), "text 3=three");
  ReleaseLogMsgManager();
}

// A reader whose view of the count or whose message open fails: code 4.
TEST_F(MessageTableFaultTest, ReaderOpenAndMapFailuresAreCodeFour) {
  auto writer = StartPeer("write", "hold");
  ASSERT_EQ(writer->ReadLine(), "init=1 mode=1 error=0");
  ASSERT_EQ(writer->ReadLine(), "ready");
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
  EXPECT_EQ(writer->CloseAndWait(), 0);
}

}  // namespace

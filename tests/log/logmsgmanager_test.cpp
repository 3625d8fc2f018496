#include "logmsgmanager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "hostlogger_testing.h"
#include "logmsgmanager_testing.h"
#include "logtestutil.h"
#include "platform/files.h"
#include "platform/identity.h"

namespace fs = std::filesystem;

namespace {

// Waits of the peers: the table within 300 ms, its count within 500 ms.
const std::vector<std::string> kPeerWaits = {"300", "500", "10"};

class LogMsgManagerTest : public ::testing::Test {
 protected:
  LogMsgManagerTest() : cwd_(dir_.path()) {}

  void SetUp() override {
    ResetLogMsgManagerForTesting();
    SetLogMsgWaitsForTesting(300, 500, 10);
    platform::SetAssertionSink([this](std::string_view text) { asserts_.emplace_back(text); });
  }
  void TearDown() override {
    ResetLogMsgManagerForTesting();
    ResetHostLoggerForTesting();
    SetLogMsgWaitsForTesting(1000, 10000, 100);
    platform::SetAssertionSink({});
    platform::SetDebuggerOutputSink({});
  }

  void WriteTable(const std::vector<std::pair<std::int64_t, std::string>>& texts) {
    logtest::WriteFile(dir_.path() / kLogMszPath, logtest::MszOf(texts));
  }

  // A peer instance in this test's folder: "<mode> <hold|exit> <waits> <ids>".
  std::unique_ptr<logtest::Peer> StartPeer(const std::string& mode, const std::string& when,
                                           std::vector<std::string> ids = {}) {
    std::vector<std::string> argv = {LOGMSG_PEER, mode, when};
    argv.insert(argv.end(), kPeerWaits.begin(), kPeerWaits.end());
    argv.insert(argv.end(), ids.begin(), ids.end());
    return std::make_unique<logtest::Peer>(argv, dir_.path());
  }

  logtest::ShmSession session_;
  logtest::TempDir dir_;
  logtest::ScopedCwd cwd_;
  std::vector<std::string> asserts_;
};

}  // namespace

TEST_F(LogMsgManagerTest, LookupBeforeInitIsEmptyAndSaysNotReady) {
  std::vector<std::string> debug;
  platform::SetDebuggerOutputSink([&](std::string_view text) { debug.emplace_back(text); });
  EXPECT_EQ(LogMsgManager::GetUsage(), EUSAGE_NOTREADY);
  EXPECT_EQ(GetLogMsg(13), "");
  ASSERT_EQ(debug.size(), 1u);
  EXPECT_EQ(debug[0], "# HLOG_MSG WARN : Not Ready. : 13\n");
  EXPECT_EQ(GetLogMsgError(), 0u);
}

TEST_F(LogMsgManagerTest, PrivateCopyAndItsFailures) {
  // Missing file: code 1, the requested mode is kept.
  EXPECT_FALSE(InitLogMsgManager(EUSAGE_NOUSE));
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_FILE);
  EXPECT_EQ(LogMsgManager::GetUsage(), EUSAGE_NOUSE);
  EXPECT_EQ(GetLogMsg(1), "");

  WriteTable({{1, "one"}, {2, "a\\nb"}});
  ASSERT_TRUE(InitLogMsgManager(EUSAGE_NOUSE));
  EXPECT_EQ(GetLogMsg(1), "one");
  EXPECT_EQ(GetLogMsg(2), "a\r\nb");
  EXPECT_EQ(GetLogMsg(3), "");
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_FILE);  // kept until release
  ReleaseLogMsgManager();
  EXPECT_EQ(GetLogMsgError(), 0u);
  EXPECT_EQ(LogMsgManager::GetUsage(), EUSAGE_NOUSE);

  // A malformed file is a failed load, code 1.
  logtest::WriteFile(dir_.path() / kLogMszPath, std::string("\x01\x00\x00\x00\xFF", 5));
  EXPECT_FALSE(InitLogMsgManager(EUSAGE_NOUSE));
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_FILE);

  // An invalid mode: assertion and code 7.
  EXPECT_FALSE(InitLogMsgManager(static_cast<ESharedMemUsage>(5)));
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_BAD_USAGE);
  EXPECT_FALSE(asserts_.empty());
}

TEST_F(LogMsgManagerTest, PublisherServesItsOwnLookupsByPosition) {
  // Ids with gaps: every id up to the largest is published, gaps empty.
  WriteTable({{0, "zero"}, {2, "two"}, {40, std::string(600, 'x')}, {-3, "negative"}});
  ASSERT_TRUE(InitLogMsgManager(EUSAGE_WRITE));
  EXPECT_EQ(LogMsgManager::GetUsage(), EUSAGE_WRITE);
  EXPECT_EQ(GetLogMsg(0), "zero");
  EXPECT_EQ(GetLogMsg(1), "");
  EXPECT_EQ(GetLogMsg(2), "two");
  EXPECT_EQ(GetLogMsg(40), std::string(511, 'x'));
  EXPECT_EQ(GetLogMsgError(), 0u);
  EXPECT_EQ(GetLogMsg(41), "");
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_RANGE);
  ReleaseLogMsgManager();
  EXPECT_EQ(GetLogMsg(0), "");  // nothing held any more
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_RANGE);
}

TEST_F(LogMsgManagerTest, ReaderFindsATablePublishedByAnotherProcess) {
  WriteTable({{1, "published one"}, {2, "two"}});
  ASSERT_TRUE(InitLogMsgManager(EUSAGE_WRITE));
  auto reader = StartPeer("read", "exit", {"1", "2", "3"});
  EXPECT_EQ(reader->ReadLine(), "init=1 mode=2 error=0");
  EXPECT_EQ(reader->ReadLine(), "text 1=published one");
  EXPECT_EQ(reader->ReadLine(), "text 2=two");
  EXPECT_EQ(reader->ReadLine(), "text 3=");  // beyond the published ids
  EXPECT_EQ(reader->ReadLine(), "ready");
  EXPECT_EQ(reader->CloseAndWait(), 0);
  // A second writer defers to the published table.
  auto writer = StartPeer("write", "exit", {"1"});
  EXPECT_EQ(writer->ReadLine(), "init=1 mode=2 error=0");
  EXPECT_EQ(writer->ReadLine(), "text 1=published one");
}

TEST_F(LogMsgManagerTest, ReaderFirstWaitsThenPublishesAndTheTableOutlivesIt) {
  WriteTable({{1, "from the file"}});
  auto first = StartPeer("read", "hold", {"1"});
  // Nobody published: it waited, recorded code 5, and published itself.
  EXPECT_EQ(first->ReadLine(), "init=1 mode=1 error=5");
  EXPECT_EQ(first->ReadLine(), "text 1=from the file");
  EXPECT_EQ(first->ReadLine(), "ready");

  ASSERT_TRUE(InitLogMsgManager(EUSAGE_READ));
  EXPECT_EQ(GetLogMsgError(), 0u);
  EXPECT_EQ(LogMsgManager::GetUsage(), EUSAGE_READ);

  // The publisher exits; this reader still holds the table.
  EXPECT_EQ(first->CloseAndWait(), 0);
  EXPECT_EQ(GetLogMsg(1), "from the file");
  auto later = StartPeer("read", "exit", {"1"});
  EXPECT_EQ(later->ReadLine(), "init=1 mode=2 error=0");
  EXPECT_EQ(later->ReadLine(), "text 1=from the file");
  EXPECT_EQ(later->CloseAndWait(), 0);

  // The last holder lets go: the table is gone, the next instance publishes.
  ReleaseLogMsgManager();
  WriteTable({{1, "republished"}});
  auto next = StartPeer("read", "exit", {"1"});
  EXPECT_EQ(next->ReadLine(), "init=1 mode=1 error=5");
  EXPECT_EQ(next->ReadLine(), "text 1=republished");
}

TEST_F(LogMsgManagerTest, TableOfInstancesThatAllDiedIsStale) {
  WriteTable({{1, "old"}});
  auto publisher = StartPeer("write", "hold");
  EXPECT_EQ(publisher->ReadLine(), "init=1 mode=1 error=0");
  auto reader = StartPeer("read", "hold");
  EXPECT_EQ(reader->ReadLine(), "init=1 mode=2 error=0");
  // Killed: no release ran, the objects are still named in the system.
  publisher->Kill();
  reader->Kill();

  WriteTable({{1, "new"}});
  ASSERT_TRUE(InitLogMsgManager(EUSAGE_WRITE));
  EXPECT_EQ(LogMsgManager::GetUsage(), EUSAGE_WRITE);  // did not defer to the dead table
  EXPECT_EQ(GetLogMsg(1), "new");
  auto fresh = StartPeer("read", "exit", {"1"});
  EXPECT_EQ(fresh->ReadLine(), "init=1 mode=2 error=0");
  EXPECT_EQ(fresh->ReadLine(), "text 1=new");
}

TEST_F(LogMsgManagerTest, EmptyTableMakesReadersWaitAndFail) {
  WriteTable({});
  auto publisher = StartPeer("write", "hold");
  EXPECT_EQ(publisher->ReadLine(), "init=1 mode=1 error=0");
  EXPECT_FALSE(InitLogMsgManager(EUSAGE_READ));
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_WAIT);
  EXPECT_EQ(LogMsgManager::GetUsage(), EUSAGE_READ);
  // Start-up then falls back to a private copy, which works (and is empty).
  EXPECT_TRUE(InitLogMsgManager(EUSAGE_NOUSE));
  EXPECT_EQ(GetLogMsg(1), "");
}

TEST_F(LogMsgManagerTest, PublisherThatLosesTheFileWaitsForTheOthersTable) {
  logtest::ScopedEnv base("SERVERAPP_LOG_BASE", (dir_.path() / "logs").string().c_str());
  logtest::SetFixedTime(logtest::MakeTime(2026, 12, 5, 14, 3, 7, 15));
  InitHostLogger("ROOMPC01", "ServerApp", "7_3", nullptr);
  const fs::path log = dir_.path() / "logs" / "quellmark" / "ServerApp" / "20261205" / "7_3" /
                       "error_ServerApp_ROOMPC01_20261205_04.log";
  WriteTable({{1, "one"}});
  // Another publisher has the file open (it is loading it) and never
  // publishes: this one waits as a reader, twice, and fails with code 5.
  auto holder = std::make_unique<platform::ScopedFile>(platform::OpenForReadExclusive(kLogMszPath));
  ASSERT_TRUE(holder->valid());
  EXPECT_FALSE(InitLogMsgManager(EUSAGE_WRITE));
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_WAIT);
  EXPECT_EQ(LogMsgManager::GetUsage(), EUSAGE_READ);
  ReleaseLogMsgManager();
  // Its log line tells when it has lost the open (this part wrote two).
  const auto losses = [&] {
    const std::string text = logtest::ReadFile(log);
    int n = 0;
    for (size_t at = 0; (at = text.find("by another instance, reading", at)) != std::string::npos;
         ++at) {
      ++n;
    }
    return n;
  };
  ASSERT_EQ(2, losses()) << logtest::ReadFile(log);

  // This time the other publisher (a second process) publishes once this
  // one has lost the open; this one then reads its table.
  SetLogMsgWaitsForTesting(10000, 10000, 10);
  std::future<bool> second =
      std::async(std::launch::async, [] { return InitLogMsgManager(EUSAGE_WRITE); });
  bool lost = false;
  for (int i = 0; i < 1000 && !lost; ++i) {
    lost = losses() == 3;
    if (!lost) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  holder.reset();
  std::unique_ptr<logtest::Peer> publisher;
  if (lost) {
    publisher = StartPeer("write", "hold");
    EXPECT_EQ(publisher->ReadLine(), "init=1 mode=1 error=0");
  }
  EXPECT_TRUE(second.get());
  ASSERT_TRUE(lost) << logtest::ReadFile(log);
  EXPECT_EQ(LogMsgManager::GetUsage(), EUSAGE_READ);
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_OK);
  EXPECT_EQ(GetLogMsg(1), "one");
  platform::SetLocalTimeSource(nullptr);
}

TEST_F(LogMsgManagerTest, BadFormatTextFromTheTableIsCaught) {
  logtest::ScopedEnv base("SERVERAPP_LOG_BASE", (dir_.path() / "logs").string().c_str());
  logtest::SetFixedTime(logtest::MakeTime(2026, 12, 5, 14, 3, 7, 15));
  InitHostLogger("ROOMPC01", "ServerApp", "7_3", nullptr);
  // Entry 34 is meant for one int; this data file has a string there.
  WriteTable(
      {{34, "queued %s users"}, {39, "Slot %d [%s] [%s] Team %d"}, {7, "!err: 100% failed"}});
  ASSERT_TRUE(InitLogMsgManager(EUSAGE_WRITE));
  HostLogEntry(HLOG_INFO, 34, 2);
  HostLogEntry(HLOG_INFO, 39, 4, "kim", "lee", static_cast<std::int8_t>(1));
  HostLogEntryText(0, 7);         // used unchanged: the '%' is printed
  HostLogEntry(HLOG_LOW, 34, 2);  // gated off
  platform::SetLocalTimeSource(nullptr);
  EXPECT_EQ(logtest::ReadFile(dir_.path() / "logs" / "quellmark" / "ServerApp" / "20261205" /
                              "7_3" / "error_ServerApp_ROOMPC01_20261205_04.log"),
            "14:03:07.015 [INFO_] queued %s users [2] \r\r\n"
            "14:03:07.015 [INFO_] Slot 4 [kim] [lee] Team 1 \r\r\n"
            "14:03:07.015 !err: 100% failed \r\r\n");
}

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

using LogMsgManagerTest = logtest::MessageTableTest;

TEST_F(LogMsgManagerTest, PrivateCopyAndItsFailures) {
  std::vector<std::string> debug;
  platform::SetDebuggerOutputSink([&](std::string_view text) { debug.emplace_back(text); });
  EXPECT_EQ(LogMsgManager::GetUsage(), EUSAGE_NOTREADY);
  EXPECT_EQ(GetLogMsg(13), "");
  EXPECT_EQ(debug, std::vector<std::string>{"# HLOG_MSG WARN : Not Ready. : 13\n"});
  EXPECT_EQ(GetLogMsgError(), 0u);

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
  logtest::WriteFile(logs_.dir() / kLogMszPath, std::string("\x01\x00\x00\x00\xFF", 5));
  EXPECT_FALSE(InitLogMsgManager(EUSAGE_NOUSE));
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_FILE);

  // An invalid mode: assertion and code 7.
  EXPECT_FALSE(InitLogMsgManager(static_cast<ESharedMemUsage>(5)));
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_BAD_USAGE);
  EXPECT_FALSE(asserts_.empty());
}

// Ids with gaps: every id up to the largest is published, gaps empty. The
// table outlives its publisher while another instance holds it.
TEST_F(LogMsgManagerTest, ReaderFindsATablePublishedByAnotherProcess) {
  WriteTable({{0, "zero"}, {2, "two"}, {40, std::string(600, 'x')}, {-3, "negative"}});
  ASSERT_TRUE(InitLogMsgManager(EUSAGE_WRITE));
  EXPECT_EQ(LogMsgManager::GetUsage(), EUSAGE_WRITE);
  EXPECT_EQ(GetLogMsg(0), "zero");
  EXPECT_EQ(GetLogMsg(1), "");
  EXPECT_EQ(GetLogMsg(40), std::string(511, 'x'));
  EXPECT_EQ(GetLogMsgError(), 0u);
  EXPECT_EQ(GetLogMsg(41), "");
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_RANGE);
  auto reader = StartPeer("read", "exit", {"2", "1", "41"});
  EXPECT_EQ(reader->ReadLine(), "init=1 mode=2 error=0");
  EXPECT_EQ(reader->ReadLine(), "text 2=two");
  EXPECT_EQ(reader->ReadLine(), "text 1=");
  EXPECT_EQ(reader->ReadLine(), "text 41=");  // beyond the published ids
  EXPECT_EQ(reader->ReadLine(), "ready");
  EXPECT_EQ(reader->CloseAndWait(), 0);
  // A second writer defers to the published table.
  auto writer = StartPeer("write", "hold", {"0"});
  EXPECT_EQ(writer->ReadLine(), "init=1 mode=2 error=0");
  EXPECT_EQ(writer->ReadLine(), "text 0=zero");
  ReleaseLogMsgManager();
  EXPECT_EQ(GetLogMsg(0), "");  // nothing held any more
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_RANGE);
  auto later = StartPeer("read", "exit", {"2"});
  EXPECT_EQ(later->ReadLine(), "init=1 mode=2 error=0");
  EXPECT_EQ(later->ReadLine(), "text 2=two");

  // The last holder lets go: the next instance waits (code 5), then
  // publishes itself.
  EXPECT_EQ(writer->CloseAndWait(), 0);
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
  StartLogger();
  WriteTable({{1, "one"}});
  // Another publisher has the file open and never publishes: this one
  // waits as a reader, twice, and fails with code 5.
  auto holder = std::make_unique<platform::ScopedFile>(platform::OpenForReadExclusive(kLogMszPath));
  ASSERT_TRUE(holder->valid());
  EXPECT_FALSE(InitLogMsgManager(EUSAGE_WRITE));
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_WAIT);
  EXPECT_EQ(LogMsgManager::GetUsage(), EUSAGE_READ);
  ReleaseLogMsgManager();
  // Its log line tells when it has lost the open (this part wrote two).
  const auto losses = [&] {
    const std::string text = logs_.Text();
    int n = 0;
    for (size_t at = 0; (at = text.find("by another instance, reading", at)) != std::string::npos;
         ++at) {
      ++n;
    }
    return n;
  };
  ASSERT_EQ(2, losses()) << logs_.Text();

  // Now the other one (a second process) publishes once this one lost.
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
  ASSERT_TRUE(lost) << logs_.Text();
  EXPECT_EQ(LogMsgManager::GetUsage(), EUSAGE_READ);
  EXPECT_EQ(GetLogMsgError(), ELOGMSG_OK);
  EXPECT_EQ(GetLogMsg(1), "one");
}

TEST_F(LogMsgManagerTest, BadFormatTextFromTheTableIsCaught) {
  StartLogger();
  // Entry 34 is meant for one int; this data file has a string there.
  WriteTable(
      {{34, "queued %s users"}, {39, "Slot %d [%s] [%s] Team %d"}, {7, "!err: 100% failed"}});
  ASSERT_TRUE(InitLogMsgManager(EUSAGE_WRITE));
  HostLogEntry(HLOG_INFO, 34, 2);
  HostLogEntry(HLOG_INFO, 39, 4, "kim", "lee", static_cast<std::int8_t>(1));
  HostLogEntryText(0, 7);         // used unchanged: the '%' is printed
  HostLogEntry(HLOG_LOW, 34, 2);  // gated off
  EXPECT_EQ(logs_.Text(),
            "14:03:07.015 [INFO_] queued %s users [2] \r\r\n"
            "14:03:07.015 [INFO_] Slot 4 [kim] [lee] Team 1 \r\r\n"
            "14:03:07.015 !err: 100% failed \r\r\n");
}

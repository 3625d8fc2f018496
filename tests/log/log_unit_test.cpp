// The host logger's files, line forms, levels and writers; the message
// table across processes; the line's format check, cut and line ends; the
// platform seams the logger stands on: settings, files, shared memory.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "hostlogger.h"
#include "hostlogger_testing.h"
#include "logline.h"
#include "logmsgmanager.h"
#include "logmsgmanager_testing.h"
#include "logtestutil.h"
#include "platform/files.h"
#include "platform/identity.h"
#include "platform/settings.h"
#include "platform/shm.h"
#include "safeformat.h"
#include "support/scratch.h"

namespace fs = std::filesystem;
using hostlog::SafeFormat;
using logtest::Entries;
using logtest::HostLoggerTest;
using LogMsgManagerTest = logtest::MessageTableTest;
using logtest::ReadFile;
using logtest::SetFixedTime;

TEST_F(HostLoggerTest, FilesFollowTheDateAndThreeHourSlotsInFoldersMadeOnDemand) {
  logs_.Start("");
  const std::string day1 = "20261205";
  SetFixedTime({2026, 12, 5, 2, 59, 59, 999});
  HostLog(HLOG_INFO, "last of slot 0");
  TimeoutLog("timeout one");
  SetFixedTime({2026, 12, 5, 3, 0, 0, 0});
  HostLog(HLOG_INFO, "first of slot 1");
  SetFixedTime({2026, 12, 5, 23, 59, 59, 999});
  HostLog(HLOG_INFO, "last of the day");
  TimeoutLog("timeout two");
  SetFixedTime({2026, 12, 6, 0, 0, 0, 0});
  HostLog(HLOG_INFO, "first of the next day");
  TimeoutLog("timeout three");

  EXPECT_EQ(
      FilesIn(Folder(day1)),
      (std::set<std::string>{
          "error_ServerApp_ROOMPC01_20261205_00.log", "error_ServerApp_ROOMPC01_20261205_01.log",
          "error_ServerApp_ROOMPC01_20261205_07.log", "timeout_ServerApp_ROOMPC01_20261205.log"}));
  EXPECT_EQ(ReadFile(File("error", day1, "_00")), "02:59:59.999 [INFO_] last of slot 0 \r\r\n");
  EXPECT_EQ(ReadFile(File("error", day1, "_01")), "03:00:00.000 [INFO_] first of slot 1 \r\r\n");
  EXPECT_EQ(Entries(ReadFile(File("timeout", day1, ""))).size(), 2u);
  EXPECT_EQ(FilesIn(Folder("20261206")),
            (std::set<std::string>{"error_ServerApp_ROOMPC01_20261206_00.log",
                                   "timeout_ServerApp_ROOMPC01_20261206.log"}));

  // The first line of a day makes its folders; the current folder stays.
  SetFixedTime({2027, 1, 1, 0, 0, 0, 0});
  const fs::path before = fs::current_path();
  EXPECT_FALSE(fs::exists(Root() / "20270101"));
  EtcInfoLog("new year");
  EXPECT_TRUE(fs::is_directory(Root() / "20270101" / "7_3"));
  EXPECT_TRUE(
      fs::exists(Root() / "20270101" / "7_3" / "etcinfo_ServerApp_ROOMPC01_20270101_00.log"));
  EXPECT_EQ(fs::current_path(), before);

  // MakeLogFolders on its own, folders that exist being no error.
  MakeLogFolders(platform::LocalTime{2027, 2, 3, 4, 5, 6, 7});
  MakeLogFolders(platform::LocalTime{2027, 2, 3, 4, 5, 6, 7});
  EXPECT_TRUE(fs::is_directory(Root() / "20270203" / "7_3"));
}

TEST_F(HostLoggerTest, ExactBytesOfEachLineForm) {
  logs_.Start("IPCMsg=1\nIPCMemory=1\n");
  HostLog(HLOG_INFO, "S_P_F: HOST_HEARTBEAT : %d", 3);
  HostLog(0, "level zero");
  KernelLog(HLOG_FATAL, "kernel %s", "down");
  TimeoutLog("pid %u", 4242u);
  EtcInfoLog("two\nparts");
  PacketLog("packet %d", 7);
  RwpmLog("[RECV] tIndex[%02d], msgID[%02d]", 3, 9);
  IpcMsgLog("[RECV] tIndex[%02d], msgID[%02d], address[%ld]", 3, 9, 0L);

  EXPECT_EQ(ReadFile(File("error")),
            "14:03:07.015 [INFO_] S_P_F: HOST_HEARTBEAT : 3 \r\r\n"
            "14:03:07.015 level zero \r\r\n");
  EXPECT_EQ(ReadFile(File("kernel")), "14:03:07.015 [FATAL] kernel down \r\r\n");
  EXPECT_EQ(ReadFile(File("timeout", "20261205", "")),
            "ROOMPC01,ServerApp,2026.12.05 14:03:07.015,info,pid 4242 \r\r\n");
  EXPECT_EQ(ReadFile(File("etcinfo")),
            "ROOMPC01,ServerApp,2026.12.05 14:03:07.015,info,two\r\nparts \r\r\n");
  EXPECT_EQ(ReadFile(File("packet")),
            "ROOMPC01,ServerApp,2026.12.05 14:03:07.015,info,packet 7 \r\r\n");
  EXPECT_EQ(ReadFile(File("RWPM")), "2026-12-05-14:03:07.015, [RECV] tIndex[03], msgID[09] \r\n");
  EXPECT_EQ(ReadFile(File("IPCMSG")),
            "2026-12-05-14:03:07.015, [RECV] tIndex[03], msgID[09], address[0] \r\n");
}

TEST_F(HostLoggerTest, LevelGatesAndSwitches) {
  // Before initialisation the threshold is 5 but a line has no place: lost.
  EXPECT_TRUE(IsLogLevelOn(HLOG_LOW));
  HostLog(HLOG_FATAL, "too early");
  EXPECT_FALSE(fs::exists(Root()));

  // "LogLevel" absent: 1 to 4 pass, 5 does not; switches off.
  logs_.Start("");
  for (std::uint32_t level = 0; level <= HLOG_LOW; ++level) HostLog(level, "level %u", level);
  RwpmLog("rwpm");
  IpcMsgLog("ipc");
  EXPECT_EQ(
      Entries(ReadFile(File("error"))),
      (std::vector<std::string>{"14:03:07.015 level 0", "14:03:07.015 [FATAL] level 1",
                                "14:03:07.015 [ERROR] level 2", "14:03:07.015 [WARN_] level 3",
                                "14:03:07.015 [INFO_] level 4"}));
  EXPECT_FALSE(fs::exists(File("RWPM")));
  EXPECT_FALSE(fs::exists(File("IPCMSG")));
  EXPECT_FALSE(IsIpcMemoryLogOn());
  EXPECT_FALSE(IsIpcMsgLogOn());

  // "LogLevel"=0: only level 0, only to the main and kernel logs; RWPM and
  // IPCMSG follow their switches.
  fs::remove_all(Root());
  logs_.Start("LogLevel=0\nIPCMsg=1\nIPCMemory=0\n");
  HostLog(HLOG_FATAL, "fatal");
  HostLog(0, "zero");
  KernelLog(HLOG_ERROR, "kernel error");
  KernelLog(0, "kernel zero");
  TimeoutLog("t");
  EtcInfoLog("e");
  PacketLog("p");
  RwpmLog("r");
  IpcMsgLog("i");
  EXPECT_EQ(ReadFile(File("error")), "14:03:07.015 zero \r\r\n");
  EXPECT_EQ(ReadFile(File("kernel")), "14:03:07.015 kernel zero \r\r\n");
  EXPECT_EQ(FilesIn(Folder("20261205")),
            (std::set<std::string>{"error_ServerApp_ROOMPC01_20261205_04.log",
                                   "kernel_ServerApp_ROOMPC01_20261205_04.log",
                                   "IPCMSG_ServerApp_ROOMPC01_20261205_04.log"}));

  // "LogLevel"=5 lets level 5 through.
  logs_.Start("LogLevel=5\n");
  EXPECT_TRUE(IsHostLogOn(HostLogFile::kPacket, 0));
  HostLog(HLOG_LOW, "low");
  EXPECT_NE(ReadFile(File("error")).find("14:03:07.015 [LOW__] low \r\r\n"), std::string::npos);
}

TEST_F(HostLoggerTest, LogLevelOfSixOrMoreReportsAndSilences) {
  std::vector<std::string> reports;
  platform::SetAssertionSink([&](std::string_view text) { reports.emplace_back(text); });
  for (const char* value : {"6", "7", "-1"}) {
    reports.clear();
    logs_.Start(std::string("LogLevel=") + value + "\n");
    EXPECT_EQ(reports.size(), 1u) << value;
    EXPECT_EQ(HostLogThresholdForTesting(), 0u) << value;
    EXPECT_FALSE(IsLogLevelOn(HLOG_FATAL));
    EXPECT_FALSE(IsHostLogOn(HostLogFile::kTimeout, 0));
    EXPECT_TRUE(IsLogLevelOn(0));
  }
  reports.clear();
  logs_.Start("LogLevel=5\n");
  EXPECT_TRUE(reports.empty());
}

TEST_F(HostLoggerTest, OverlongLinesAreCutNotOverrun) {
  logs_.Start("IPCMsg=1\n");
  // The composed format (prefix + caller's text + line end + NUL) fits 260.
  HostLogText(HLOG_INFO, std::string(1000, 'y'));
  const std::string prefix = "14:03:07.015 [INFO_] ";
  EXPECT_EQ(ReadFile(File("error")),
            prefix + std::string(260 - prefix.size() - 3 - 1, 'y') + " \r\r\n");

  // A format cut inside a conversion loses that conversion whole.
  const std::string format = std::string(235 - 1, 'x') + "%d";
  fs::remove(File("error"));
  HostLog(HLOG_INFO, format.c_str(), 12345);
  EXPECT_EQ(ReadFile(File("error")), prefix + std::string(234, 'x') + " \r\r\n");

  // IPC lines have 512 bytes; the arguments of a format that fits expand whole.
  IpcMsgLog("%s", std::string(2000, 'z').c_str());
  const std::string ipc = ReadFile(File("IPCMSG"));
  EXPECT_EQ(ipc.size(), 25u + 2000u + 3u);
  IpcMsgLogText(std::string(2000, 'w'));
  const std::string both = ReadFile(File("IPCMSG"));
  EXPECT_EQ(both.size() - ipc.size(), 512u);  // 511 composed bytes, the LF written as CR LF

  // A path beyond its buffer is cut too: no overrun, and the writer survives.
  logs_.Start("", std::string(400, 'i').c_str());
  char path[260];
  EXPECT_FALSE(GetHostLogPath(HostLogFile::kMain, platform::LocalTime{2026, 12, 5, 1, 0, 0, 0},
                              path, sizeof path));
  HostLog(HLOG_INFO, "long path");
}

TEST_F(HostLoggerTest, TableTextsAreCheckedAndVerbatimTextsAreNotFormats) {
  logs_.Start("");
  HostLogMsg(HLOG_INFO, "Slot %d, name %s", 3);         // too few arguments
  HostLogMsg(HLOG_INFO, "Slot %d, name %s", 4, "kim");  // fits
  HostLogText(HLOG_INFO, "100% sure %s %n");            // printed as is
  EtcInfoLogMsg("SlotIdx %d, [%s], [%s], TeamIdx %d", 1, "a", "b", 2);
  HostLogMsg(HLOG_LOW, "%s", 7);  // gated off: not even formatted
  EXPECT_EQ(ReadFile(File("error")),
            "14:03:07.015 [INFO_] Slot %d, name %s [3] \r\r\n"
            "14:03:07.015 [INFO_] Slot 4, name kim \r\r\n"
            "14:03:07.015 [INFO_] 100% sure %s %n \r\r\n");
  EXPECT_EQ(
      ReadFile(File("etcinfo")),
      "ROOMPC01,ServerApp,2026.12.05 14:03:07.015,info,SlotIdx 1, [a], [b], TeamIdx 2 \r\r\n");
}

TEST_F(HostLoggerTest, PathsForOtherWriters) {
  char out[260];
  const platform::LocalTime t{2026, 12, 5, 14, 3, 0, 0};
  EXPECT_FALSE(GetHostLogPath(HostLogFile::kMain, t, out, sizeof out));
  EXPECT_STREQ(out, "");
  logs_.Start("");
  ASSERT_TRUE(GetHostLogPath(HostLogFile::kMain, t, out, sizeof out));
  EXPECT_EQ(fs::path(out), File("error"));
  ASSERT_TRUE(GetHostLogPath(HostLogFile::kTimeout, t, out, sizeof out));
  EXPECT_EQ(fs::path(out), File("timeout", "20261205", ""));
  ASSERT_TRUE(GetHostLogFolder(t, out, sizeof out));
  EXPECT_EQ(fs::path(out), Folder("20261205"));
  ASSERT_TRUE(GetHostLogRoot(out, sizeof out));
  EXPECT_EQ(fs::path(out), Root());
  // Written with the system's own separator.
  const char foreign = fs::path::preferred_separator == '/' ? '\\' : '/';
  ASSERT_TRUE(GetHostLogPath(HostLogFile::kMain, t, out, sizeof out));
  EXPECT_EQ(std::string(out).find(foreign), std::string::npos) << out;
  char tiny[8];
  EXPECT_FALSE(GetHostLogPath(HostLogFile::kMain, t, tiny, sizeof tiny));
  EXPECT_STREQ(tiny, "");

  // Without an instance folder the files lie in the program's folder.
  logs_.Start("", nullptr);
  HostLog(HLOG_INFO, "no instance");
  EXPECT_TRUE(fs::exists(Root() / "error_ServerApp_ROOMPC01_20261205_04.log"));
}

TEST_F(HostLoggerTest, ConcurrentThreadsKeepEveryLineWhole) {
  logs_.Start("");
  const std::string pad(150, '.');
  std::thread a(WriteNumbered, 'A', 1500, pad);
  std::thread b(WriteNumbered, 'B', 1500, pad);
  a.join();
  b.join();
  ExpectWholeNumbered('A', 1500, pad);
}

#if !defined(_WIN32)
// Windows gets this from FILE_APPEND_DATA, which the cross-process message
// table tests exercise there.
TEST_F(HostLoggerTest, ConcurrentProcessesKeepEveryLineWhole) {
  logs_.Start("");
  const std::string pad(180, '#');
  std::fflush(stdout);  // or the children would write our buffered echo again
  for (char who : {'P', 'Q'}) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      WriteNumbered(who, 1000, pad);
      std::fflush(stdout);
      ::_exit(0);
    }
  }
  for (int child = 0; child < 2; ++child) {
    int status = 0;
    ASSERT_GT(::wait(&status), 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ExpectWholeNumbered('P', 1000, pad);
}
#endif

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

TEST(SafeFormat, FormatsWhenEveryConversionFits) {
  EXPECT_EQ(SafeFormat("Slot %d, [%s], [%s], Team %d", 3, "alpha", std::string("beta"), 1),
            "Slot 3, [alpha], [beta], Team 1");
  EXPECT_EQ(SafeFormat("%05.1f|%-4d|%x|%c|%%", 2.25, 7, 255u, 'A'), "002.2|7   |ff|A|%");
  // char, short and bool promote to int; signedness is not held against a text.
  EXPECT_EQ(SafeFormat("%d %d %u %hhd", static_cast<short>(-2), true, -1, static_cast<char>(65)),
            "-2 1 4294967295 65");
  EXPECT_EQ(SafeFormat("%lld %llu %zu", std::int64_t{-5}, std::uint64_t{5}, std::size_t{9}),
            "-5 5 9");
  EXPECT_EQ(SafeFormat("USN %I64u slot %I32d", std::uint64_t{123456789012ULL}, 4),
            "USN 123456789012 slot 4");
  EXPECT_EQ(SafeFormat("[%*d] [%.*s]", 4, 7, 2, "abcdef"), "[   7] [ab]");
  const char* none = nullptr;
  EXPECT_EQ(SafeFormat("%s", none), "(null)");
  // Extra arguments are harmless to printf and allowed.
  EXPECT_EQ(SafeFormat("no conversions", 1, 2), "no conversions");
  // A long expansion is not cut.
  EXPECT_EQ(SafeFormat("%s", std::string(2000, 'x')).size(), 2000u);
}

TEST(SafeFormat, MismatchWritesRawTextAndArguments) {
  // Too few arguments: printf would read garbage from the stack.
  EXPECT_EQ(SafeFormat("Slot %d, name %s", 3), "Slot %d, name %s [3]");
  // A number where a string is expected: printf would dereference it.
  EXPECT_EQ(SafeFormat("name %s", 42), "name %s [42]");
  // A string where a number is expected, and a pointer-sized integer for %d.
  EXPECT_EQ(SafeFormat("%d", "x"), "%d [x]");
  EXPECT_EQ(SafeFormat("%d", std::int64_t{-1}), "%d [-1]");
  EXPECT_EQ(SafeFormat("%lld", 5), "%lld [5]");
  EXPECT_EQ(SafeFormat("%f", 1), "%f [1]");
  EXPECT_EQ(SafeFormat("%d", 1.5), "%d [1.5]");
  // Never-fitting conversions: %n writes memory, wide and positional forms.
  int n = 0;
  EXPECT_EQ(SafeFormat("abc%n", &n), "abc%n [" + SafeFormat("%p", &n) + "]");
  EXPECT_EQ(n, 0);
  EXPECT_EQ(SafeFormat("%ls", "w"), "%ls [w]");
  EXPECT_EQ(SafeFormat("%1$d", 1), "%1$d [1]");
  EXPECT_EQ(SafeFormat("%Lf", 1.0), "%Lf [1]");
  // Cut off, unknown, or a '*' without its int.
  EXPECT_EQ(SafeFormat("100%", 1), "100% [1]");
  EXPECT_EQ(SafeFormat("%y", 1), "%y [1]");
  EXPECT_EQ(SafeFormat("%*d", 5), "%*d [5]");
  // No arguments at all: the text as it is.
  EXPECT_EQ(SafeFormat("rate 5%d"), "rate 5%d");
}

TEST(SafeFormat, HugeFieldWidthsAreRefusedNotBuilt) {
  // A gigabyte-wide field is not built; the text comes back raw.
  EXPECT_EQ(SafeFormat("%999999999d", 1), "%999999999d [1]");
  EXPECT_EQ(SafeFormat("%.999999999f", 1.0), "%.999999999f [1]");
  EXPECT_EQ(SafeFormat("[%*d]", 1000000000, 7), "[%*d] [1000000000, 7]");
  EXPECT_EQ(SafeFormat("[%*d]", -1000000000, 7), "[%*d] [-1000000000, 7]");
  EXPECT_EQ(SafeFormat("[%.*s]", 1000000000, "ab"), "[%.*s] [1000000000, ab]");
  // The limit itself still fits; a negative precision means none.
  EXPECT_EQ(SafeFormat("%4096d", 1).size(), 4096u);
  EXPECT_EQ(SafeFormat("%*d", -4096, 1).size(), 4096u);
  EXPECT_EQ(SafeFormat("[%.*s]", -5, "ab"), "[ab]");
}

// The crash path's fixed buffers get the same bytes, cut and NUL-terminated.
TEST(LogLine, TextModeTurnsEachLfIntoCrLfAlsoIntoAFixedBuffer) {
  std::string out;
  hostlog::AppendTextMode("a\nb \r\n", &out);
  EXPECT_EQ(out, "a\r\nb \r\r\n");
  char buffer[6];
  hostlog::FixedText fixed(buffer, sizeof(buffer));
  hostlog::AppendTextMode("a\nb \r\n", &fixed);
  EXPECT_STREQ("a\r\nb ", buffer);
  EXPECT_TRUE(fixed.truncated());
}

TEST(LogLine, CutKeepsConversionsAndCharactersWhole) {
  EXPECT_EQ(hostlog::CutLength("short", 10, true), 5u);
  EXPECT_EQ(hostlog::CutLength("abcdefgh", 4, false), 4u);
  // "%08.3f" straddles the cut at 6: it goes whole.
  EXPECT_EQ(hostlog::CutLength("ab%08.3fcd", 6, true), 2u);
  EXPECT_EQ(hostlog::CutLength("ab%08.3fcd", 8, true), 8u);
  // "%%" is one conversion too; a verbatim text ignores conversions.
  EXPECT_EQ(hostlog::CutLength("abc%%", 4, true), 3u);
  EXPECT_EQ(hostlog::CutLength("abc%%", 4, false), 4u);
  // A lone '%' at the cut would leave a cut-off conversion.
  EXPECT_EQ(hostlog::CutLength("abc%d", 4, true), 3u);
  // "\xEA\xB0\x80" is one three-byte character.
  EXPECT_EQ(hostlog::CutLength("a\xEA\xB0\x80z", 2, false), 1u);
  EXPECT_EQ(hostlog::CutLength("a\xEA\xB0\x80z", 4, false), 4u);
}

TEST(Settings, ReadsLikeThePrivateProfileFunctions) {
  testsupport::LogSandbox dir("settings-");  // the current directory
  const fs::path ini = dir.dir() / "Setting.ini";
  logtest::WriteFile(ini,
                     "; comment\r\n"
                     "[GameMgmt]\r\n"
                     "LogLevel=9\r\n"
                     "[ loginfo ]\r\n"
                     "  LogLevel  =  3  \r\n"
                     "IPCMsg=0x1F\r\n"
                     "Neg=-1\r\n"
                     "Trail=12abc\r\n"
                     "Word=abc\r\n"
                     "Empty=\r\n"
                     "Quoted=\"  spaced \"\r\n"
                     "LogLevel=4\r\n"
                     "[LogInfo]\r\n"
                     "Second=1\r\n");
  const std::string f = ini.string();
  using platform::GetPrivateProfileInt;
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "LogLevel", 7, f.c_str()), 3u);  // no case, first wins
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "ipcmsg", 0, f.c_str()), 31u);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "Neg", 0, f.c_str()), 0xFFFFFFFFu);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "Trail", 0, f.c_str()), 12u);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "Word", 5, f.c_str()), 0u);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "Empty", 5, f.c_str()), 5u);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "Missing", 4, f.c_str()), 4u);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "Second", 8, f.c_str()), 8u);  // only the first section
  EXPECT_EQ(GetPrivateProfileInt("Nowhere", "LogLevel", 4, f.c_str()), 4u);
  EXPECT_EQ(GetPrivateProfileInt("LogInfo", "LogLevel", 4, "/no/such/file.ini"), 4u);

  char out[8];
  EXPECT_EQ(platform::GetPrivateProfileString("LogInfo", "Quoted", "", out, sizeof out, f.c_str()),
            7u);
  EXPECT_STREQ(out, "  space");  // quotes dropped, cut to 7 bytes
  EXPECT_EQ(
      platform::GetPrivateProfileString("LogInfo", "None", "dflt", out, sizeof out, f.c_str()), 4u);
  EXPECT_STREQ(out, "dflt");
  EXPECT_EQ(
      platform::GetPrivateProfileString("LogInfo", "None", nullptr, out, sizeof out, f.c_str()),
      0u);
  EXPECT_STREQ(out, "");

  // The Windows spelling of a relative path.
  EXPECT_EQ(GetPrivateProfileInt("GameMgmt", "LogLevel", 0, ".\\Setting.ini"), 9u);
}

TEST(Files, FoldersRenamesSearchAndTheLogBase) {
  testsupport::LogSandbox sandbox("files-");
  const fs::path dir = sandbox.dir();
  const std::string chain = (dir / "a" / "b" / "c").string();
  EXPECT_TRUE(platform::CreateFolderChain(chain.c_str()));
  EXPECT_TRUE(platform::CreateFolderChain(chain.c_str()));  // existing is no error
  EXPECT_TRUE(platform::IsFolder(chain.c_str()));
  EXPECT_FALSE(platform::CreateFolder((dir / "x" / "y").string().c_str()));  // parent missing
  logtest::WriteFile(dir / "file", std::string("f"));
  EXPECT_FALSE(platform::CreateFolderChain((dir / "file" / "sub").string().c_str()));
  EXPECT_FALSE(platform::CreateFolder((dir / "file").string().c_str()));

  const std::string from = (dir / "file").string();
  const std::string to = (dir / "moved").string();
  logtest::WriteFile(dir / "taken", std::string("t"));
  EXPECT_FALSE(platform::RenamePath(from.c_str(), (dir / "taken").string().c_str()));
  EXPECT_TRUE(platform::RenamePath(from.c_str(), to.c_str()));
  EXPECT_FALSE(platform::PathExists(from.c_str()));
  EXPECT_TRUE(platform::DeleteFilePath(to.c_str()));
  EXPECT_FALSE(platform::DeleteFilePath(to.c_str()));
  EXPECT_FALSE(platform::DeleteFilePath(chain.c_str()));  // not a folder

  const fs::path rez = dir / "rez";
  for (const char* name : {"Map1.rez", "map2.REZ", "notes.txt", "[x].rez", "rez.rez.bak"}) {
    logtest::WriteFile(rez / name, std::string("r"));
  }
  fs::create_directories(rez / "folder.rez");
  auto found = platform::FindFiles((rez.string() + "/*.rez").c_str());
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].name, "Map1.rez");
  EXPECT_EQ(found[1].name, "[x].rez");  // '[' is no wildcard
  EXPECT_EQ(found[2].name, "folder.rez");
  EXPECT_TRUE(found[2].is_folder);
  EXPECT_EQ(found[3].name, "map2.REZ");
  EXPECT_EQ(platform::FindFiles((rez.string() + "\\map?.rez").c_str()).size(), 2u);  // no case
  EXPECT_TRUE(platform::FindFiles((dir / "none" / "*").string().c_str()).empty());

  // Append, and the exclusive open of another opener.
  const std::string log = (dir / "log.txt").string();
  for (const char* part : {"one ", "two"}) {
    platform::ScopedFile f(platform::OpenForAppend(log.c_str()));
    ASSERT_TRUE(f.valid());
    EXPECT_TRUE(platform::WriteToFile(f.get(), part, std::strlen(part)));
  }
  EXPECT_EQ(logtest::ReadFile(log), "one two");
  platform::ScopedFile first(platform::OpenForReadExclusive(log.c_str()));
  ASSERT_TRUE(first.valid());
  EXPECT_FALSE(platform::ScopedFile(platform::OpenForReadExclusive(log.c_str())).valid());
  // POSIX shuts out only other exclusive openers; Windows, every opener.
  EXPECT_EQ(platform::ScopedFile(platform::OpenForRead(log.c_str())).valid(),
            !testsupport::OnWindows());
  EXPECT_EQ(platform::FileSizeOf(first.get()), 7);
  EXPECT_EQ(platform::OpenForAppend((dir / "no" / "dir.txt").string().c_str()),
            platform::kInvalidFile);

  // The log base comes from the environment, with the system's separator.
  testsupport::SetEnv("SERVERAPP_LOG_BASE", "/tmp/somewhere/");
  EXPECT_EQ(platform::LogBaseFolder(),
            testsupport::OnWindows() ? "\\tmp\\somewhere" : "/tmp/somewhere");
  for (const char* unset : {"", static_cast<const char*>(nullptr)}) {
    testsupport::SetEnv("SERVERAPP_LOG_BASE", unset);
    EXPECT_EQ(platform::LogBaseFolder(), testsupport::OnWindows() ? "C:\\log" : "/var/log");
  }
}

TEST(SharedMemory, HasTheLifetimeOfWin32Mappings) {
  logtest::ShmSession session;
  bool existed = true;
  platform::SharedMemory* a = platform::CreateSharedMemory("LifeTest", 512, &existed);
  ASSERT_NE(a, nullptr);
  EXPECT_FALSE(existed);
  auto* view = static_cast<char*>(platform::MapSharedMemory(a, 512, true));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0], 0);
  std::strcpy(view, "shared");

  platform::SharedMemory* b = platform::OpenSharedMemory("LifeTest", false);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(platform::MapSharedMemory(b, 512, true), nullptr);  // read-only handle
  // Larger than the object's last page (Windows rounds an opener's size up).
  EXPECT_EQ(platform::MapSharedMemory(b, 1 << 20, false), nullptr);
  const char* seen = static_cast<const char*>(platform::MapSharedMemory(b, 0, false));
  ASSERT_NE(seen, nullptr);
  EXPECT_STREQ(seen, "shared");
  platform::UnmapSharedMemory(b, const_cast<char*>(seen), 0);

  // Creating again opens the live object.
  platform::SharedMemory* c = platform::CreateSharedMemory("LifeTest", 64, &existed);
  ASSERT_NE(c, nullptr);
  EXPECT_TRUE(existed);
  platform::CloseSharedMemory(c);

  // The last holder closes: it is gone.
  platform::UnmapSharedMemory(a, view, 512);
  platform::CloseSharedMemory(a);
  platform::CloseSharedMemory(b);
  EXPECT_EQ(platform::OpenSharedMemory("LifeTest", false), nullptr);

  EXPECT_EQ(platform::CreateSharedMemory("bad/name", 16, nullptr), nullptr);
  EXPECT_EQ(platform::CreateSharedMemory("", 16, nullptr), nullptr);
}

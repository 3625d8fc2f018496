#include "hostlogger.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "hostlogger_testing.h"
#include "logtestutil.h"
#include "platform/identity.h"

namespace fs = std::filesystem;
using logtest::Entries;
using logtest::HostLoggerTest;
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

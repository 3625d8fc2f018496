// The faults of every system: the injector and SERVERAPP_FAULTS; each faulted
// call failing as the real one would, with the system's error number (errno,
// or GetLastError on Windows, which never sets errno) and the log lines that
// carry it; the host logger and the message table over failed files and shm.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "content/rezdownload.h"
#include "fault_test.h"
#include "hostlogger.h"
#include "logmsgmanager_testing.h"
#include "logtestutil.h"
#include "platform/crash_io.h"
#include "platform/files.h"
#include "platform/identity.h"
#include "platform/library.h"
#include "platform/process_memory.h"
#include "platform/runtime.h"
#include "platform/settings.h"
#include "platform/shm.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;

class InjectorTest : public FaultTest<> {
 protected:
  static std::vector<int> Run(Point p, int calls) {
    std::vector<int> answers;
    for (int i = 0; i < calls; ++i) answers.push_back(fault::Check(p));
    return answers;
  }
};

TEST_F(InjectorTest, FailsTheNthCallOnlyOrEveryCallFromItUntilReset) {
  fault::Arm(Point::kMkdir, 2, 13);
  EXPECT_EQ(Run(Point::kMkdir, 4), (std::vector<int>{0, 13, 0, 0}));
  EXPECT_EQ(fault::Calls(Point::kMkdir), 4u);
  EXPECT_EQ(fault::Failures(Point::kMkdir), 1u);
  // Other points are untouched, though counted while the injector is active.
  EXPECT_EQ(Run(Point::kFileOpen, 2), (std::vector<int>{0, 0}));
  EXPECT_EQ(fault::Calls(Point::kFileOpen), 2u);

  fault::Arm(Point::kFileWrite, 3, 28, /*and_after=*/true);
  EXPECT_EQ(Run(Point::kFileWrite, 5), (std::vector<int>{0, 0, 28, 28, 28}));
  EXPECT_EQ(fault::Failures(Point::kFileWrite), 3u);

  // Disarming stops the failures but keeps counting; re-arming counts on
  // from where the point stands.
  fault::Disarm(Point::kFileWrite);
  EXPECT_EQ(Run(Point::kFileWrite, 2), (std::vector<int>{0, 0}));
  EXPECT_EQ(fault::Calls(Point::kFileWrite), 7u);
  fault::Arm(Point::kFileWrite, 8, 5);
  EXPECT_EQ(Run(Point::kFileWrite, 2), (std::vector<int>{5, 0}));

  // An error or call number of 0 arms nothing.
  fault::Arm(Point::kShmMap, 1, 0);
  fault::Arm(Point::kShmOpen, 0, 12);
  EXPECT_EQ(fault::Check(Point::kShmMap), 0);
  EXPECT_EQ(fault::Check(Point::kShmOpen), 0);
  EXPECT_EQ(fault::Check(Point::kCount), 0);

  // Reset disarms and stops counting.
  fault::Arm(Point::kHttpRead, 1, 104, true);
  EXPECT_EQ(fault::Check(Point::kHttpRead), 104);
  fault::Reset();
  EXPECT_EQ(Run(Point::kHttpRead, 3), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(fault::Calls(Point::kHttpRead), 0u);
  EXPECT_EQ(fault::Failures(Point::kHttpRead), 0u);

  fault::StartCounting();
  Run(Point::kProcessRead, 3);
  EXPECT_EQ(fault::Calls(Point::kProcessRead), 3u);
  EXPECT_EQ(fault::Failures(Point::kProcessRead), 0u);
}

TEST_F(InjectorTest, SpecArmsEveryRuleOrNothing) {
  std::string why;
  ASSERT_TRUE(fault::ArmFromSpec("file_open:3+:13,shm_create:1:12,library_symbol:2", &why)) << why;
  EXPECT_EQ(Run(Point::kFileOpen, 4), (std::vector<int>{0, 0, 13, 13}));
  EXPECT_EQ(Run(Point::kShmCreate, 2), (std::vector<int>{12, 0}));
  EXPECT_EQ(Run(Point::kLibrarySymbol, 2), (std::vector<int>{0, fault::kDefaultError}));

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"", "a rule is <point>:<n>[+][:<error>]"},
      {"file_open", "a rule is <point>:<n>[+][:<error>]"},
      {"file_open:1:2:3", "a rule is <point>:<n>[+][:<error>]"},
      {"http_connect:1,", "a rule is <point>:<n>[+][:<error>]"},
      {"File_Open:1", "unknown point \"File_Open\""},
      {"count:1", "unknown point \"count\""},
      {"mkdir:0", "the call number of \"mkdir\" must be 1 or more"},
      {"mkdir:+", "the call number of \"mkdir\" must be 1 or more"},
      {"mkdir:1x", "the call number of \"mkdir\" must be 1 or more"},
      {"mkdir:-1", "the call number of \"mkdir\" must be 1 or more"},
      {"mkdir:99999999999999999999", "the call number of \"mkdir\" must be 1 or more"},
      {"mkdir:1:0", "the error of \"mkdir\" must be a number of 1 or more"},
      {"mkdir:1:", "the error of \"mkdir\" must be a number of 1 or more"},
      {"mkdir:1:EIO", "the error of \"mkdir\" must be a number of 1 or more"},
      {"mkdir:1:99999999999", "the error of \"mkdir\" must be a number of 1 or more"},
  };
  for (const auto& [spec, reason] : bad) {
    fault::Reset();
    why.clear();
    // A good rule before the bad one must not be armed either.
    EXPECT_FALSE(fault::ArmFromSpec("http_write:1:32," + spec, &why)) << spec;
    EXPECT_EQ(why, reason) << spec;
    EXPECT_EQ(fault::Check(Point::kHttpWrite), 0) << spec;
    EXPECT_EQ(fault::Check(Point::kMkdir), 0) << spec;
  }
  EXPECT_FALSE(fault::ArmFromSpec("nope:1", nullptr));
  EXPECT_FALSE(fault::ArmFromSpec("", &why));
  EXPECT_EQ(why, "no rule");

  // Each point's name arms that point and no other.
  for (int i = 0; i < static_cast<int>(Point::kCount); ++i) {
    const std::string name = fault::PointName(static_cast<Point>(i));
    fault::Reset();
    ASSERT_TRUE(fault::ArmFromSpec(name + ":1:7", nullptr)) << name;
    for (int j = 0; j < static_cast<int>(Point::kCount); ++j) {
      EXPECT_EQ(fault::Check(static_cast<Point>(j)), i == j ? 7 : 0) << name;
    }
  }
  EXPECT_STREQ(fault::PointName(Point::kCount), "");
}

int LastError() {
  return static_cast<int>(platform::LastSystemError());
}

class SeamFaultTest : public FaultTest<> {
 protected:
  testsupport::LogSandbox dir_{"seamfault-"};
};

TEST_F(SeamFaultTest, FileOpensWritesAndFolders) {
  const std::string path = (dir_.dir() / "a.txt").string();
  fault::Arm(Point::kFileOpen, 1, EACCES, true);
  EXPECT_EQ(platform::OpenForAppend(path.c_str()), platform::kInvalidFile);
  EXPECT_EQ(LastError(), EACCES);
  EXPECT_EQ(platform::OpenForWrite(path.c_str()), platform::kInvalidFile);
  EXPECT_EQ(platform::CrashFileCreate(path.c_str()), platform::kNoCrashFile);
  EXPECT_EQ(platform::CrashLastError(), static_cast<uint32_t>(EACCES));
  EXPECT_EQ(platform::CrashFileOpenAppend(path.c_str()), platform::kNoCrashFile);
  EXPECT_FALSE(fs::exists(path)) << "a faulted open must not create the file";
  fault::Disarm(Point::kFileOpen);

  // (A failed WriteToFile: LoggerFaultTest, ErrorNumberFaultTest.)
  fault::Arm(Point::kFileWrite, 1, EIO);
  intptr_t crash_file = platform::CrashFileOpenAppend(path.c_str());
  ASSERT_NE(crash_file, platform::kNoCrashFile);
  EXPECT_FALSE(platform::CrashFileWrite(crash_file, "x", 1));
  EXPECT_EQ(platform::CrashLastError(), static_cast<uint32_t>(EIO));
  EXPECT_TRUE(platform::CrashFileWrite(crash_file, "!", 1));
  platform::CrashFileClose(crash_file);
  EXPECT_EQ(logtest::ReadFile(path), "!");

  // Reading opens fail too: the settings reader falls back to the default
  // (POSIX's reader; Windows reads settings with the system's own calls).
  logtest::WriteFile(dir_.dir() / "S.ini", "[A]\nkey=7\n");
  const std::string ini = (dir_.dir() / "S.ini").string();
  if (!testsupport::OnWindows()) {
    fault::Arm(Point::kFileOpen, fault::Calls(Point::kFileOpen) + 1, EACCES);
    EXPECT_EQ(platform::GetPrivateProfileInt("A", "key", 3, ini.c_str()), 3);
    EXPECT_EQ(platform::GetPrivateProfileInt("A", "key", 3, ini.c_str()), 7);
  }
  fault::Arm(Point::kFileOpen, fault::Calls(Point::kFileOpen) + 1, EACCES);
  EXPECT_EQ(platform::OpenForRead(ini.c_str()), platform::kInvalidFile);
  const intptr_t next = platform::CrashFileOpenRead(ini.c_str());  // not the nth: opens
  EXPECT_NE(next, platform::kNoCrashFile);
  platform::CrashFileClose(next);

  const std::string chain = (dir_.dir() / "x" / "y").string();
  fault::Arm(Point::kMkdir, 1, EROFS);
  EXPECT_FALSE(platform::CreateFolderChain(chain.c_str()));
  EXPECT_EQ(LastError(), EROFS);
  EXPECT_FALSE(fs::exists(dir_.dir() / "x"));
  EXPECT_TRUE(platform::CreateFolderChain(chain.c_str()));
  fault::Arm(Point::kMkdir, 3, EROFS, true);
  const std::string one = (dir_.dir() / "z").string();
  EXPECT_FALSE(platform::CreateFolder(one.c_str()));
  EXPECT_FALSE(platform::CrashMakeFolder(one.c_str()));
  EXPECT_EQ(platform::CrashLastError(), static_cast<uint32_t>(EROFS));
  EXPECT_FALSE(fs::exists(one));
}

TEST_F(SeamFaultTest, SharedMemoryCreateOpenAndMap) {
  logtest::ShmSession session;
  fault::Arm(Point::kShmCreate, 1, ENOMEM);
  bool existed = true;
  EXPECT_EQ(platform::CreateSharedMemory("faults-a", 64, &existed), nullptr);
  EXPECT_EQ(LastError(), ENOMEM);
  EXPECT_FALSE(existed);
  // Nothing was left behind: an open finds no object.
  EXPECT_EQ(platform::OpenSharedMemory("faults-a", false), nullptr);

  platform::SharedMemory* created = platform::CreateSharedMemory("faults-a", 64, &existed);
  ASSERT_NE(created, nullptr);
  fault::Arm(Point::kShmOpen, fault::Calls(Point::kShmOpen) + 1, EACCES);
  fault::Arm(Point::kShmMap, 1, ENOMEM);
  EXPECT_EQ(platform::OpenSharedMemory("faults-a", false), nullptr);
  EXPECT_EQ(LastError(), EACCES);
  EXPECT_EQ(platform::MapSharedMemory(created, 0, true), nullptr);
  EXPECT_EQ(LastError(), ENOMEM);

  // A faulted open did not unlink the live object: it opens now.
  platform::SharedMemory* opened = platform::OpenSharedMemory("faults-a", false);
  EXPECT_NE(opened, nullptr);
  platform::CloseSharedMemory(opened);
  platform::CloseSharedMemory(created);
}

TEST_F(SeamFaultTest, LibraryLoadAndSymbol) {
  const char* const library = testsupport::OnWindows() ? "kernel32.dll" : "libm.so.6";
  const char* const symbol = testsupport::OnWindows() ? "GetTickCount" : "cos";
  fault::Arm(Point::kLibraryLoad, 1, 126);
  EXPECT_EQ(platform::LoadLibrary(library), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNotFound);
  if (!testsupport::OnWindows()) {  // Windows gives the system's text for the number
    EXPECT_EQ(platform::LastLibraryErrorText(), "injected fault");
  }

  platform::LibraryHandle lib = platform::LoadLibrary(library);
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNone);
  fault::Arm(Point::kLibrarySymbol, 1, 127);
  EXPECT_EQ(platform::GetLibrarySymbol(lib, symbol), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorSymbolNotFound);
  EXPECT_NE(platform::GetLibrarySymbol(lib, symbol), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNone);
  EXPECT_TRUE(platform::FreeLibrary(lib));
}

TEST_F(SeamFaultTest, ProcessMemoryRead) {
  static const char kSecret[] = "posted record";
  auto memory = platform::ProcessMemory::Open(platform::CurrentProcessId(),
                                              platform::ProcessMemoryAccess::kRead);
  ASSERT_NE(memory, nullptr);
  char buffer[sizeof(kSecret)] = {};
  fault::Arm(Point::kProcessRead, 1, EFAULT);
  EXPECT_FALSE(memory->Read(reinterpret_cast<uintptr_t>(kSecret), buffer, sizeof(buffer)));
  EXPECT_EQ(LastError(), EFAULT);
  EXPECT_STREQ(buffer, "");
  EXPECT_TRUE(memory->Read(reinterpret_cast<uintptr_t>(kSecret), buffer, sizeof(buffer)));
  EXPECT_STREQ(buffer, kSecret);
}

// Numbers no real failure of these calls gives on either system.
constexpr int kOpenError = 1021;
constexpr int kWriteError = 1022;
constexpr int kDeleteError = 1023;
constexpr int kRenameError = 1024;

class ErrorNumberFaultTest : public FaultTest<> {
 protected:
  ErrorNumberFaultTest() { logs_.Start("LogLevel=5\n"); }

  std::string Path(const char* name) const { return (logs_.dir() / name).string(); }

  testsupport::LogSandbox logs_{"errornumber-"};
};

TEST_F(ErrorNumberFaultTest, PackageTemporaryFileAndPlacement) {
  // The temporary file: its create and its write keep their call's number
  // (the "HTTPERROR" line and the write line print them).
  {
    RezTempFile temp(Path("a.log"));
    fault::Arm(Point::kFileOpen, 1, kOpenError);
    EXPECT_FALSE(temp.OnOpened(200));
    EXPECT_EQ(temp.open_error(), static_cast<uint32_t>(kOpenError));
  }
  {
    RezTempFile temp(Path("b.log"));
    ASSERT_TRUE(temp.OnOpened(200));
    fault::Arm(Point::kFileWrite, 1, kWriteError);
    EXPECT_FALSE(temp.OnData("body", 4));
    EXPECT_TRUE(temp.write_failed());
    EXPECT_EQ(temp.write_error(), static_cast<uint32_t>(kWriteError));
  }

  // Placement: the delete when another copy arrived, and the rename.
  logtest::WriteFile(Path("pkg.rez"), "theirs");
  logtest::WriteFile(Path("c.log"), "ours");
  fault::Arm(Point::kFileDelete, 1, kDeleteError);
  PlaceRezFile(Path("c.log"), Path("pkg.rez"));
  EXPECT_NE(logs_.Text().find("[UCCLog] rez temp file delete fail. filename : " + Path("c.log") +
                              ", error Number : " + std::to_string(kDeleteError)),
            std::string::npos)
      << logs_.Text();

  fault::Arm(Point::kFileRename, 1, kRenameError);
  PlaceRezFile(Path("c.log"), Path("new.rez"));
  EXPECT_NE(logs_.Text().find("[UCCLog] rez temp file rename fail. filename : " + Path("c.log") +
                              ", error Number : " + std::to_string(kRenameError)),
            std::string::npos)
      << logs_.Text();
  EXPECT_FALSE(fs::exists(Path("new.rez")));

  // Unfaulted, the same placement works.
  fault::Reset();
  PlaceRezFile(Path("c.log"), Path("new.rez"));
  EXPECT_EQ(logtest::ReadFile(Path("new.rez")), "ours");
}

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

// The injector (which calls fail, with what, what is counted, the
// SERVERAPP_FAULTS syntax), and each faulted backend call failing as the
// real call would: its failure answer and the system's error number (errno,
// or GetLastError on Windows); the next call works again.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "fault_test.h"
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

namespace fs = std::filesystem;

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

  // A faulted open did not unlink the live object: it opens and maps now.
  platform::SharedMemory* opened = platform::OpenSharedMemory("faults-a", false);
  ASSERT_NE(opened, nullptr);
  void* view = platform::MapSharedMemory(created, 0, true);
  ASSERT_NE(view, nullptr);
  platform::UnmapSharedMemory(created, view, 0);
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

}  // namespace

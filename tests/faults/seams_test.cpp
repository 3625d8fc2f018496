// Each faulted backend call fails as the real call would (its failure answer
// and the system's error number: errno, or GetLastError on Windows), and the
// next call works again. One body for both systems.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

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

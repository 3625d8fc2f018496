// The library seam: search order, symbols of that library only, and the
// error numbers that the module loader logs.
#include "platform/library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/identity.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;

// Built beside this test's executable by tests/host/CMakeLists.txt.
const std::string kSample = platform::LibraryFileName("libhostsample");

// A library file name of this platform that no folder holds.
std::string Missing(const char* stem) {
  return platform::LibraryFileName(stem);
}

class ScopedCwd {
 public:
  explicit ScopedCwd(const fs::path& dir) : saved_(fs::current_path()) { fs::current_path(dir); }
  ~ScopedCwd() { fs::current_path(saved_); }

 private:
  fs::path saved_;
};

fs::path MakeTempDir() {
  return testsupport::MakeScratchFolder("libtest-");
}

using AnswerFn = int (*)();

TEST(Library, FileNameOfThePlatform) {
  EXPECT_EQ(platform::LibraryFileName("server_d_x64"),
            testsupport::OnWindows() ? "server_d_x64.dll" : "server_d_x64.so");
}

TEST(Library, BareNameIsFoundBesideTheExecutable) {
  platform::LibraryHandle lib = platform::LoadLibrary(kSample);
  ASSERT_NE(lib, nullptr) << platform::LastLibraryErrorText();
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNone);

  auto answer = reinterpret_cast<AnswerFn>(platform::GetLibrarySymbol(lib, "SampleAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);

  // Missing exports, and exports of a dependency, are not found here.
  EXPECT_EQ(platform::GetLibrarySymbol(lib, "NoSuchExport"), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorSymbolNotFound);
  EXPECT_EQ(platform::GetLibrarySymbol(lib, "SampleDependencyValue"), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorSymbolNotFound);
  EXPECT_EQ(platform::GetLibrarySymbol(nullptr, "SampleAnswer"), nullptr);

  EXPECT_TRUE(platform::FreeLibrary(lib));
  EXPECT_FALSE(platform::FreeLibrary(nullptr));
}

TEST(Library, MissingAndUnloadableFilesHaveTheirOwnErrors) {
  fs::path dir = MakeTempDir();
  ASSERT_FALSE(dir.empty());
  {
    // Left before the folder is removed: Windows cannot remove the current
    // directory.
    ScopedCwd cwd(dir);

    EXPECT_EQ(platform::LoadLibrary(Missing("libnothing_here")), nullptr);
    EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNotFound);
    EXPECT_EQ(platform::LoadLibrary((dir / Missing("libnothing_here")).string()), nullptr);
    EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNotFound);
    EXPECT_EQ(platform::LoadLibrary(""), nullptr);

    // A file that is there but is no library: found in the current folder,
    // refused by the loader.
    std::ofstream(dir / Missing("libnot_elf")) << "not a shared object\n";
    EXPECT_EQ(platform::LoadLibrary(Missing("libnot_elf")), nullptr);
    EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorBadFormat);
    EXPECT_FALSE(platform::LastLibraryErrorText().empty());
  }
  fs::remove_all(dir);
}

TEST(Library, CurrentDirectoryIsSearchedLast) {
  fs::path dir = MakeTempDir();
  ASSERT_FALSE(dir.empty());
  // A copy under a name that exists only in the current directory.
  fs::path exe_dir = platform::ExecutableDir();
  fs::copy_file(exe_dir / kSample, dir / Missing("libhostsample_copy"));
  {
    ScopedCwd cwd(dir);
    platform::LibraryHandle lib = platform::LoadLibrary(Missing("libhostsample_copy"));
    ASSERT_NE(lib, nullptr) << platform::LastLibraryErrorText();
    EXPECT_NE(platform::GetLibrarySymbol(lib, "SampleAnswer"), nullptr);
    platform::FreeLibrary(lib);
  }
  fs::remove_all(dir);
}

}  // namespace

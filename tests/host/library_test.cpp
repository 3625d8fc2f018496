// The library seam: search order, symbols of that library only, and the
// error numbers that the module loader logs.
#include "platform/library.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/identity.h"
#include "support/log_sandbox.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using platform::LibraryFileName;

// Built beside this test's executable by tests/host/CMakeLists.txt.
const std::string kSample = LibraryFileName("libhostsample");

TEST(Library, BareNameIsFoundBesideTheExecutable) {
  EXPECT_EQ(LibraryFileName("server_d_x64"),
            testsupport::OnWindows() ? "server_d_x64.dll" : "server_d_x64.so");
  platform::LibraryHandle lib = platform::LoadLibrary(kSample);
  ASSERT_NE(lib, nullptr) << platform::LastLibraryErrorText();
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNone);

  using AnswerFn = int (*)();
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

// The current folder is searched last: a copy under a name only it holds is
// found; missing and unloadable files have their own errors.
TEST(Library, CurrentFolderIsSearchedLastAndBadFilesHaveTheirOwnErrors) {
  testsupport::LogSandbox sandbox("libtest-");  // the current folder
  const fs::path dir = sandbox.dir();
  fs::copy_file(fs::path(platform::ExecutableDir()) / kSample,
                dir / LibraryFileName("libhostsample_copy"));
  std::ofstream(dir / LibraryFileName("libnot_elf")) << "not a shared object\n";

  platform::LibraryHandle lib = platform::LoadLibrary(LibraryFileName("libhostsample_copy"));
  EXPECT_NE(lib, nullptr) << platform::LastLibraryErrorText();
  EXPECT_NE(platform::GetLibrarySymbol(lib, "SampleAnswer"), nullptr);
  platform::FreeLibrary(lib);

  EXPECT_EQ(platform::LoadLibrary(LibraryFileName("libnothing_here")), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNotFound);
  EXPECT_EQ(platform::LoadLibrary((dir / LibraryFileName("libnothing_here")).string()), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNotFound);
  EXPECT_EQ(platform::LoadLibrary(""), nullptr);
  // There, but no library: found in the current folder, refused by the
  // loader.
  EXPECT_EQ(platform::LoadLibrary(LibraryFileName("libnot_elf")), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorBadFormat);
  EXPECT_FALSE(platform::LastLibraryErrorText().empty());
}

}  // namespace

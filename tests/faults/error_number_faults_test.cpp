// The log lines that carry the system's error number, driven by failing the
// call under them, on both systems: the number in the line is the one the
// failed call left (errno on POSIX, GetLastError on Windows), never a stale
// errno that a Win32 call does not set.

#include <filesystem>
#include <string>

#include "content/rezdownload.h"
#include "fault_test.h"
#include "logtestutil.h"
#include "platform/runtime.h"

namespace {

namespace fs = std::filesystem;

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

}  // namespace

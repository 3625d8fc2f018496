// The package download when its connection, its reads, its request or its
// temporary file fail: the reason and number reach the log, no package is
// taken for whole, and the next download works.

#include <cerrno>
#include <filesystem>
#include <string>

#include "content/rezdownload.h"
#include "content/uccdownload.h"
#include "content_test_support.h"
#include "fault_test.h"
#include "protocol/gameservermsg.h"

namespace {

using namespace contenttest;

constexpr int64_t kReason5 = 0x0007FFFA;  // map 7, low word -1 - 5

class DownloadFaultTest : public FaultTest<> {
 protected:
  DownloadFaultTest() : repo_(sandbox_.dir() / "repo"), served_(sandbox_.dir() / "served") {
    server_ = std::make_unique<ContentServer>(served_);
    WriteUccSetting(repo_.string(), server_->url());
    WriteFileOfSize(served_ / "pkg.rez", 40000);
  }

  int Download(uint32_t* error) { return DownloadRezFile("pkg.rez", kRezDownloadLimits, error); }

  Sandbox sandbox_;
  fs::path repo_;
  fs::path served_;
  std::unique_ptr<ContentServer> server_;
};

TEST_F(DownloadFaultTest, ConnectionRequestAndReadFailures) {
  FakeDialog dialog;
  CUccDownload ucc(dialog.Host());
  fault::Arm(Point::kHttpConnect, 1, 7);
  ucc.BeginUccMapLoad(MakeRecord(7, 1, 1, "pkg.rez"));
  EXPECT_TRUE(
      sandbox_.Has("[UCCLog] rez file download fail (HTTPERROR) reason : 2, filename : "
                   "pkg.rez, Error Number : 7"));
  ASSERT_EQ(dialog.posts.size(), 1u);
  EXPECT_EQ(dialog.posts[0].msgID, GAMESERVERMSG_LOADING_COMPLETE);
  EXPECT_EQ(dialog.posts[0].lParam, kReason5);
  EXPECT_TRUE(TempFiles(repo_).empty());  // no answer, no temporary file

  uint32_t error = 0;
  fault::Arm(Point::kHttpWrite, 1, 55);
  EXPECT_EQ(Download(&error), REZ_DOWNLOAD_OPEN_FAILED);
  EXPECT_EQ(error, 55u);

  fault::Arm(Point::kHttpRead, 1, 56);
  EXPECT_EQ(Download(&error), REZ_DOWNLOAD_READ_FAILED);
  EXPECT_EQ(error, 56u);
  EXPECT_TRUE(sandbox_.Has("[ucclog] UCC file Write Error Number : 56)"));
  EXPECT_FALSE(fs::exists(repo_ / "pkg.rez")) << "a broken transfer must not become the package";

  // A read failing after part of the body arrived: still not a package.
  fault::Arm(Point::kHttpRead, fault::Calls(Point::kHttpRead) + 2, 56);
  EXPECT_EQ(Download(&error), REZ_DOWNLOAD_READ_FAILED);
  EXPECT_FALSE(fs::exists(repo_ / "pkg.rez"));

  fault::Reset();
  EXPECT_EQ(Download(&error), REZ_DOWNLOAD_OK);
  EXPECT_EQ(ReadFile(repo_ / "pkg.rez"), ReadFile(served_ / "pkg.rez"));
}

TEST_F(DownloadFaultTest, TemporaryFileFailures) {
  uint32_t error = 0;
  // A full disk midway: the package is not taken for whole.
  fault::Arm(Point::kFileWrite, 2, ENOSPC);
  EXPECT_EQ(Download(&error), REZ_DOWNLOAD_READ_FAILED);
  EXPECT_EQ(error, static_cast<uint32_t>(ENOSPC));
  EXPECT_TRUE(sandbox_.Has("[ucclog] UCC file Write Error Number : 28)"));
  EXPECT_FALSE(fs::exists(repo_ / "pkg.rez"));

  // The repository folder cannot be made: the temporary file cannot be
  // created in it, which is the short-package answer with the open's number.
  fault::Reset();
  fault::Arm(Point::kMkdir, 1, EACCES, true);
  fs::remove_all(repo_);
  EXPECT_EQ(Download(&error), REZ_DOWNLOAD_TOO_SHORT);
  EXPECT_EQ(error, static_cast<uint32_t>(ENOENT));
  EXPECT_FALSE(fs::exists(repo_));

  // The temporary file's own open: the last open of a download.
  fault::Reset();
  fault::StartCounting();
  fs::remove_all(repo_);
  ASSERT_EQ(Download(&error), REZ_DOWNLOAD_OK);
  const uint64_t opens = fault::Calls(Point::kFileOpen);
  fs::remove(repo_ / "pkg.rez");
  fault::Arm(Point::kFileOpen, 2 * opens, EACCES);
  EXPECT_EQ(Download(&error), REZ_DOWNLOAD_TOO_SHORT);
  EXPECT_EQ(error, static_cast<uint32_t>(EACCES));
  EXPECT_FALSE(fs::exists(repo_ / "pkg.rez"));

  fault::Reset();
  EXPECT_EQ(Download(&error), REZ_DOWNLOAD_OK);
  EXPECT_EQ(ReadFile(repo_ / "pkg.rez"), ReadFile(served_ / "pkg.rez"));
}

}  // namespace

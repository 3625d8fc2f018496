// The crash-report client and the package download over failed calls: the
// error names the step and the number, nothing half-done is taken for
// whole, and the next upload or download works.
#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>

#include "content/rezdownload.h"
#include "content/uccdownload.h"
#include "content_test_support.h"
#include "crash_service.h"
#include "crs/crs_client.h"
#include "crs_test_support.h"
#include "dev_server.h"
#include "fault_test.h"

namespace {

class CrsFaultTest : public FaultTest<> {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    service_ = std::make_unique<devhttp::CrashService>("/crs/", tmp_.path() / "store");
    service_->Register(server_.server());
    port_ = server_.Start("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    std::filesystem::create_directories(tmp_.path() / "bin");
    std::filesystem::create_directories(tmp_.path() / "etc");
    crs_test::WriteWhole(tmp_.path() / "bin" / "CRS.ini", "[CRS]\r\nURL=" + Url() + "\r\n");
    crs::ClientEnvironment environment;
    environment.executable_path = (tmp_.path() / "bin" / "ServerApp.exe").string();
    environment.computer_name = "HOST";
    environment.system_config_folder = (tmp_.path() / "etc").string();
    environment.process_id = 4242;
    client_ = std::make_unique<crs::Client>(environment);
    ASSERT_TRUE(client_->Init("/log/quellmark/ServerApp", "7_3")) << client_->GetLastErrorText();
    dump_ = (tmp_.path() / "d.dmp").string();
    crs_test::WriteWhole(dump_, std::string(10000, 'd'));
  }
  void TearDown() override {
    server_.Stop();
    FaultTest::TearDown();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/crs/"; }

  crs_test::TempFolder tmp_;
  // The server is declared after the service so that it stops first: its
  // threads may still be storing an upload into the service.
  std::unique_ptr<devhttp::CrashService> service_;
  devhttp::DevServer server_;
  int port_ = 0;
  std::unique_ptr<crs::Client> client_;
  std::string dump_;
};

TEST_F(CrsFaultTest, EveryStepNamesItsFailure) {
  struct Case {
    Point point;
    std::uint64_t nth;
    int error;
    std::string text;
  };
  const Case cases[] = {
      {Point::kHttpConnect, 1, ECONNREFUSED, "LOG WinHttpSendRequest[111] URL="},
      {Point::kHttpWrite, 1, EPIPE, "LOG WinHttpSendRequest[32] URL="},
      {Point::kHttpWrite, 2, ECONNRESET, "LOG WinHttpWriteData[104] URL="},
      {Point::kHttpRead, 1, ETIMEDOUT, "LOG WinHttpReceiveResponse[110] URL="},
      {Point::kHttpConnect, 2, ECONNREFUSED, "DMP WinHttpSendRequest[111] URL="},
      {Point::kHttpWrite, 4, EPIPE, "DMP WinHttpWriteData[32] URL="},
      {Point::kHttpRead, 2, ETIMEDOUT, "DMP WinHttpReceiveResponse[110] URL="},
      {Point::kFileOpen, 1, EACCES, "DMP CreateFile READ[13] URL="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    fault::Reset();
    fault::Arm(c.point, c.nth, c.error);
    EXPECT_FALSE(client_->Upload(dump_.c_str(), "text"));
    EXPECT_EQ(client_->GetLastErrorText(), c.text + Url());
    // A text part that failed ends the upload: the dump is not sent.
    if (c.text.rfind("LOG", 0) == 0) {
      for (const auto& object : service_->Objects()) EXPECT_NE(object.name, "d.dmp");
    }
  }
  fault::Reset();
  ASSERT_TRUE(client_->Upload(dump_.c_str(), "text")) << client_->GetLastErrorText();
  auto objects = service_->Objects();
  ASSERT_GE(objects.size(), 2u);
  EXPECT_EQ(objects.back().name, "d.dmp");
  EXPECT_EQ(crs_test::ReadFile(service_->folder() / objects.back().name), std::string(10000, 'd'));
}

using namespace contenttest;

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
  EXPECT_EQ(dialog.posts.size(), 1u);     // reason 5, as for every failed download
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

  // No repository folder, no temporary file: the short-package answer.
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

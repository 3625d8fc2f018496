// The crash-report client over WinHTTP (run under Wine) against the build
// machine's development crash-report service: both parts stored whole, the
// failure texts of a refused connection and of each failing WinHTTP step
// (through the fault hooks), and the Windows spelling of the program path.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "crs/crs_client.h"
#include "platform/fault_injection.h"
#include "wine_host.h"

namespace {

namespace fs = std::filesystem;
using platform::fault::Point;
using wine_test::ReadWhole;
using wine_test::WriteWhole;

class ClientWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    // Calls made before a point is armed count towards its nth call.
    platform::fault::Reset();
    std::string why;
    if (!service_.Start(&why)) GTEST_SKIP() << why;
    dump_ = folder_.dos() / "x.dmp";
    body_.resize(100000);  // several 4092-byte chunks
    for (size_t i = 0; i < body_.size(); ++i) body_[i] = static_cast<char>(i * 7);
    WriteWhole(dump_, body_);
  }
  void TearDown() override { platform::fault::Reset(); }

  // A client whose program lies in the shared folder (Windows path with
  // backslashes), next to a CRS.ini naming url.
  std::unique_ptr<crs::Client> MakeClient(const std::string& url) {
    const fs::path bin = folder_.dos() / "bin";
    WriteWhole(bin / "CRS.ini", "[CRS]\r\nURL=" + url + "\r\n");
    crs::ClientEnvironment env;
    env.executable_path = (bin / "ServerApp.exe").string();
    env.computer_name = "HOST";
    env.system_config_folder = (folder_.dos() / "nowhere").string();
    env.process_id = 4242;
    auto client = std::make_unique<crs::Client>(env);
    EXPECT_TRUE(client->Init("C:/log/quellmark/ServerApp", "7_3")) << client->GetLastErrorText();
    return client;
  }

  wine_test::SharedFolder folder_;
  wine_test::HostDevHttp service_{folder_};
  fs::path dump_;
  std::string body_;
};

TEST_F(ClientWin32Test, UploadStoresTextAndDumpWhole) {
  auto client = MakeClient(service_.Url("/crs/sub"));
  EXPECT_STREQ("ServerApp_HOST", client->report_name_prefix());
  ASSERT_TRUE(client->Upload(dump_.string().c_str(), "line\r\n")) << client->GetLastErrorText();
  const fs::path stored = service_.CrashStore() / "sub" / "x.dmp";
  EXPECT_TRUE(ReadWhole(stored) == body_);
  EXPECT_NE(std::string::npos, ReadWhole(stored.string() + ".headers").find("2112"));
  bool text_found = false;
  for (const fs::path& p : wine_test::FindFiles(service_.CrashStore() / "sub", "_4242_crs.log")) {
    if (p.extension() == ".log") {
      text_found = true;
      EXPECT_EQ("line\r\n", ReadWhole(p));
      EXPECT_EQ(0u, p.filename().string().rfind("ServerApp_HOST_", 0)) << p;
    }
  }
  EXPECT_TRUE(text_found);
}

TEST_F(ClientWin32Test, FailuresNameTheStepAndTheUrl) {
  const int port = wine_test::FreePort();
  ASSERT_GT(port, 0);
  const std::string closed = "http://127.0.0.1:" + std::to_string(port) + "/crs/";
  auto refused = MakeClient(closed);
  EXPECT_FALSE(refused->Upload(dump_.string().c_str(), "t"));
  EXPECT_EQ("LOG WinHttpSendRequest[12029] URL=" + closed, refused->GetLastErrorText());

  auto client = MakeClient(service_.Url("/crs/"));
  const std::string url = service_.Url("/crs/");
  platform::fault::Reset();
  platform::fault::Arm(Point::kHttpConnect, 1, 12007);
  EXPECT_FALSE(client->Upload(dump_.string().c_str(), "t"));
  EXPECT_EQ("LOG WinHttpSendRequest[12007] URL=" + url, client->GetLastErrorText());

  platform::fault::Reset();
  platform::fault::Arm(Point::kHttpWrite, 2, 12030);  // the dump's first chunk
  EXPECT_FALSE(client->Upload(dump_.string().c_str(), "t"));
  EXPECT_EQ("DMP WinHttpWriteData[12030] URL=" + url, client->GetLastErrorText());

  platform::fault::Reset();
  platform::fault::Arm(Point::kHttpRead, 1, 12002);
  EXPECT_FALSE(client->Upload(dump_.string().c_str(), "t"));
  EXPECT_EQ("LOG WinHttpReceiveResponse[12002] URL=" + url, client->GetLastErrorText());

  platform::fault::Reset();
  ASSERT_EQ(200, service_.Control("/_control/crs?status=204"));
  EXPECT_FALSE(client->Upload(dump_.string().c_str(), ""));
  EXPECT_EQ("DMP HTTP[204] URL=" + url, client->GetLastErrorText());
}

}  // namespace

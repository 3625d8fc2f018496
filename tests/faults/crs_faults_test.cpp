// The crash-report client when the connection, the writes or the answer
// fail: the error text names the step and the number, and the next upload
// goes through.

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>

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

}  // namespace

// The crash-report client over WinHTTP (run under Wine) against the build
// machine's development crash-report service: both parts stored whole under
// an escaped name, one session per upload, the failure texts of a refused
// connection and of each failing WinHTTP step (through the fault hooks), the
// stack text's line for a symbol handler that cannot start, and the Windows
// spelling of the program path.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "crs/crs_client.h"
#include "platform/fault_injection.h"
#include "wine_host.h"
// After the test's own headers: the exception records of the stack text.
#include <windows.h>

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
  // A dump name starts with "[2112]": WinHTTP sends it escaped, which the
  // service's strict mode insists on.
  ASSERT_EQ(200, service_.Control("/_control/crs?strict_paths=1"));
  const fs::path dump = folder_.dos() / "[2112]x.dmp";
  WriteWhole(dump, body_);
  platform::fault::StartCounting();
  ASSERT_TRUE(client->Upload(dump.string().c_str(), "line\r\n")) << client->GetLastErrorText();
  // One session and one connection for both parts: open, connect, then an
  // open request and a send per part.
  EXPECT_EQ(6u, platform::fault::Calls(Point::kHttpConnect));
  const fs::path stored = service_.CrashStore() / "sub" / "[2112]x.dmp";
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
  // The calls of an upload with a text, in order: open, connect, then per
  // part open request, send, write(s), receive, query.
  const struct {
    Point point;
    int nth;
    int error;
    const char* message;
  } rows[] = {
      {Point::kHttpConnect, 1, 8, "WinHttpOpen[8] URL="},
      {Point::kHttpConnect, 2, 12005, "WinHttpConnect[12005] URL="},
      {Point::kHttpConnect, 3, 12005, "LOG WinHttpOpenRequest[12005] URL="},
      {Point::kHttpConnect, 4, 12007, "LOG WinHttpSendRequest[12007] URL="},
      {Point::kHttpRead, 1, 12002, "LOG WinHttpReceiveResponse[12002] URL="},
      {Point::kHttpRead, 2, 12019, "LOG WinHttpQueryHeaders[12019] URL="},
      {Point::kHttpConnect, 5, 12005, "DMP WinHttpOpenRequest[12005] URL="},
      {Point::kHttpWrite, 2, 12030, "DMP WinHttpWriteData[12030] URL="},
      {Point::kHttpRead, 4, 12019, "DMP WinHttpQueryHeaders[12019] URL="},
  };
  for (const auto& row : rows) {
    platform::fault::Reset();
    platform::fault::Arm(row.point, static_cast<uint64_t>(row.nth), row.error);
    EXPECT_FALSE(client->Upload(dump_.string().c_str(), "t")) << row.message;
    EXPECT_EQ(row.message + url, client->GetLastErrorText());
  }

  platform::fault::Reset();
  ASSERT_EQ(200, service_.Control("/_control/crs?status=204"));
  EXPECT_FALSE(client->Upload(dump_.string().c_str(), ""));
  EXPECT_EQ("DMP HTTP[204] URL=" + url, client->GetLastErrorText());
}

TEST_F(ClientWin32Test, StackTextSaysWhenTheSymbolHandlerCannotStart) {
  auto client = MakeClient(service_.Url("/crs/"));
  CONTEXT context{};
  RtlCaptureContext(&context);
  EXCEPTION_RECORD record{};
  record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  EXCEPTION_POINTERS pointers{&record, &context};
  platform::CrashInfo info{};
  info.code = record.ExceptionCode;
  info.pc = context.Rip;
  info.sp = context.Rsp;
  info.fp = context.Rbp;
  info.native = &pointers;

  char walked[crs::kExceptionTextSize] = {};
  client->BuildExceptionText(&info, walked);
  EXPECT_NE(nullptr, std::strstr(walked, "\r\n 0 0x")) << walked;
  EXPECT_EQ(nullptr, std::strstr(walked, "SymInitialize")) << walked;

  platform::fault::Arm(Point::kLibrarySymbol, 1, 87);
  char text[crs::kExceptionTextSize] = {};
  client->BuildExceptionText(&info, text);
  const std::string s = text;
  EXPECT_EQ(0u, s.find("# Exception Infomation\r\n# DATESTAMP=")) << s;
  // The line, and no frame after it.
  const std::string tail = "# ExceptionCode=0xC0000005\r\n# SymInitialize FAIL[87]\r\n";
  ASSERT_GE(s.size(), tail.size()) << s;
  EXPECT_EQ(tail, s.substr(s.size() - tail.size())) << s;
}

}  // namespace

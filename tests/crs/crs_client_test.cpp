// crs::Client against the development crash-report service, in-process.
#include "crs/crs_client.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>

#include "crash_service.h"
#include "crs_test_support.h"
#include "dev_server.h"
#include "platform/crash_upload.h"

namespace {

using crs_test::ReadWhole;
using crs_test::TempFolder;
using crs_test::WriteWhole;

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_ = std::make_unique<devhttp::CrashService>("/crs/", tmp_.path() / "store");
    service_->Register(server_.server());
    port_ = server_.Start("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
    environment_.executable_path = (tmp_.path() / "bin" / "ServerApp.exe").string();
    environment_.computer_name = "HOST";
    environment_.system_config_folder = (tmp_.path() / "etc").string();
    environment_.process_id = 4242;
    std::filesystem::create_directories(tmp_.path() / "bin");
    std::filesystem::create_directories(tmp_.path() / "etc");
  }
  void TearDown() override {
    service_->ReleaseStalls();
    server_.Stop();
    platform::SetHttpTimeouts(3000, 5000);
  }

  std::string ServiceUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  void WriteIni(const std::string& folder, const std::string& content) {
    WriteWhole(tmp_.path() / folder / "CRS.ini", content);
  }
  std::unique_ptr<crs::Client> MakeClient(const std::string& url) {
    WriteIni("bin", "[CRS]\r\nURL=" + url + "\r\n");
    auto client = std::make_unique<crs::Client>(environment_);
    EXPECT_TRUE(client->Init("/log/quellmark/ServerApp", "7_3")) << client->GetLastErrorText();
    return client;
  }
  std::string MakeDump(const std::string& name, size_t size) {
    std::string bytes;
    for (size_t i = 0; i < size; ++i) bytes.push_back(static_cast<char>(i * 7 + 3));
    std::filesystem::path path = tmp_.path() / "dumps" / name;
    WriteWhole(path, bytes);
    return path.string();
  }

  TempFolder tmp_;
  std::unique_ptr<devhttp::CrashService> service_;
  // Declared after the service so that it is destroyed first: its thread
  // may still be handling an upload, which must not reach a freed service.
  devhttp::DevServer server_;
  int port_ = 0;
  crs::ClientEnvironment environment_;
};

TEST_F(ClientTest, WithoutUrlTheClientStaysDisabled) {
  crs::Client client(environment_);
  EXPECT_FALSE(client.Init("/out", "7_3"));
  EXPECT_STREQ("empty url", client.GetLastErrorText());
  EXPECT_TRUE(client.IsDisabled());
  EXPECT_STREQ("", client.GetUrl());

  char text[crs::kExceptionTextSize] = {};
  client.BuildExceptionText(nullptr, text);
  EXPECT_STREQ("", text);
  std::string dump = MakeDump("a.dmp", 10);
  EXPECT_FALSE(client.Upload(dump.c_str(), "text"));
  EXPECT_STREQ("disabled URL=", client.GetLastErrorText());
  EXPECT_TRUE(service_->Objects().empty());

  // A CRS.ini without the key counts as none.
  WriteIni("bin", "[CRS]\nOther=1\n");
  crs::Client keyless(environment_);
  EXPECT_FALSE(keyless.Init("/out", "7_3"));
  EXPECT_STREQ("empty url", keyless.GetLastErrorText());
}

TEST_F(ClientTest, InitChecksFolderAndUrlAndPrefersTheExecutablesIni) {
  WriteIni("etc", "[CRS]\nURL=http://system-host/up\n");
  crs::Client fallback(environment_);
  EXPECT_TRUE(fallback.Init("/out", "7_3"));
  EXPECT_STREQ("http://system-host/up", fallback.GetUrl());

  WriteIni("bin", "[crs]\nurl = http://own-host/up\n");
  crs::Client own(environment_);
  EXPECT_TRUE(own.Init("/out", "7_3"));
  EXPECT_STREQ("http://own-host/up", own.GetUrl());
  EXPECT_FALSE(own.IsDisabled());

  crs::Client no_folder(environment_);
  EXPECT_FALSE(no_folder.Init("", "7_3"));
  EXPECT_STREQ("output_dir is empty URL=", no_folder.GetLastErrorText());
  EXPECT_TRUE(no_folder.IsDisabled());

  WriteIni("bin", "[CRS]\nURL=ftp://files/up\n");
  crs::Client bad(environment_);
  EXPECT_FALSE(bad.Init("/out", "7_3"));
  EXPECT_STREQ("invalid url[12006] URL=ftp://files/up", bad.GetLastErrorText());
  EXPECT_TRUE(bad.IsDisabled());
  std::string dump = MakeDump("b.dmp", 10);
  EXPECT_FALSE(bad.Upload(dump.c_str(), "x"));
  EXPECT_STREQ("disabled URL=ftp://files/up", bad.GetLastErrorText());

  // Messages are cut at 127 characters.
  std::string long_url = "ftp://" + std::string(200, 'h');
  WriteIni("bin", "[CRS]\nURL=" + long_url + "\n");
  crs::Client cut(environment_);
  EXPECT_FALSE(cut.Init("/out", "7_3"));
  std::string full = "invalid url[12006] URL=" + long_url;
  EXPECT_EQ(full.substr(0, 127), cut.GetLastErrorText());
}

TEST_F(ClientTest, NamePrefixAndVersionHeader) {
  auto client = MakeClient(ServiceUrl("/crs/"));
  EXPECT_STREQ("ServerApp_HOST", client->report_name_prefix());
  EXPECT_STREQ("version:2112", client->version_header());

  environment_.executable_path = (tmp_.path() / "bin" / "room.host.bin").string();
  environment_.computer_name = "";
  EXPECT_STREQ("room.host_unknwon", MakeClient(ServiceUrl("/crs/"))->report_name_prefix());
  // Longer than the 15 characters the system call's buffer holds.
  environment_.computer_name = "ABCDEFGHIJKLMNOP";
  EXPECT_STREQ("room.host_unknwon", MakeClient(ServiceUrl("/crs/"))->report_name_prefix());
  environment_.computer_name = "ABCDEFGHIJKLMNO";
  EXPECT_STREQ("room.host_ABCDEFGHIJKLMNO", MakeClient(ServiceUrl("/crs/"))->report_name_prefix());

  environment_.build_number = 0;
  auto unversioned = MakeClient(ServiceUrl("/crs/"));
  EXPECT_STREQ("", unversioned->version_header());
  std::string dump = MakeDump("plain.dmp", 5);
  ASSERT_TRUE(unversioned->Upload(dump.c_str(), ""));
  ASSERT_EQ(1u, service_->Objects().size());
  EXPECT_EQ("", service_->Objects()[0].version);
}

TEST_F(ClientTest, UploadPutsTheTextAndThenTheDump) {
  auto client = MakeClient(ServiceUrl("/crs/"));
  // Dump names start with "[2112]": the path must go out escaped.
  service_->SetStrictPaths(true);
  // Larger than and not a multiple of the 4092-byte chunk.
  std::string dump = MakeDump("[2112]dmp_ServerApp_HOST_20211202-185906123.dmp", 3 * 4092 + 17);
  const char* text = "# Exception Infomation\r\nline two\r\n";
  ASSERT_TRUE(client->Upload(dump.c_str(), text)) << client->GetLastErrorText();

  auto objects = service_->Objects();
  ASSERT_EQ(2u, objects.size());
  EXPECT_TRUE(std::regex_match(objects[0].name,
                               std::regex("ServerApp_HOST_[0-9]{8}-[0-9]{9}_4242_crs\\.log")))
      << objects[0].name;
  EXPECT_EQ(text, ReadWhole(service_->folder() / objects[0].name));
  EXPECT_EQ("[2112]dmp_ServerApp_HOST_20211202-185906123.dmp", objects[1].name);
  EXPECT_EQ(ReadWhole(dump), ReadWhole(service_->folder() / objects[1].name));
  for (const auto& o : objects) {
    EXPECT_EQ("2112", o.version);
    EXPECT_NE(std::string::npos, o.headers.find("User-Agent: Olvenna CRS"));
  }
  EXPECT_TRUE(std::filesystem::exists(dump));  // the dump stays where it is

  // An empty text sends the dump only.
  ASSERT_TRUE(client->Upload(dump.c_str(), ""));
  EXPECT_EQ(3u, service_->Objects().size());
}

TEST_F(ClientTest, RequestPathsWithOrWithoutTrailingSlashAndWithoutPath) {
  std::string dump = MakeDump("d.dmp", 3);
  ASSERT_TRUE(MakeClient(ServiceUrl("/crs"))->Upload(dump.c_str(), ""));
  ASSERT_TRUE(MakeClient(ServiceUrl("/crs/"))->Upload(dump.c_str(), ""));
  auto objects = service_->Objects();
  ASSERT_EQ(2u, objects.size());
  EXPECT_EQ("d.dmp", objects[0].name);
  EXPECT_EQ("d.dmp", objects[1].name);

  devhttp::DevServer root_server;
  devhttp::CrashService root("/", tmp_.path() / "root");
  root.Register(root_server.server());
  int port = root_server.Start("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  ASSERT_TRUE(MakeClient("http://127.0.0.1:" + std::to_string(port))->Upload(dump.c_str(), ""));
  ASSERT_EQ(1u, root.Objects().size());
  EXPECT_EQ("d.dmp", root.Objects()[0].name);
}

TEST_F(ClientTest, OnlyStatus200Succeeds) {
  auto client = MakeClient(ServiceUrl("/crs/"));
  std::string dump = MakeDump("s.dmp", 100);
  service_->SetStatus(201);
  EXPECT_FALSE(client->Upload(dump.c_str(), "text"));
  EXPECT_EQ("LOG HTTP[201] URL=" + ServiceUrl("/crs/"), client->GetLastErrorText());
  EXPECT_EQ(1u, service_->Objects().size());  // a failed text part ends the upload

  service_->SetStatus(204);
  EXPECT_FALSE(client->Upload(dump.c_str(), ""));
  EXPECT_EQ("DMP HTTP[204] URL=" + ServiceUrl("/crs/"), client->GetLastErrorText());

  service_->SetStatus(500);
  EXPECT_FALSE(client->Upload(dump.c_str(), "t"));
  EXPECT_EQ("LOG HTTP[500] URL=" + ServiceUrl("/crs/"), client->GetLastErrorText());
}

TEST_F(ClientTest, BadDumpPathsFailBeforeConnecting) {
  auto client = MakeClient(ServiceUrl("/crs/"));
  std::string missing = (tmp_.path() / "nowhere.dmp").string();
  EXPECT_FALSE(client->Upload(missing.c_str(), "text"));
  EXPECT_EQ("exists not path=" + missing, client->GetLastErrorText());
  EXPECT_FALSE(client->Upload("", "text"));
  EXPECT_STREQ("unknown path=", client->GetLastErrorText());
  EXPECT_FALSE(client->Upload(nullptr, "text"));
  EXPECT_STREQ("unknown path=", client->GetLastErrorText());
  // A folder is not a dump.
  EXPECT_FALSE(client->Upload(tmp_.path().c_str(), "text"));
  EXPECT_EQ("exists not path=" + tmp_.path().string(), client->GetLastErrorText());
  EXPECT_TRUE(service_->Objects().empty());
}

TEST_F(ClientTest, DeadStalledAndUnknownServicesFailWithTheirStep) {
  std::string dump = MakeDump("x.dmp", 10);

  // A port nobody listens on any more.
  devhttp::DevServer gone;
  int dead_port = gone.Start("127.0.0.1", 0);
  gone.Stop();
  std::string dead_url = "http://127.0.0.1:" + std::to_string(dead_port) + "/crs/";
  auto dead = MakeClient(dead_url);
  EXPECT_FALSE(dead->Upload(dump.c_str(), "text"));
  EXPECT_EQ("LOG WinHttpSendRequest[111] URL=" + dead_url, dead->GetLastErrorText());

  // A service that takes the request and never answers: the receive
  // time-out ends the wait (EAGAIN reported as ETIMEDOUT, 110).
  platform::SetHttpTimeouts(1000, 300);
  service_->SetStallMilliseconds(20000);
  auto stalled = MakeClient(ServiceUrl("/crs/"));
  EXPECT_FALSE(stalled->Upload(dump.c_str(), "text"));
  EXPECT_EQ("LOG WinHttpReceiveResponse[110] URL=" + ServiceUrl("/crs/"),
            stalled->GetLastErrorText());
  service_->ReleaseStalls();

  WriteIni("bin", "[CRS]\nURL=http://no-such-host.invalid/crs/\n");
  crs::Client unknown(environment_);
  ASSERT_TRUE(unknown.Init("/out", "7_3"));  // the split succeeded
  EXPECT_FALSE(unknown.Upload(dump.c_str(), "text"));
  EXPECT_TRUE(std::regex_match(unknown.GetLastErrorText(),
                               std::regex("WinHttpConnect\\[[1-9][0-9]*\\] URL=http://"
                                          "no-such-host\\.invalid/crs/")))
      << unknown.GetLastErrorText();
}

// The frame of this function, as a fault here would report it.
__attribute__((noinline)) platform::CrashInfo InfoOfThisFrame() {
  platform::CrashInfo info{};
  info.code = 11;
  info.pc = reinterpret_cast<uint64_t>(&InfoOfThisFrame);
  info.fp = reinterpret_cast<uint64_t>(__builtin_frame_address(0));
  info.sp = info.fp;
  return info;
}

TEST_F(ClientTest, ExceptionTextHasItsLinesAndStaysWithin2047Characters) {
  auto client = MakeClient(ServiceUrl("/crs/"));
  char text[crs::kExceptionTextSize] = {};
  client->BuildExceptionText(nullptr, text);
  EXPECT_STREQ("# Exception Infomation : EXCEPTION_POINTERS is NULL\r\n", text);

  platform::CrashInfo info = InfoOfThisFrame();
  char stack[crs::kExceptionTextSize] = {};
  client->BuildExceptionText(&info, stack);
  std::string s = stack;
  char address[64];
  std::snprintf(address, sizeof(address), "# Address=0x%016llX\r\n",
                static_cast<unsigned long long>(info.pc));
  EXPECT_EQ(0u, s.find("# Exception Infomation\r\n# DATESTAMP=")) << s;
  EXPECT_NE(std::string::npos, s.find(address)) << s;
  EXPECT_NE(std::string::npos, s.find("# ExceptionCode=0xB\r\n")) << s;
  // Frame 0 lies in this test program; at most 10 frames.
  EXPECT_TRUE(std::regex_search(
      s,
      std::regex(
          " 0 0x[0-9A-F]{8} 0x[0-9A-F]{8} 0x[0-9A-F]{8} \\(crs_client_test\\+0x[0-9A-F]+\\)\r\n")))
      << s;
  EXPECT_FALSE(std::regex_search(s, std::regex("\n10 0x"))) << s;

  // The line end is appended only where it fits with the terminator.
  const std::string line = "# Exception Infomation : EXCEPTION_POINTERS is NULL";  // 51
  for (size_t prefill : {1994u, 1995u, 2000u, 2047u}) {
    char bounded[crs::kExceptionTextSize] = {};
    std::memset(bounded, 'x', prefill);
    client->BuildExceptionText(nullptr, bounded);
    std::string b = bounded;
    std::string expected = std::string(prefill, 'x') + line;
    if (expected.size() > 2047) expected.resize(2047);
    if (expected.size() + 3 <= 2048) expected += "\r\n";
    EXPECT_EQ(expected, b) << "prefill " << prefill;
    EXPECT_LE(b.size(), 2047u);
  }
}

}  // namespace

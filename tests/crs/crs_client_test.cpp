// crs::Client against the development crash-report service: the settings it
// starts from, both parts stored whole under an escaped name, the failure
// texts of each step, and the stack text; the URL's split and the crash
// path's formatter it builds on.
#include "crs/crs_client.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>

#include "crs/crs_url.h"
#include "crs/safe_format.h"
#include "crs_test_support.h"
#include "platform/crash_upload.h"
#include "platform/fault_injection.h"
#include "support/content_server.h"
#ifdef _WIN32
#include <windows.h>  // the exception records of the stack text
#endif

namespace {

namespace fs = std::filesystem;
using crs_test::ReadFile;
using crs_test::WriteWhole;
using platform::fault::Point;

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Calls made before a point is armed count towards its nth call.
    platform::fault::Reset();
    std::string why;
    if (!service_.Start(&why)) GTEST_SKIP() << why;
    environment_.executable_path = (tmp_.path() / "bin" / "ServerApp.exe").string();
    environment_.computer_name = "HOST";
    environment_.system_config_folder = (tmp_.path() / "etc").string();
    environment_.process_id = 4242;
    fs::create_directories(tmp_.path() / "bin");
    fs::create_directories(tmp_.path() / "etc");
  }
  void TearDown() override {
    platform::fault::Reset();
    service_.Stop();
    platform::SetHttpTimeouts(3000, 5000);
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
    const fs::path path = tmp_.path() / "dumps" / name;
    WriteWhole(path, bytes);
    return path.string();
  }

  crs_test::TempFolder tmp_;
  testsupport::ContentServer service_;
  crs::ClientEnvironment environment_;
};

// Init reads CRS.ini beside the program, else the system's; a client that
// did not start stays disabled and says so, in at most 127 characters.
TEST_F(ClientTest, InitChecksFolderAndUrlAndPrefersTheExecutablesIni) {
  const std::string long_url = "ftp://" + std::string(200, 'h');
  const struct {
    std::string bin_ini;  // "": none
    std::string etc_ini;
    const char* folder;
    const char* url;  // "" when Init fails
    std::string error;
  } rows[] = {
      {"[CRS]\nOther=1\n", "", "/out", "", "empty url"},
      {"", "[CRS]\nURL=http://system-host/up\n", "/out", "http://system-host/up", ""},
      {"[crs]\nurl = http://own-host/up\n", "[CRS]\nURL=http://system-host/up\n", "/out",
       "http://own-host/up", ""},
      {"[CRS]\nURL=http://own-host/up\n", "", "", "", "output_dir is empty URL="},
      {"[CRS]\nURL=ftp://files/up\n", "", "/out", "", "invalid url[12006] URL=ftp://files/up"},
      {"[CRS]\nURL=" + long_url + "\n", "", "/out", "",
       ("invalid url[12006] URL=" + long_url).substr(0, 127)},
  };
  const std::string dump = MakeDump("a.dmp", 10);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.error);
    fs::remove(tmp_.path() / "bin" / "CRS.ini");
    fs::remove(tmp_.path() / "etc" / "CRS.ini");
    if (!row.bin_ini.empty()) WriteIni("bin", row.bin_ini);
    if (!row.etc_ini.empty()) WriteIni("etc", row.etc_ini);
    crs::Client client(environment_);
    EXPECT_EQ(row.error.empty(), client.Init(row.folder, "7_3"));
    EXPECT_EQ(!row.error.empty(), client.IsDisabled());
    if (row.error.empty()) {
      EXPECT_STREQ(row.url, client.GetUrl());
      continue;
    }
    EXPECT_EQ(row.error, client.GetLastErrorText());
    char text[crs::kExceptionTextSize] = {};
    client.BuildExceptionText(nullptr, text);
    EXPECT_STREQ("", text);
    EXPECT_FALSE(client.Upload(dump.c_str(), "text"));
    EXPECT_EQ(("disabled URL=" + std::string(client.GetUrl())).substr(0, 127),
              client.GetLastErrorText());
  }
  EXPECT_TRUE(service_.Uploads().empty());
}

TEST_F(ClientTest, NamePrefixAndVersionHeader) {
  auto client = MakeClient(service_.CrashUrl());
  EXPECT_STREQ("ServerApp_HOST", client->report_name_prefix());
  EXPECT_STREQ("version:2112", client->version_header());

  environment_.executable_path = (tmp_.path() / "bin" / "room.host.bin").string();
  environment_.computer_name = "";
  EXPECT_STREQ("room.host_unknwon", MakeClient(service_.CrashUrl())->report_name_prefix());
  // Longer than the 15 characters the system call's buffer holds.
  environment_.computer_name = "ABCDEFGHIJKLMNOP";
  EXPECT_STREQ("room.host_unknwon", MakeClient(service_.CrashUrl())->report_name_prefix());
  environment_.computer_name = "ABCDEFGHIJKLMNO";
  EXPECT_STREQ("room.host_ABCDEFGHIJKLMNO", MakeClient(service_.CrashUrl())->report_name_prefix());

  environment_.build_number = 0;
  auto unversioned = MakeClient(service_.CrashUrl());
  EXPECT_STREQ("", unversioned->version_header());
  std::string dump = MakeDump("plain.dmp", 5);
  ASSERT_TRUE(unversioned->Upload(dump.c_str(), ""));
  ASSERT_EQ(1u, service_.Uploads().size());
  EXPECT_EQ("", service_.Uploads()[0].version);
}

TEST_F(ClientTest, UploadPutsTheTextAndThenTheDumpInOneSession) {
  auto client = MakeClient(service_.CrashUrl() + "sub");
  // Dump names start with "[2112]": the path must go out escaped.
  ASSERT_EQ(200, service_.Control("/_control/crs?strict_paths=1"));
  // Larger than and not a multiple of the 4092-byte chunk.
  const std::string name = "[2112]dmp_ServerApp_HOST_20211202-185906123.dmp";
  std::string dump = MakeDump(name, 3 * 4092 + 17);
  const char* text = "# Exception Infomation\r\nline two\r\n";
  platform::fault::StartCounting();
  ASSERT_TRUE(client->Upload(dump.c_str(), text)) << client->GetLastErrorText();
#ifdef _WIN32
  // One session and one connection for both parts: open, connect, then an
  // open request and a send per part.
  EXPECT_EQ(6u, platform::fault::Calls(Point::kHttpConnect));
#endif

  auto uploads = service_.Uploads();
  ASSERT_EQ(2u, uploads.size());
  EXPECT_TRUE(std::regex_match(uploads[0].name,
                               std::regex("sub/ServerApp_HOST_[0-9]{8}-[0-9]{9}_4242_crs\\.log")))
      << uploads[0].name;
  EXPECT_EQ(text, ReadFile(service_.CrashStore() / uploads[0].name));
  EXPECT_EQ("sub/" + name, uploads[1].name);
  EXPECT_TRUE(ReadFile(dump) == ReadFile(service_.CrashStore() / uploads[1].name));
  for (const auto& upload : uploads) {
    EXPECT_EQ("2112", upload.version);
    EXPECT_NE(std::string::npos, upload.headers.find("User-Agent: Olvenna CRS"));
  }
  EXPECT_TRUE(fs::exists(dump));  // the dump stays where it is

  // An empty text sends the dump only; with or without a trailing slash.
  const std::string url = service_.CrashUrl();
  for (const std::string& u : {url, url.substr(0, url.size() - 1)}) {
    fs::remove(service_.CrashStore() / name);
    ASSERT_TRUE(MakeClient(u)->Upload(dump.c_str(), "")) << u;
    EXPECT_TRUE(ReadFile(dump) == ReadFile(service_.CrashStore() / name)) << u;
  }
  EXPECT_EQ(1u, crs_test::FindFiles(service_.CrashStore(), "_crs.log").size() -
                    crs_test::FindFiles(service_.CrashStore(), "_crs.log.headers").size());
}

TEST_F(ClientTest, BadDumpPathsFailBeforeConnecting) {
  auto client = MakeClient(service_.CrashUrl());
  for (const std::string& path : {(tmp_.path() / "nowhere.dmp").string(), tmp_.path().string()}) {
    EXPECT_FALSE(client->Upload(path.c_str(), "text"));  // missing; a folder is not a dump
    EXPECT_EQ("exists not path=" + path, client->GetLastErrorText());
  }
  EXPECT_FALSE(client->Upload("", "text"));
  EXPECT_STREQ("unknown path=", client->GetLastErrorText());
  EXPECT_FALSE(client->Upload(nullptr, "text"));
  EXPECT_STREQ("unknown path=", client->GetLastErrorText());
  EXPECT_TRUE(service_.Uploads().empty());
}

// Refused, dead, stalled and unknown services: each failure names its step.
TEST_F(ClientTest, FailuresNameTheirStep) {
  std::string dump = MakeDump("x.dmp", 10);
  const std::string url = service_.CrashUrl();
  auto client = MakeClient(url);
  // Only status 200 counts; a failed text part ends the upload.
  ASSERT_EQ(200, service_.Control("/_control/crs?status=201"));
  EXPECT_FALSE(client->Upload(dump.c_str(), "text"));
  EXPECT_EQ("LOG HTTP[201] URL=" + url, client->GetLastErrorText());
  EXPECT_EQ(1u, service_.Uploads().size());
  ASSERT_EQ(200, service_.Control("/_control/crs?status=204"));
  EXPECT_FALSE(client->Upload(dump.c_str(), ""));
  EXPECT_EQ("DMP HTTP[204] URL=" + url, client->GetLastErrorText());
  ASSERT_EQ(200, service_.Control("/_control/crs?status=200"));

  testsupport::ContentServer gone;  // a port nobody listens on any more
  std::string why;
  ASSERT_TRUE(gone.Start(&why)) << why;
  const std::string dead_url = gone.CrashUrl();
  gone.Stop();
  auto dead = MakeClient(dead_url);
  EXPECT_FALSE(dead->Upload(dump.c_str(), "text"));
  EXPECT_EQ(BY_SYSTEM("LOG WinHttpSendRequest[111] URL=", "LOG WinHttpSendRequest[12029] URL=") +
                dead_url,
            dead->GetLastErrorText());

#ifndef _WIN32
  // A service that takes the request and never answers: the receive
  // time-out ends the wait (EAGAIN reported as ETIMEDOUT). Wine's WinHTTP
  // waits the stall out; the fault rows below give the Windows text.
  platform::SetHttpTimeouts(1000, 300);
  ASSERT_EQ(200, service_.Control("/_control/crs?stall_ms=20000"));
  EXPECT_FALSE(client->Upload(dump.c_str(), "text"));
  EXPECT_EQ("LOG WinHttpReceiveResponse[110] URL=" + url, client->GetLastErrorText());
  ASSERT_EQ(200, service_.Control("/_control/crs?stall_ms=0"));
  platform::SetHttpTimeouts(3000, 5000);
#endif

  WriteIni("bin", "[CRS]\nURL=http://no-such-host.invalid/crs/\n");
  crs::Client unknown(environment_);
  ASSERT_TRUE(unknown.Init("/out", "7_3"));  // the split succeeded
  EXPECT_FALSE(unknown.Upload(dump.c_str(), "text"));
  EXPECT_TRUE(std::regex_match(
      unknown.GetLastErrorText(),
      std::regex(BY_SYSTEM(
          "WinHttpConnect\\[[1-9][0-9]*\\]",
          "LOG WinHttpSendRequest\\[12007\\]") " URL=http://no-such-host\\.invalid/crs/")))
      << unknown.GetLastErrorText();

#ifdef _WIN32
  // Each failing WinHTTP call of an upload with a text, in order: open,
  // connect, then per part open request, send, write(s), receive, query.
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
    EXPECT_FALSE(client->Upload(dump.c_str(), "t")) << row.message;
    EXPECT_EQ(row.message + url, client->GetLastErrorText());
  }
#endif
}

// The frame of this function, as a fault here would report it.
__attribute__((noinline)) platform::CrashInfo InfoOfThisFrame() {
  platform::CrashInfo info{};
#ifdef _WIN32
  static CONTEXT context{};
  static EXCEPTION_RECORD record{};
  static EXCEPTION_POINTERS pointers{&record, &context};
  RtlCaptureContext(&context);
  record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  info.code = EXCEPTION_ACCESS_VIOLATION;
  info.pc = context.Rip;
  info.sp = context.Rsp;
  info.fp = context.Rbp;
  info.native = &pointers;
#else
  info.code = 11;
  info.pc = reinterpret_cast<uint64_t>(&InfoOfThisFrame);
  info.fp = reinterpret_cast<uint64_t>(__builtin_frame_address(0));
  info.sp = info.fp;
#endif
  return info;
}

TEST_F(ClientTest, ExceptionTextHasItsLinesAndStaysWithin2047Characters) {
  auto client = MakeClient(service_.CrashUrl());
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
  EXPECT_NE(std::string::npos,
            s.find(crs_test::ExceptionCodeLine(crs_test::Fault::kAccessViolation) + "\r\n"))
      << s;
  EXPECT_NE(std::string::npos, s.find("\r\n 0 0x")) << s;
  EXPECT_EQ(std::string::npos, s.find("SymInitialize")) << s;
#ifdef _WIN32
  // A symbol handler that cannot start: its line, and no frame after it.
  platform::fault::Arm(Point::kLibrarySymbol, 1, 87);
  char failed[crs::kExceptionTextSize] = {};
  client->BuildExceptionText(&info, failed);
  const std::string f = failed;
  const std::string tail = "# ExceptionCode=0xC0000005\r\n# SymInitialize FAIL[87]\r\n";
  ASSERT_GE(f.size(), tail.size()) << f;
  EXPECT_EQ(tail, f.substr(f.size() - tail.size())) << f;
#else
  // Frame 0 lies in this test program; at most 10 frames.
  EXPECT_TRUE(std::regex_search(
      s,
      std::regex(
          " 0 0x[0-9A-F]{8} 0x[0-9A-F]{8} 0x[0-9A-F]{8} \\(crs_client_test\\+0x[0-9A-F]+\\)\r\n")))
      << s;
  EXPECT_FALSE(std::regex_search(s, std::regex("\n10 0x"))) << s;
#endif

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

TEST(CrackUrl, SplitsHostPortAndPathWithQuery) {
  const struct {
    const char* text;
    const char* host;
    unsigned port;
    const char* path;
  } rows[] = {
      {"http://crs.example.com:8080/upload/dir/?k=v", "crs.example.com", 8080, "/upload/dir/?k=v"},
      {"HTTP://Host/path#frag", "Host", 80, "/path#frag"},
      // https names the port only: the client never speaks TLS.
      {"https://secure.example", "secure.example", 443, ""},
      {"http://user:pw@10.0.0.1:81?only=query", "10.0.0.1", 81, "?only=query"},
      {"http://[::1]:9000/x", "[::1]", 9000, "/x"},
  };
  for (const auto& row : rows) {
    crs::Url url;
    EXPECT_EQ(0u, crs::CrackUrl(row.text, &url)) << row.text;
    EXPECT_STREQ(row.host, url.host) << row.text;
    EXPECT_EQ(row.port, url.port) << row.text;
    EXPECT_STREQ(row.path, url.path) << row.text;
  }
  // The configured text is kept cut to 259 bytes, but split whole.
  const std::string long_url = "http://h/" + std::string(400, 'p');
  crs::Url url;
  EXPECT_EQ(0u, crs::CrackUrl(long_url.c_str(), &url));
  EXPECT_EQ(long_url.substr(0, 259), url.url);
  EXPECT_EQ("/" + std::string(400, 'p'), url.path);
}

TEST(CrackUrl, RejectsWhatWinHttpRejects) {
  crs::Url url;
  EXPECT_EQ(crs::kErrorUnrecognizedScheme, crs::CrackUrl("ftp://host/x", &url));
  EXPECT_STREQ("", url.host);  // a failed split leaves the client disabled
  for (const char* text :
       {"just-a-host", "http:/host", "http:///path", "http://host:/x", "http://host:0/x",
        "http://host:65536/x", "http://host:80a/x", "http://[::1/x"}) {
    EXPECT_EQ(crs::kErrorInvalidUrl, crs::CrackUrl(text, &url)) << text;
  }
}

// The crash path's formatter agrees with printf on every form the crash
// code uses, and never overruns its buffer.
template <typename... Args>
void ExpectSameAsPrintf(const char* format, Args... args) {
  char expected[512];
  char actual[512];
  std::snprintf(expected, sizeof(expected), format, args...);
  size_t n = crs::FormatTo(actual, sizeof(actual), format, args...);
  EXPECT_STREQ(expected, actual) << "format: " << format;
  EXPECT_EQ(std::string(expected).size(), n) << "format: " << format;
}

TEST(SafeFormat, AgreesWithPrintfOnTheCrashFormats) {
  ExpectSameAsPrintf("%04d%02d%02d-%02d%02d%02d%03d.dmp", 2021, 12, 2, 18, 59, 6, 123);
  ExpectSameAsPrintf("%d%02d%02d", 987, 1, 31);
  ExpectSameAsPrintf("# Address=0x%016llX", 0x7F00DEADBEEFull);
  ExpectSameAsPrintf("# ExceptionCode=0x%X", 0xC0000005u);
  ExpectSameAsPrintf("%2d 0x%08X 0x%08X 0x%08X (%s)", 3, 0x1234u, 0xFFFFFFFFu, 0u, "m+0x10");
  ExpectSameAsPrintf("%s+0x%llX", "libc", 0x1ABCDEFull);
  ExpectSameAsPrintf("%s_%lu_%s", "a", 4242ul, "crs.log");
  ExpectSameAsPrintf("[%d] %i %u %ld %lld %zu", -2112, INT32_MIN, UINT32_MAX, -5L, INT64_MIN,
                     size_t{77});
  ExpectSameAsPrintf("%x %X %hhx %hx", 255u, 3054u, 0x1FFu, 0x1FFFFu);
  ExpectSameAsPrintf("|%5s|%-5s|%.2s|%-4d|%5d|%05d|%c|%%|", "ab", "cd", "xyz", 7, -42, -42, 'q');
  ExpectSameAsPrintf("%*d|%-*d|%.*s", 6, 12, 4, 3, 2, "hello");
}

TEST(SafeFormat, CutsAtCapacityAndAppends) {
  char small[8];
  EXPECT_EQ(7u, crs::FormatTo(small, sizeof(small), "%s", "0123456789"));
  EXPECT_STREQ("0123456", small);

  char one[1] = {'x'};
  EXPECT_EQ(0u, crs::FormatTo(one, sizeof(one), "%d", 12345));
  EXPECT_EQ('\0', one[0]);

  char text[16] = "abc";
  EXPECT_EQ(6u, crs::AppendTo(text, sizeof(text), "%d", 123));
  EXPECT_EQ(15u, crs::AppendTo(text, sizeof(text), "%s", "0123456789abcdef"));
  EXPECT_STREQ("abc123012345678", text);
  // A full buffer stays as it is.
  EXPECT_EQ(15u, crs::AppendTo(text, sizeof(text), "%s", "zz"));
  EXPECT_STREQ("abc123012345678", text);

  char copy[4];
  EXPECT_EQ(3u, crs::CopyTo(copy, sizeof(copy), "long text"));
  EXPECT_STREQ("lon", copy);
}

TEST(SafeFormat, OddFormatsAreCopiedNotInterpreted) {
  char out[64];
  const char* volatile missing = nullptr;
  crs::FormatTo(out, sizeof(out), "%s", missing);
  EXPECT_STREQ("(null)", out);
  // A conversion this formatter does not know is kept as text, and a lone
  // '%' at the end is kept; neither consumes an argument.
  std::string unknown = "a%qb";
  crs::FormatTo(out, sizeof(out), unknown.c_str());
  EXPECT_STREQ("a%qb", out);
  std::string trailing = "50%";
  crs::FormatTo(out, sizeof(out), trailing.c_str());
  EXPECT_STREQ("50%", out);
}

}  // namespace

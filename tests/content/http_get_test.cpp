// Package names, and the HTTP GET seam of both systems against the
// development content server.
#include "platform/http_get.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "content/rezdownload.h"
#include "content/rezname.h"
#include "platform/fault_injection.h"
#include "support/content_server.h"
#include "support/scratch.h"

namespace {

using platform::HttpGetStatus;

TEST(RezName, OnlyPlainFileNamesPass) {
  EXPECT_EQ(CheckRezFileName("maps.rez"), RezNameCheck::kOk);
  EXPECT_EQ(CheckRezFileName("my map (2).rez"), RezNameCheck::kOk);
  EXPECT_EQ(CheckRezFileName("\xEB\xA7\xB5.rez"), RezNameCheck::kOk);  // UTF-8
  EXPECT_EQ(CheckRezFileName(".hidden.rez"), RezNameCheck::kOk);

  EXPECT_EQ(CheckRezFileName(""), RezNameCheck::kEmpty);
  EXPECT_EQ(CheckRezFileName("a/b.rez"), RezNameCheck::kSeparator);
  EXPECT_EQ(CheckRezFileName("a\\b.rez"), RezNameCheck::kSeparator);
  EXPECT_EQ(CheckRezFileName("c:b.rez"), RezNameCheck::kSeparator);
  EXPECT_EQ(CheckRezFileName(".."), RezNameCheck::kDotDot);
  EXPECT_EQ(CheckRezFileName("."), RezNameCheck::kDotDot);
  EXPECT_EQ(CheckRezFileName("x..rez"), RezNameCheck::kDotDot);
  EXPECT_EQ(CheckRezFileName("tab\there.rez"), RezNameCheck::kControl);
  EXPECT_EQ(CheckRezFileName("del\x7F.rez"), RezNameCheck::kControl);
  EXPECT_EQ(CheckRezFileName("x.rez\n"), RezNameCheck::kControl);
  EXPECT_EQ(CheckRezFileName("a?.rez"), RezNameCheck::kWildcard);
  EXPECT_EQ(CheckRezFileName("*.rez"), RezNameCheck::kWildcard);
}

TEST(RezName, FieldIsCutAtItsTerminatorOrRefused) {
  char field[8] = {'a', '.', 'r', 'e', 'z', '\0', 'x', 'y'};
  EXPECT_EQ(NameFromField(field, sizeof(field)), "a.rez");
  char full[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(NameFromField(full, sizeof(full)), std::nullopt);
  char empty[4] = {};
  EXPECT_EQ(NameFromField(empty, sizeof(empty)), "");
}

TEST(RezName, TemporaryNameCarriesMinuteSecondAndMilliseconds) {
  EXPECT_EQ(RezTempFileName({2026, 12, 5, 12, 34, 56, 789}, "abc.rez"), "3456789_abc.rez.log");
  EXPECT_EQ(RezTempFileName({2026, 12, 5, 12, 3, 4, 5}, "abc.rez"), "30405_abc.rez.log");
}

class Recorder final : public platform::HttpGetReceiver {
 public:
  bool OnOpened(int) override {
    ++opened;
    opened_before_data = body.empty();
    return accept_open;
  }
  bool OnData(const void* data, std::size_t size) override {
    body.append(static_cast<const char*>(data), size);
    return accept_data;
  }

  int opened = 0;
  bool opened_before_data = false;
  std::string body;
  bool accept_open = true;
  bool accept_data = true;
};

class HttpGet : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::fault::Reset();
    std::string why;
    if (!server_.Start(&why)) GTEST_SKIP() << why;
    payload_.resize(100000);
    for (size_t i = 0; i < payload_.size(); ++i) payload_[i] = static_cast<char>(i * 31);
    std::ofstream(server_.Root() / "map.rez", std::ios::binary) << payload_;
    std::ofstream(server_.Root() / "empty.rez", std::ios::binary).flush();
  }
  void TearDown() override { platform::fault::Reset(); }

  platform::HttpGetResult Get(const std::string& url, Recorder& r) const {
    return platform::HttpGet(url.c_str(), limits_, r);
  }
  std::string Url(const std::string& name) const { return server_.Url() + name; }

  // Connect 2 s; abort below 1024 bytes per second over 1 s; 60 s in all.
  platform::HttpGetLimits limits_{2000, 1024, 1, 60000};
  testsupport::ContentServer server_;
  std::string payload_;
};

// Whatever the proxy environment says: a proxy that does not exist.
TEST_F(HttpGet, SuccessfulAnswersReachTheReceiverWholeAndInOrder) {
  const char* const kProxies[] = {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"};
  for (const char* name : kProxies) testsupport::SetEnv(name, "http://127.0.0.1:9");
  Recorder r;
  auto result = Get(Url("map.rez"), r);
  for (const char* name : kProxies) testsupport::SetEnv(name, nullptr);
  EXPECT_EQ(HttpGetStatus::kOk, result.status);
  EXPECT_EQ(0u, result.error);
  EXPECT_EQ(200, result.http_status);
  EXPECT_EQ(1, r.opened);
  EXPECT_TRUE(r.opened_before_data);
  EXPECT_EQ(payload_.size(), r.body.size());
  EXPECT_TRUE(r.body == payload_);

  if (const std::string moved = server_.RedirectUrl("map.rez"); !moved.empty()) {
    Recorder redirected;
    EXPECT_EQ(HttpGetStatus::kOk, Get(moved, redirected).status);
    EXPECT_TRUE(redirected.body == payload_);
  }

  Recorder empty;
  EXPECT_EQ(HttpGetStatus::kOk, Get(Url("empty.rez"), empty).status);
  EXPECT_EQ(1, empty.opened);
  EXPECT_TRUE(empty.body.empty());

  // A short answer is whole as far as HTTP goes.
  ASSERT_EQ(200, server_.Control("/_control/content?mode=short&bytes=10240"));
  Recorder s;
  EXPECT_EQ(HttpGetStatus::kOk, Get(Url("map.rez"), s).status);
  EXPECT_EQ(payload_.substr(0, 10240), s.body);
}

TEST_F(HttpGet, RefusalsAndBadUrlsAreNotOpened) {
  Recorder missing;
  auto result = Get(Url("absent.rez"), missing);
  EXPECT_EQ(HttpGetStatus::kOpenFailed, result.status);
  EXPECT_EQ(404u, result.error);
  EXPECT_EQ(404, result.http_status);
  EXPECT_EQ(0, missing.opened);
  EXPECT_TRUE(missing.body.empty());  // the error page is never taken for a package

  ASSERT_EQ(200, server_.Control("/_control/content?mode=status&status=500"));
  Recorder refused;
  result = Get(Url("map.rez"), refused);
  EXPECT_EQ(HttpGetStatus::kOpenFailed, result.status);
  EXPECT_EQ(500, result.http_status);
  EXPECT_EQ(0, refused.opened);
  EXPECT_TRUE(refused.body.empty());

  for (const char* url :
       {"", "not a url", "map.rez", "ftp://127.0.0.1/x.rez", "file:///etc/passwd"}) {
    Recorder bad;
    EXPECT_EQ(HttpGetStatus::kOpenFailed, Get(url, bad).status) << url;
    EXPECT_EQ(0, bad.opened) << url;
  }

  // Not the stopped server's port: Wine's WinINet keeps its connections.
  Recorder unreachable;
  result = Get("http://127.0.0.1:1/content/map.rez", unreachable);
  EXPECT_EQ(HttpGetStatus::kOpenFailed, result.status);
  EXPECT_NE(0u, result.error);
  EXPECT_EQ(0, result.http_status);
}

TEST_F(HttpGet, ReceiverThatRefusesStopsTheTransfer) {
  Recorder at_open;
  at_open.accept_open = false;
  EXPECT_EQ(HttpGetStatus::kStopped, Get(Url("map.rez"), at_open).status);
  EXPECT_EQ(1, at_open.opened);
  EXPECT_TRUE(at_open.body.empty());

  Recorder at_data;
  at_data.accept_data = false;
  EXPECT_EQ(HttpGetStatus::kStopped, Get(Url("map.rez"), at_data).status);
  EXPECT_FALSE(at_data.body.empty());
  EXPECT_LT(at_data.body.size(), payload_.size());
}

TEST_F(HttpGet, TricklingAndStalledServersAreAbandoned) {
  // 320 bytes per second: the whole file would take five minutes.
  ASSERT_EQ(200, server_.Control("/_control/content?mode=trickle&bytes=64&ms=200"));
  Recorder trickle;
  auto result = Get(Url("map.rez"), trickle);
  EXPECT_EQ(HttpGetStatus::kReadFailed, result.status);
  EXPECT_NE(0u, result.error);
  EXPECT_EQ(1, trickle.opened);
  EXPECT_LT(trickle.body.size(), payload_.size());

  ASSERT_EQ(200, server_.Control("/_control/content?mode=stall&ms=30000"));
  Recorder stalled;
  result = Get(Url("map.rez"), stalled);
  EXPECT_EQ(HttpGetStatus::kOpenFailed, result.status);
  EXPECT_NE(0u, result.error);
  EXPECT_EQ(0, stalled.opened);
}

TEST_F(HttpGet, InjectedFaultsFailAsTheRealCallsWould) {
  platform::fault::Arm(platform::fault::Point::kHttpConnect, 1, 12029);
  Recorder connect;
  auto result = Get(Url("map.rez"), connect);
  EXPECT_EQ(HttpGetStatus::kOpenFailed, result.status);
  EXPECT_EQ(12029u, result.error);
  EXPECT_EQ(0, connect.opened);

  platform::fault::Reset();
  platform::fault::Arm(platform::fault::Point::kHttpRead, 2, 12030);
  Recorder read;
  result = Get(Url("map.rez"), read);
  EXPECT_EQ(HttpGetStatus::kReadFailed, result.status);
  EXPECT_EQ(12030u, result.error);
  EXPECT_EQ(1, read.opened);
  EXPECT_LT(read.body.size(), payload_.size());
}

}  // namespace

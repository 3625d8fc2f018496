// The WinINet HTTP GET (run under Wine) against the development content
// server of the build machine: the body whole and in order, refusals that
// count as "not opened", receivers that stop, the low-speed abort of a
// trickling or stalled server, and the fault hooks.
#include <gtest/gtest.h>

#include <string>

#include "http_recorder.h"
#include "platform/fault_injection.h"
#include "platform/http_get.h"
#include "wine_host.h"

namespace {

namespace fs = std::filesystem;
using platform::HttpGetStatus;

class HttpGetWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    // Calls made before a point is armed count towards its nth call.
    platform::fault::Reset();
    std::string why;
    if (!server_.Start(&why)) GTEST_SKIP() << why;
    payload_.resize(100000);
    for (size_t i = 0; i < payload_.size(); ++i) payload_[i] = static_cast<char>(i * 31);
    wine_test::WriteWhole(server_.ContentRoot() / "map.rez", payload_);
  }
  void TearDown() override { platform::fault::Reset(); }

  std::string Url(const std::string& name) const { return server_.Url("/content/" + name); }

  // Connect 2 s; abort below 1024 bytes per second over 1 s; 60 s in all.
  platform::HttpGetLimits limits_{2000, 1024, 1, 60000};
  wine_test::SharedFolder folder_;
  wine_test::HostDevHttp server_{folder_};
  std::string payload_;
};

TEST_F(HttpGetWin32, SuccessfulAnswerReachesTheReceiverWholeAndInOrder) {
  Recorder r;
  auto result = platform::HttpGet(Url("map.rez").c_str(), limits_, r);
  EXPECT_EQ(HttpGetStatus::kOk, result.status);
  EXPECT_EQ(0u, result.error);
  EXPECT_EQ(200, result.http_status);
  EXPECT_EQ(1, r.opened);
  EXPECT_TRUE(r.opened_before_data);
  EXPECT_EQ(payload_.size(), r.body.size());
  EXPECT_TRUE(r.body == payload_);

  // A short answer is whole as far as HTTP goes: its length is its own.
  ASSERT_EQ(200, server_.Control("/_control/content?mode=short&bytes=10240"));
  Recorder s;
  result = platform::HttpGet(Url("map.rez").c_str(), limits_, s);
  EXPECT_EQ(HttpGetStatus::kOk, result.status);
  EXPECT_EQ(payload_.substr(0, 10240), s.body);
}

TEST_F(HttpGetWin32, RefusalsAndBadUrlsAreNotOpened) {
  Recorder missing;
  auto result = platform::HttpGet(Url("absent.rez").c_str(), limits_, missing);
  EXPECT_EQ(HttpGetStatus::kOpenFailed, result.status);
  EXPECT_EQ(404u, result.error);
  EXPECT_EQ(404, result.http_status);
  EXPECT_EQ(0, missing.opened);
  EXPECT_TRUE(missing.body.empty());

  ASSERT_EQ(200, server_.Control("/_control/content?mode=status&status=500"));
  Recorder refused;
  result = platform::HttpGet(Url("map.rez").c_str(), limits_, refused);
  EXPECT_EQ(HttpGetStatus::kOpenFailed, result.status);
  EXPECT_EQ(500, result.http_status);
  EXPECT_EQ(0, refused.opened);

  // A port nothing listens on.
  const int port = wine_test::FreePort();
  ASSERT_GT(port, 0);
  const std::string gone = "http://127.0.0.1:" + std::to_string(port) + "/content/map.rez";
  Recorder unreachable;
  result = platform::HttpGet(gone.c_str(), limits_, unreachable);
  EXPECT_EQ(HttpGetStatus::kOpenFailed, result.status);
  EXPECT_NE(0u, result.error);
  EXPECT_EQ(0, result.http_status);

  Recorder other_scheme;
  result = platform::HttpGet("ftp://127.0.0.1/map.rez", limits_, other_scheme);
  EXPECT_EQ(HttpGetStatus::kOpenFailed, result.status);
  EXPECT_EQ(0, other_scheme.opened);
  result = platform::HttpGet("map.rez", limits_, other_scheme);
  EXPECT_EQ(HttpGetStatus::kOpenFailed, result.status);
}

TEST_F(HttpGetWin32, ReceiverThatRefusesStopsTheTransfer) {
  Recorder at_open;
  at_open.accept_open = false;
  auto result = platform::HttpGet(Url("map.rez").c_str(), limits_, at_open);
  EXPECT_EQ(HttpGetStatus::kStopped, result.status);
  EXPECT_EQ(1, at_open.opened);
  EXPECT_TRUE(at_open.body.empty());

  Recorder at_data;
  at_data.accept_data = false;
  result = platform::HttpGet(Url("map.rez").c_str(), limits_, at_data);
  EXPECT_EQ(HttpGetStatus::kStopped, result.status);
  EXPECT_FALSE(at_data.body.empty());
  EXPECT_LT(at_data.body.size(), payload_.size());
}

TEST_F(HttpGetWin32, TricklingAndStalledServersAreAbandoned) {
  // 64 bytes every 200 ms is 320 bytes per second: the whole file would take
  // five minutes (longer than the test may run).
  ASSERT_EQ(200, server_.Control("/_control/content?mode=trickle&bytes=64&ms=200"));
  Recorder trickle;
  auto result = platform::HttpGet(Url("map.rez").c_str(), limits_, trickle);
  EXPECT_EQ(HttpGetStatus::kReadFailed, result.status);
  EXPECT_NE(0u, result.error);
  EXPECT_EQ(1, trickle.opened);
  EXPECT_LT(trickle.body.size(), payload_.size());

  // No answer at all for 30 s: given up while the head is awaited.
  ASSERT_EQ(200, server_.Control("/_control/content?mode=stall&ms=30000"));
  Recorder stalled;
  result = platform::HttpGet(Url("map.rez").c_str(), limits_, stalled);
  EXPECT_EQ(HttpGetStatus::kOpenFailed, result.status);
  EXPECT_NE(0u, result.error);
  EXPECT_EQ(0, stalled.opened);
}

TEST_F(HttpGetWin32, InjectedFaultsFailAsTheRealCallsWould) {
  platform::fault::Arm(platform::fault::Point::kHttpConnect, 1, 12029);
  Recorder connect;
  auto result = platform::HttpGet(Url("map.rez").c_str(), limits_, connect);
  EXPECT_EQ(HttpGetStatus::kOpenFailed, result.status);
  EXPECT_EQ(12029u, result.error);
  EXPECT_EQ(0, connect.opened);

  platform::fault::Reset();
  platform::fault::Arm(platform::fault::Point::kHttpRead, 2, 12030);
  Recorder read;
  result = platform::HttpGet(Url("map.rez").c_str(), limits_, read);
  EXPECT_EQ(HttpGetStatus::kReadFailed, result.status);
  EXPECT_EQ(12030u, result.error);
  EXPECT_EQ(1, read.opened);
  EXPECT_LT(read.body.size(), payload_.size());
}

}  // namespace

// The HTTP GET seam against a loopback server: the body in order, the
// refusals that count as "not opened", receivers that stop, redirects, and
// direct access whatever the proxy environment says.
#include "platform/http_get.h"
#include "http_recorder.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <string>

#include "dev_server.h"

namespace {

class HttpGet : public ::testing::Test {
 protected:
  void SetUp() override {
    payload_.resize(100000);
    for (size_t i = 0; i < payload_.size(); ++i) payload_[i] = static_cast<char>(i * 31);
    auto& s = server_.server();
    s.Get("/data", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(payload_, "application/octet-stream");
    });
    s.Get("/empty", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("", "application/octet-stream");
    });
    s.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content(std::string(20000, 'x'), "text/plain");  // a large error page
    });
    s.Get("/moved",
          [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/data"); });
    port_ = server_.Start("127.0.0.1", 0);
    ASSERT_GT(port_, 0);
  }

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  platform::HttpGetLimits limits_{2000, 1024, 2, 10000};
  devhttp::DevServer server_;
  int port_ = -1;
  std::string payload_;
};

TEST_F(HttpGet, SuccessfulAnswersReachTheReceiverWhole) {
  Recorder r;
  auto result = platform::HttpGet(Url("/data").c_str(), limits_, r);
  EXPECT_EQ(result.status, platform::HttpGetStatus::kOk);
  EXPECT_EQ(result.error, 0u);
  EXPECT_EQ(result.http_status, 200);
  EXPECT_EQ(r.opened, 1);
  EXPECT_TRUE(r.opened_before_data);
  EXPECT_EQ(r.body, payload_);

  Recorder redirected;
  result = platform::HttpGet(Url("/moved").c_str(), limits_, redirected);
  EXPECT_EQ(result.status, platform::HttpGetStatus::kOk);
  EXPECT_EQ(redirected.body, payload_);

  // An empty body still opens the receiver, once, after the transfer.
  Recorder empty;
  result = platform::HttpGet(Url("/empty").c_str(), limits_, empty);
  EXPECT_EQ(result.status, platform::HttpGetStatus::kOk);
  EXPECT_EQ(empty.opened, 1);
  EXPECT_TRUE(empty.body.empty());
}

TEST_F(HttpGet, RefusalsAndBadAddressesAreNotOpened) {
  Recorder missing;
  auto result = platform::HttpGet(Url("/missing").c_str(), limits_, missing);
  EXPECT_EQ(result.status, platform::HttpGetStatus::kOpenFailed);
  EXPECT_EQ(result.error, 404u);
  EXPECT_EQ(missing.opened, 0);
  EXPECT_TRUE(missing.body.empty());  // the error page is never taken for a package

  // A port nobody listens on: the server is stopped first.
  const std::string dead = Url("/data");
  server_.Stop();
  Recorder refused;
  result = platform::HttpGet(dead.c_str(), limits_, refused);
  EXPECT_EQ(result.status, platform::HttpGetStatus::kOpenFailed);
  EXPECT_NE(result.error, 0u);
  EXPECT_EQ(result.http_status, 0);

  for (const char* url : {"", "not a url", "ftp://127.0.0.1/x.rez", "file:///etc/passwd"}) {
    Recorder bad;
    result = platform::HttpGet(url, limits_, bad);
    EXPECT_EQ(result.status, platform::HttpGetStatus::kOpenFailed) << url;
    EXPECT_EQ(bad.opened, 0) << url;
  }
}

TEST_F(HttpGet, ReceiverCanStopTheTransfer) {
  Recorder no_open;
  no_open.accept_open = false;
  auto result = platform::HttpGet(Url("/data").c_str(), limits_, no_open);
  EXPECT_EQ(result.status, platform::HttpGetStatus::kStopped);
  EXPECT_TRUE(no_open.body.empty());

  Recorder no_data;
  no_data.accept_data = false;
  result = platform::HttpGet(Url("/data").c_str(), limits_, no_data);
  EXPECT_EQ(result.status, platform::HttpGetStatus::kStopped);
  EXPECT_LT(no_data.body.size(), payload_.size());
}

TEST_F(HttpGet, ProxySettingsOfTheEnvironmentAreIgnored) {
  // A proxy that does not exist: a transfer through it would fail.
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
    setenv(name, "http://127.0.0.1:9", 1);
  }
  Recorder r;
  auto result = platform::HttpGet(Url("/data").c_str(), limits_, r);
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
  EXPECT_EQ(result.status, platform::HttpGetStatus::kOk);
  EXPECT_EQ(r.body, payload_);
}

}  // namespace

// The service URL's split: what the client connects to and where it puts.
#include "crs/crs_url.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Split {
  uint32_t error;
  std::string host;
  unsigned port;
  std::string path;
};

Split Crack(const std::string& text) {
  crs::Url url;
  uint32_t error = crs::CrackUrl(text.c_str(), &url);
  return {error, url.host, url.port, url.path};
}

TEST(CrackUrl, SplitsHostPortAndPathWithQuery) {
  Split s = Crack("http://crs.example.com:8080/upload/dir/?k=v");
  EXPECT_EQ(0u, s.error);
  EXPECT_EQ("crs.example.com", s.host);
  EXPECT_EQ(8080u, s.port);
  EXPECT_EQ("/upload/dir/?k=v", s.path);

  s = Crack("HTTP://Host/path#frag");
  EXPECT_EQ(0u, s.error);
  EXPECT_EQ("Host", s.host);
  EXPECT_EQ(80u, s.port);
  EXPECT_EQ("/path#frag", s.path);

  // https names the port only: the client never speaks TLS.
  s = Crack("https://secure.example");
  EXPECT_EQ(0u, s.error);
  EXPECT_EQ(443u, s.port);
  EXPECT_EQ("", s.path);

  s = Crack("http://user:pw@10.0.0.1:81?only=query");
  EXPECT_EQ(0u, s.error);
  EXPECT_EQ("10.0.0.1", s.host);
  EXPECT_EQ(81u, s.port);
  EXPECT_EQ("?only=query", s.path);

  s = Crack("http://[::1]:9000/x");
  EXPECT_EQ(0u, s.error);
  EXPECT_EQ("[::1]", s.host);
  EXPECT_EQ(9000u, s.port);
}

TEST(CrackUrl, RejectsWhatWinHttpRejects) {
  EXPECT_EQ(crs::kErrorUnrecognizedScheme, Crack("ftp://host/x").error);
  EXPECT_EQ(crs::kErrorInvalidUrl, Crack("just-a-host").error);
  EXPECT_EQ(crs::kErrorInvalidUrl, Crack("http:/host").error);
  EXPECT_EQ(crs::kErrorInvalidUrl, Crack("http:///path").error);
  EXPECT_EQ(crs::kErrorInvalidUrl, Crack("http://host:/x").error);
  EXPECT_EQ(crs::kErrorInvalidUrl, Crack("http://host:0/x").error);
  EXPECT_EQ(crs::kErrorInvalidUrl, Crack("http://host:65536/x").error);
  EXPECT_EQ(crs::kErrorInvalidUrl, Crack("http://host:80a/x").error);
  EXPECT_EQ(crs::kErrorInvalidUrl, Crack("http://[::1/x").error);
  // A failed split leaves the client disabled: no host.
  EXPECT_EQ("", Crack("ftp://host/x").host);
}

TEST(CrackUrl, KeepsTheConfiguredTextCutTo259BytesButSplitsItWhole) {
  std::string long_url = "http://h/" + std::string(400, 'p');
  crs::Url url;
  EXPECT_EQ(0u, crs::CrackUrl(long_url.c_str(), &url));
  EXPECT_EQ(long_url.substr(0, 259), std::string(url.url));
  EXPECT_EQ("/" + std::string(400, 'p'), std::string(url.path));
}

}  // namespace

// The development crash-report service: what it stores and refuses, and its
// command line.
#include <gtest/gtest.h>
#include <httplib.h>

#include "crash_service.h"
#include "crs_test_support.h"
#include "dev_server.h"
#include "devhttp_main.h"

namespace {

TEST(DevHttp, ObjectNamesThatLeaveTheFolderAndUnescapedPathsAreRefused) {
  EXPECT_TRUE(devhttp::IsSafeObjectName("a.dmp"));
  EXPECT_TRUE(devhttp::IsSafeObjectName("sub/a_crs.log"));
  for (const char* bad : {"", "/abs", "../x", "a/../../x", "a//b", "a/./b", "a\\b", "a/"}) {
    EXPECT_FALSE(devhttp::IsSafeObjectName(bad)) << bad;
  }

  crs_test::TempFolder tmp;
  devhttp::CrashService service("/crs", tmp.path() / "store");
  devhttp::DevServer server;
  service.Register(server.server());
  int port = server.Start("127.0.0.1", 0);
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);
  auto bad = client.Put("/crs/../escape", "x", "application/octet-stream");
  ASSERT_TRUE(bad);
  EXPECT_EQ(400, bad->status);
  EXPECT_FALSE(std::filesystem::exists(tmp.path() / "escape"));

  // Strict paths: the path as sent must be percent-encoded. (What is stored,
  // in sub-folders, with its headers, and "[" sent as %5B: ClientTest.)
  client.set_url_encode(false);
  ASSERT_TRUE(client.Post("/_control/crs?strict_paths=1", "", "text/plain"));
  const std::pair<const char*, int> rows[] = {
      {"/crs/[2112]c.dmp", 400}, {"/crs/a%2", 400},  {"/crs/a%zz", 400},
      {"/crs/a\"b", 400},        {"/crs/a{b}", 400}, {"/crs/-._~!$&'()*+,;=:@x", 200},
      {"/crs/q?x=[1]", 400},
  };
  for (const auto& [target, status] : rows) {
    auto answer = client.Put(target, "c", "application/octet-stream");
    ASSERT_TRUE(answer) << target;
    EXPECT_EQ(status, answer->status) << target;
  }
  EXPECT_EQ(1u, service.Objects().size());  // the refused ones were not stored
}

TEST(DevHttp, OptionsAreCheckedBeforeServing) {
  devhttp::Options options;
  std::string error;
  // (--crs-root, --content-root and --log-requests: every test under Wine
  // starts devhttp with them.)
  EXPECT_TRUE(devhttp::ParseOptions({"--port", "8080", "--crs-path", "/up/", "--crs-status", "201",
                                     "--crs-stall-ms", "50", "--crs-strict-paths", "1"},
                                    &options, &error));
  EXPECT_EQ(8080, options.port);
  EXPECT_EQ("/up/", options.crs_path);
  EXPECT_EQ(201, options.crs_status);
  EXPECT_EQ(50, options.crs_stall_ms);
  EXPECT_TRUE(options.crs_strict_paths);

  for (const auto& bad : std::vector<std::vector<std::string>>{{"--port"},
                                                               {"--port", "70000"},
                                                               {"--port", "8o"},
                                                               {"--crs-status", "99"},
                                                               {"--crs-path", "up"},
                                                               {"--log-requests", "yes"},
                                                               {"--crs-strict-paths", "2"},
                                                               {"--what", "1"}}) {
    devhttp::Options o;
    EXPECT_FALSE(devhttp::ParseOptions(bad, &o, &error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace

// `gsmsim run` against the real host and the reference module: the demo
// scenario end to end (the hosts' answers arrive, decoded), and a scenario
// whose expectation cannot be met failing the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/process.h"
#include "support/content_server.h"
#include "support/log_sandbox.h"

namespace gsmsim {
namespace {

namespace fs = std::filesystem;

struct RunResult {
  int exit_code = -1000;
  std::vector<std::string> lines;  // stdout
  std::string err;

  std::string All() const {
    std::string all;
    for (const auto& line : lines) all += line + "\n";
    return all;
  }
  size_t Count(const std::string& a, const std::string& b = "") const {
    return std::ranges::count_if(lines, [&](const std::string& line) {
      return line.find(a) != std::string::npos && line.find(b) != std::string::npos;
    });
  }
};

class GsmsimRun : public ::testing::Test {
 protected:
  RunResult Run(std::vector<std::string> args) {
    platform::ProcessOptions options;
    options.program = GSMSIM_PATH;
    options.args = {
        "run", "--json", "--dist", SERVERAPP_DIST_DIR, "--work", (root_ / "rooms").string()};
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.environment = {{"SERVERAPP_LOG_BASE", (root_ / "log").string()}};
    options.environment.insert(options.environment.end(), env_.begin(), env_.end());
    options.std_in = platform::StdStream::kNull;
    options.std_out = platform::StdStream::kPipe;
    options.std_err = platform::StdStream::kPipe;
    RunResult result;
    auto process = platform::Process::Start(options);
    if (!process) return result;
    std::string line;
    while (process->ReadStdoutLine(&line, 90000)) result.lines.push_back(line);
    while (process->ReadStderrLine(&line, 1000)) result.err += line + "\n";
    const auto status = process->Wait(10000);
    if (status && status->exited) result.exit_code = status->exit_code;
    return result;
  }

  testsupport::LogSandbox sandbox_{"gsmsimrun-"};
  const fs::path root_ = sandbox_.dir();
  std::vector<std::pair<std::string, std::string>> env_;
};

TEST_F(GsmsimRun, DemoHostsARoomEndToEnd) {
  const RunResult r = Run({"--rooms", "1", "--scenario", "demo", "--heartbeat", "0"});
  const std::string all = r.All();
  EXPECT_EQ(r.exit_code, 0) << all << r.err;

  // Every expectation held (the demo's own expect lines check each answer's
  // fields); the answers arrived once each, in JSON.
  EXPECT_EQ(r.Count("\"event\":\"expect\"", "\"ok\":false"), 0u) << all;
  EXPECT_GE(r.Count("\"event\":\"expect\"", "\"ok\":true"), 12u) << all;
  EXPECT_EQ(r.Count("\"name\":\"GAMESERVERMSG_REPORT_HWND\""), 1u) << all;
  EXPECT_EQ(r.Count("\"name\":\"GAMESERVERMSG_LOADING_COMPLETE\"",
                    "\"fields\":{\"tMapIndex\":5,\"success\":1}"),
            1u)
      << all;
  EXPECT_EQ(r.Count("\"name\":\"GAMESERVERMSG_ADDCLIENT\""), 3u) << all;
  EXPECT_EQ(r.Count("\"record\":\"GAMEPROTO_SC_REMOVECLIENT\"", "\"f32\":1002"), 1u) << all;
  EXPECT_EQ(r.Count("\"record\":\"GAMEPROTO_SS_GAMEEND\"", "\"f26\":[300,250]"), 1u) << all;
  EXPECT_EQ(r.Count("\"name\":\"UNNAMED_20\""), 1u) << all;
  // The terminate step ended the host the normal way.
  EXPECT_EQ(r.Count("\"event\":\"exit\"", "\"code\":1,\"ok\":true"), 1u) << all;
}

TEST_F(GsmsimRun, UnmetExpectationFailsTheRunAndStopsTheRooms) {
  const fs::path scenario = root_ / "never.gsm";
  std::ofstream(scenario) << "# the host never sends a game end by itself\n"
                             "expect GAMESERVERMSG_GAMEEND within 300\n";
  const RunResult r = Run({"--rooms", "2", "--scenario", scenario.string()});
  const std::string all = r.All();
  EXPECT_EQ(r.exit_code, 1) << all << r.err;
  EXPECT_EQ(r.Count("\"event\":\"expect\"", "\"ok\":false,\"line\":2,\"room\":0"), 1u) << all;
  EXPECT_NE(r.err.find("line 2: expectation not met in room 0"), std::string::npos) << r.err;
  // Both rooms reported and were stopped cleanly (SIGTERM: exit code 1).
  EXPECT_EQ(r.Count("\"name\":\"GAMESERVERMSG_REPORT_HWND\""), 2u) << all;
  EXPECT_EQ(r.Count("\"event\":\"exit\"", "\"code\":1,\"ok\":true"), 2u) << all;
}

TEST_F(GsmsimRun, BadScenarioIsAUsageError) {
  const fs::path scenario = root_ / "bad.gsm";
  std::ofstream(scenario) << "heartbeat\nload-map 5\n";
  const RunResult r = Run({"--scenario", scenario.string()});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("bad.gsm: line 2: usage: load-map MAP ROUND MATCH"), std::string::npos)
      << r.err;
  EXPECT_TRUE(r.lines.empty());  // no host was started
}

// The content-package map load: the host downloads the package from the
// development content server, then loads the map.
TEST_F(GsmsimRun, UccScenarioLoadsAPackageFromTheContentServer) {
  testsupport::ContentServer server;
  std::string why;
  ASSERT_TRUE(server.Start(&why)) << why;
  std::ofstream(server.Root() / "demo_map.rez", std::ios::binary)
      << std::string(20000, 'p');  // above the 10240 bytes of a refused body
  env_ = {{"GSMSIM_CONTENT_URL", server.Url()}, {"GSMSIM_UCC_PACKAGE", "demo_map.rez"}};

  const RunResult r = Run({"--scenario", std::string(GSMSIM_SCENARIO_DIR) + "/ucc_map.gsm"});
  const std::string all = r.All();
  EXPECT_EQ(r.exit_code, 0) << all << r.err;
  EXPECT_EQ(r.Count("\"name\":\"GAMESERVERMSG_LOADING_COMPLETE\"",
                    "\"fields\":{\"tMapIndex\":7,\"success\":1}"),
            1u)
      << all;
  std::error_code ec;
  EXPECT_EQ(fs::file_size(root_ / "rooms" / "room0" / "rez" / "demo_map.rez", ec), 20000u)
      << ec.message();
}

}  // namespace
}  // namespace gsmsim

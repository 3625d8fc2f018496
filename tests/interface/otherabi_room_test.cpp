// A room end to end with a module of another compiler's ABI (on Windows
// modules/msvcabi built by clang for the MSVC ABI, natively the reference module
// with clang++ and libc++) in a copy of the deployment folder; gsmsim plays the manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/log_sandbox.h"

namespace {

namespace fs = std::filesystem;

size_t CountLines(const std::vector<std::string>& lines, const std::string& a,
                  const std::string& b = "") {
  return std::ranges::count_if(lines, [&](const std::string& line) {
    return line.find(a) != std::string::npos && line.find(b) != std::string::npos;
  });
}

TEST(OtherAbiModule, HostsARoomEndToEnd) {
  const testsupport::LogSandbox sandbox("otherabi-");
  const fs::path root = sandbox.dir();
  const fs::path dist = root / "dist";
  const fs::path module = OTHER_ABI_MODULE;
  fs::copy(SERVERAPP_DIST_DIR, dist, fs::copy_options::recursive);
  // Removed first: mingw's copy_file fails on an existing file even when
  // told to overwrite it.
  fs::remove(dist / module.filename());
  fs::copy_file(module, dist / module.filename());

  platform::ProcessOptions options;
  options.program = GSMSIM_PATH;
  options.args = {
      "run",         "--json", "--dist",     dist.string(),     "--work", (root / "rooms").string(),
      "--heartbeat", "0",      "--scenario", OTHER_ABI_SCENARIO};
  options.environment = {{"SERVERAPP_LOG_BASE", (root / "log").string()}};
  options.std_in = platform::StdStream::kNull;
  options.std_out = platform::StdStream::kPipe;
  options.std_err = platform::StdStream::kPipe;
  auto process = platform::Process::Start(options);
  ASSERT_TRUE(process);
  std::vector<std::string> lines;
  std::string line, all, err;
  while (process->ReadStdoutLine(&line, 90000)) {
    lines.push_back(line);
    all += line + "\n";
  }
  while (process->ReadStderrLine(&line, 1000)) err += line + "\n";
  const auto status = process->Wait(10000);
  ASSERT_TRUE(status && status->exited) << all << err;
  EXPECT_EQ(status->exit_code, 0) << all << err;

  // Every expectation of the scenario held (the answers of both sides).
  EXPECT_EQ(CountLines(lines, "\"event\":\"expect\"", "\"ok\":false"), 0u) << all;
  EXPECT_EQ(CountLines(lines, "\"event\":\"expect\"", "\"ok\":true"), 10u) << all;
  // The host ended the normal way (dialog result 1), not by a crash.
  EXPECT_EQ(CountLines(lines, "\"event\":\"exit\"", "\"code\":1,\"ok\":true"), 1u) << all;

  // The module's account of its unload, where it writes one: heap and interface
  // state gone, the memory query answered, the host's messages made by the
  // implementation the module's hook chose, its holder set at the merge and cleared.
  if (std::string(OTHER_ABI_REPORT).empty()) return;
  std::ifstream report(root / "rooms" / "room0" / OTHER_ABI_REPORT);
  ASSERT_TRUE(report) << "no unload report";
  std::stringstream text;
  text << report.rdbuf();
  std::map<std::string, long long> values;
  for (std::string pair; text >> pair;) {
    const size_t eq = pair.find('=');
    if (eq != std::string::npos) values[pair.substr(0, eq)] = std::stoll(pair.substr(eq + 1));
  }
  EXPECT_EQ(values["live"], 0) << text.str();
  EXPECT_EQ(values["state"], 0) << text.str();
  EXPECT_GT(values["host_memory"], 0) << text.str();
  EXPECT_GT(values["made"], 4) << text.str();
  EXPECT_EQ(values["backup_made"], 0) << text.str();
  EXPECT_GE(values["holder_sets"], 3) << text.str();
  EXPECT_EQ(values["holder_clears"], 1) << text.str();
  // LOADING_COMPLETE, two ADDCLIENT, REMOVECLIENT.
  EXPECT_EQ(values["answers"], 4) << text.str();
}

}  // namespace

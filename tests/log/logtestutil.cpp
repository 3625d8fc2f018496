#include "logtestutil.h"

#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>

#include "hostlogger.h"
#include "hostlogger_testing.h"
#include "logmsgmanager_testing.h"
#include "mszformat.h"
#include "support/scratch.h"

namespace logtest {

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

namespace {
std::mutex g_fixed_mutex;
platform::LocalTime g_fixed;
platform::LocalTime FixedTime() {
  std::lock_guard<std::mutex> lock(g_fixed_mutex);
  return g_fixed;
}
}  // namespace

void SetFixedTime(const platform::LocalTime& t) {
  std::lock_guard<std::mutex> lock(g_fixed_mutex);
  g_fixed = t;
  platform::SetLocalTimeSource(&FixedTime);
}

std::string MszOf(const std::vector<std::pair<std::int64_t, std::string>>& texts) {
  std::vector<msz::Record> records;
  for (const auto& [id, text] : texts) {
    msz::Record r;
    r.id = id;
    msz::Utf8ToUtf16(text, &r.text);
    records.push_back(std::move(r));
  }
  const std::vector<std::uint8_t> image = msz::Build(records);
  return std::string(image.begin(), image.end());
}

std::vector<std::string> Entries(const std::string& bytes, const std::string& end) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t pos; (pos = bytes.find(end, start)) != std::string::npos; start = pos + end.size()) {
    out.push_back(bytes.substr(start, pos - start));
  }
  EXPECT_EQ(start, bytes.size()) << "bytes after the last line end";
  return out;
}

void HostLoggerTest::TearDown() {
  platform::SetLocalTimeSource(nullptr);
  platform::SetAssertionSink({});
}

std::set<std::string> HostLoggerTest::FilesIn(const fs::path& folder) const {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

void HostLoggerTest::WriteNumbered(char who, int lines, const std::string& pad) {
  for (int i = 0; i < lines; ++i) {
    HostLog(HLOG_INFO, "%c %05d %s", who, i, pad.c_str());
    EtcInfoLog("%c %05d %s", who, i, pad.c_str());
  }
}

void HostLoggerTest::ExpectWholeNumbered(char first, int lines, const std::string& pad) const {
  for (const char* head : {"error", "etcinfo"}) {
    const std::vector<std::string> all = Entries(ReadFile(File(head)));
    ASSERT_EQ(all.size(), 2u * lines) << head;
    int next[2] = {0, 0};
    for (const std::string& line : all) {
      ASSERT_GT(line.size(), pad.size() + 8) << line;
      const size_t at = line.size() - pad.size() - 8;
      const int who = line[at] - first;
      ASSERT_TRUE(who == 0 || who == 1) << line;
      EXPECT_EQ(line.substr(at + 2), std::to_string(100000 + next[who]++).substr(1) + " " + pad);
    }
  }
}

void MessageTableTest::SetUp() {
  ResetLogMsgManagerForTesting();
  SetLogMsgWaitsForTesting(300, 500, 10);
  platform::SetAssertionSink([this](std::string_view text) { asserts_.emplace_back(text); });
}

void MessageTableTest::TearDown() {
  ResetLogMsgManagerForTesting();
  SetLogMsgWaitsForTesting(1000, 10000, 100);
  platform::SetAssertionSink({});
  platform::SetDebuggerOutputSink({});
  platform::SetLocalTimeSource(nullptr);
}

std::unique_ptr<Peer> MessageTableTest::StartPeer(
    const std::string& mode, const std::string& when, const std::vector<std::string>& ids,
    const std::vector<std::pair<std::string, std::string>>& env) {
  platform::ProcessOptions options;
  options.program = LOGMSG_PEER;
  options.args = {mode, when};
  options.args.insert(options.args.end(), ids.begin(), ids.end());
  options.working_directory = logs_.dir().string();
  options.environment = env;
  options.std_in = platform::StdStream::kPipe;
  options.std_out = platform::StdStream::kPipe;
  std::string why;
  auto process = platform::Process::Start(options, &why);
  if (!process) throw std::runtime_error("cannot start the peer: " + why);
  return std::make_unique<Peer>(std::move(process));
}

void MessageTableTest::StartLogger() {
  SetFixedTime({2026, 12, 5, 14, 3, 7, 15});
  logs_.Start("LogLevel=4\n");
}

}  // namespace logtest

// The Linux crash path in process: the minidump writer and the stack walk
// (what the end-to-end tests' readers would not notice), the crash path's
// ini reader, and the upload's request line and status line.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <latch>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crs/crash_profile.h"
#include "crs_test_support.h"
#include "platform/crash.h"
#include "platform/crash_io.h"
#include "platform/crash_upload.h"
#include "platform/settings.h"

namespace {

using crs_test::ReadAt;

// Writes a dump of this process and checks the rules the readers enforce:
// the signature, each stream once and inside the file, and (Breakpad's
// reader drops a list whose ranges overlap) a memory list without overlaps.
std::string WriteDump(const platform::CrashInfo* info, bool full) {
  crs_test::TempFolder tmp;
  const std::string path = (tmp.path() / "a.dmp").string();
  const intptr_t file = platform::CrashFileCreate(path.c_str());
  EXPECT_NE(platform::kNoCrashFile, file);
  EXPECT_TRUE(platform::WriteMinidump(file, info, full));
  platform::CrashFileClose(file);
  const std::string dump = crs_test::ReadFile(path);
  EXPECT_TRUE(crs_test::ReadMinidump(dump).signature);
  std::set<uint32_t> types;
  for (uint32_t i = 0; i < ReadAt<uint32_t>(dump, 8); ++i) {
    const uint64_t entry = ReadAt<uint32_t>(dump, 12) + i * 12ull;
    const uint32_t type = ReadAt<uint32_t>(dump, entry);
    EXPECT_TRUE(types.insert(type).second) << "duplicate stream " << type;
    EXPECT_LE(uint64_t{ReadAt<uint32_t>(dump, entry + 8)} + ReadAt<uint32_t>(dump, entry + 4),
              dump.size())
        << "stream " << type;
  }
  const std::string memory = crs_test::MinidumpStream(dump, 5);
  std::map<uint64_t, uint64_t> ranges;  // start -> end
  for (uint32_t i = 0; i < ReadAt<uint32_t>(memory, 0); ++i) {
    const uint64_t start = ReadAt<uint64_t>(memory, 4 + i * 16ull);
    ranges[start] = start + ReadAt<uint32_t>(memory, 12 + i * 16ull);
  }
  uint64_t end = 0;
  for (const auto& [start, stop] : ranges) {
    EXPECT_LE(end, start) << "memory ranges overlap at 0x" << std::hex << start;
    end = stop;
  }
  return dump;
}

TEST(Minidump, NormalDumpHoldsEveryThreadsStackAndNameAndTheLinuxStreams) {
  // Named threads that wait, each with a marker on its stack, while the dump
  // is written: tid -> (address of its marker, its name).
  std::mutex mutex;
  std::map<uint32_t, std::pair<uint64_t, std::string>> markers;
  std::latch ready(3);
  std::vector<std::jthread> parked;  // last: stopped and joined first
  for (int i = 0; i < 3; ++i) {
    parked.emplace_back([&, i](std::stop_token stop) {
      volatile uint64_t marker = 0xC0FFEE00 + i;  // on this thread's stack
      const std::string name = "parked" + std::to_string(i);
      pthread_setname_np(pthread_self(), name.c_str());
      {
        std::lock_guard<std::mutex> lock(mutex);
        markers[static_cast<uint32_t>(gettid())] = {reinterpret_cast<uint64_t>(&marker), name};
      }
      ready.count_down();
      while (!stop.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  }
  ready.wait();
  volatile uint64_t local = 0xC0FFEE99;  // on this stack while the dump is written
  markers[static_cast<uint32_t>(gettid())] = {reinterpret_cast<uint64_t>(&local), ""};
  const std::string dump = WriteDump(nullptr, false);

  // Every thread, the caller first, with the stack holding its marker and its name.
  const std::string threads = crs_test::MinidumpStream(dump, 3);
  const std::string names = crs_test::MinidumpStream(dump, 24);
  ASSERT_EQ(ReadAt<uint32_t>(threads, 0), ReadAt<uint32_t>(names, 0));
  std::map<uint32_t, std::string> name_of;
  for (uint32_t i = 0; i < ReadAt<uint32_t>(names, 0); ++i) {
    const uint32_t rva = ReadAt<uint32_t>(names, 4 + i * 12ull + 4);
    std::string name;  // UTF-16 in the dump
    for (uint32_t k = 0; k < ReadAt<uint32_t>(dump, rva); k += 2) name += dump[rva + 4 + k];
    name_of[ReadAt<uint32_t>(names, 4 + i * 12ull)] = name;
  }
  EXPECT_EQ(static_cast<uint32_t>(gettid()), ReadAt<uint32_t>(threads, 4));
  size_t seen = 0;
  for (uint32_t i = 0; i < ReadAt<uint32_t>(threads, 0); ++i) {
    const uint64_t entry = 4 + i * 48ull;
    const auto it = markers.find(ReadAt<uint32_t>(threads, entry));
    if (it == markers.end()) continue;
    ++seen;
    const auto& [marker, name] = it->second;
    const uint64_t start = ReadAt<uint64_t>(threads, entry + 24);
    const uint32_t context = ReadAt<uint32_t>(threads, entry + 44);
    EXPECT_EQ(0x0010000Fu, ReadAt<uint32_t>(dump, context + 0x30));  // full AMD64 context
    EXPECT_LE(start, ReadAt<uint64_t>(dump, context + 0x98));        // rsp
    ASSERT_LE(start, marker) << name;
    ASSERT_GE(start + ReadAt<uint32_t>(threads, entry + 32), marker + 8) << name;
    EXPECT_EQ(i == 0 ? 0xC0FFEE99u : 0xC0FFEE00u + (name.back() - '0'),
              ReadAt<uint64_t>(dump, ReadAt<uint32_t>(threads, entry + 36) + (marker - start)));
    EXPECT_EQ(name, i == 0 ? "" : name_of[it->first]);
  }
  EXPECT_EQ(markers.size(), seen);

  // No fault record: no exception stream; a normal dump: no full memory.
  const crs_test::MinidumpFacts facts = crs_test::ReadMinidump(dump);
  EXPECT_FALSE(facts.has_exception);
  EXPECT_FALSE(facts.full_memory);
  EXPECT_EQ(9, facts.architecture);
  for (uint32_t type : {4u, 5u, 15u, 0x47670004u, 0x47670006u, 0x47670009u}) {
    EXPECT_FALSE(crs_test::MinidumpStream(dump, type).empty()) << type;
  }
  EXPECT_EQ(0x8201u, ReadAt<uint32_t>(crs_test::MinidumpStream(dump, 7), 20));  // Linux
}

TEST(Minidump, FaultRecordAndFullMemory) {
  platform::CrashInfo info{};
  info.code = 11;
  info.subcode = 1;
  info.address = 0x10;
  info.thread_id = static_cast<uint32_t>(gettid());
  const std::string normal = WriteDump(&info, false);
  const std::string exception = crs_test::MinidumpStream(normal, 6);
  EXPECT_EQ(info.thread_id, ReadAt<uint32_t>(exception, 0));
  EXPECT_EQ(11u, ReadAt<uint32_t>(exception, 8));
  EXPECT_EQ(1u, ReadAt<uint32_t>(exception, 12));
  EXPECT_EQ(0x10u, ReadAt<uint64_t>(exception, 24));

  const std::string full = WriteDump(&info, true);
  const std::string memory64 = crs_test::MinidumpStream(full, 9);
  uint64_t total = 0;
  for (uint64_t i = 0; i < ReadAt<uint64_t>(memory64, 0); ++i)
    total += ReadAt<uint64_t>(memory64, 24 + i * 16);
  EXPECT_EQ(full.size(), ReadAt<uint64_t>(memory64, 8) + total);
  EXPECT_GT(full.size(), normal.size());
}

// Three frames of our own, each with a frame pointer.
__attribute__((noinline)) size_t WalkHere(platform::CrashFrame* frames, size_t max) {
  platform::CrashInfo info{};
  info.pc = reinterpret_cast<uint64_t>(&WalkHere) + 1;
  info.fp = reinterpret_cast<uint64_t>(__builtin_frame_address(0));
  info.sp = info.fp;
  return platform::WalkCrashStack(&info, frames, max);
}
__attribute__((noinline)) size_t Middle(platform::CrashFrame* frames, size_t max) {
  size_t n = WalkHere(frames, max);
  asm volatile("" ::: "memory");  // keeps the call from becoming a jump
  return n;
}

TEST(CrashStack, WalksTheFrameChainAndNamesTheModule) {
  platform::CrashFrame frames[10];
  size_t n = Middle(frames, 10);
  ASSERT_GE(n, 3u);
  EXPECT_STREQ("crs_posix_test", frames[0].module);
  EXPECT_EQ(reinterpret_cast<uint64_t>(&WalkHere) + 1, frames[0].pc);
  // Frame 1 returns into Middle, frame 2 into this test.
  EXPECT_GT(frames[1].pc, reinterpret_cast<uint64_t>(&Middle));
  EXPECT_LT(frames[1].pc, reinterpret_cast<uint64_t>(&Middle) + 256);
  EXPECT_STREQ("crs_posix_test", frames[1].module);
  for (size_t i = 0; i < n; ++i) {
    if (frames[i].module[0] != '\0') {
      EXPECT_LT(frames[i].module_base, frames[i].pc);
    }
    if (i > 0) {
      EXPECT_GT(frames[i].sp, frames[i - 1].sp);
    }
  }
  EXPECT_EQ(2u, Middle(frames, 2));  // the bound holds

  // A chain that leads off the stack ends the walk instead of faulting.
  platform::CrashInfo broken{};
  broken.pc = 0x1234;
  broken.fp = 0x8;
  broken.sp = reinterpret_cast<uint64_t>(__builtin_frame_address(0));
  EXPECT_EQ(1u, platform::WalkCrashStack(&broken, frames, 10));
  EXPECT_STREQ("", frames[0].module);
  EXPECT_EQ(0u, frames[0].module_base);
}

// The crash path's ini reader answers as the settings reader does.
TEST(CrashProfileInt, AnswersAsGetPrivateProfileInt) {
  crs_test::TempFolder tmp;
  const std::string file = (tmp.path() / "Setting.ini").string();
  const char* const cases[] = {
      "[GameMgmt]\nFullDump=0\n",
      "[GameMgmt]\r\nFullDump = 7 \r\n",
      "[gamemgmt]\nfulldump=0x1F\n",
      "[GameMgmt]\nFullDump=-1\n",
      "[GameMgmt]\nFullDump=12abc\n",
      "[GameMgmt]\nFullDump=abc\n",
      "[GameMgmt]\nFullDump=\n",
      "[GameMgmt]\nFullDump=\"0\"\n",
      "[GameMgmt]\n;FullDump=0\n",
      "[Other]\nFullDump=0\n[GameMgmt]\nReadProcessMemory=1\n",
      "[GameMgmt]\nFullDump=0\nFullDump=5\n",
      "[GameMgmt]\nX=1\n[GameMgmt]\nFullDump=0\n",
      "  [ GameMgmt ]  \n  FullDump=0\n",
      "FullDump=0\n[GameMgmt]\n",
      "",
  };
  for (const char* content : cases) {
    crs_test::WriteWhole(file, content);
    for (int fallback : {1, 9}) {
      EXPECT_EQ(platform::GetPrivateProfileInt("GameMgmt", "FullDump", fallback, file.c_str()),
                crs::CrashProfileInt("GameMgmt", "FullDump", fallback, file.c_str()))
          << "ini: " << content << " default " << fallback;
    }
  }
  const std::string missing = (tmp.path() / "none.ini").string();
  EXPECT_EQ(1u, crs::CrashProfileInt("GameMgmt", "FullDump", 1, missing.c_str()));
  // The deployment folder's file keeps the default, full dumps.
  const std::string shipped = SERVERAPP_SOURCE_DIR "/data/dist/Setting.ini";
  EXPECT_EQ(1u, crs::CrashProfileInt("GameMgmt", "FullDump", 0, shipped.c_str()));
}

// A PUT for path to a loopback listener that answers `answer` and hangs up:
// the first error of ReceiveResponse and QueryStatus; *line: the request line.
uint32_t Exchange(const std::string& answer, const char* path, uint32_t* status,
                  std::string* line) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(address);
  EXPECT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), size));
  EXPECT_EQ(0, listen(listener, 4));
  EXPECT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size));
  platform::HttpEndpoint endpoint{};
  EXPECT_EQ(0u, platform::HttpResolve("127.0.0.1", ntohs(address.sin_port), &endpoint));
  platform::HttpSession session;
  EXPECT_EQ(0u, session.Open());
  EXPECT_EQ(0u, session.Connect(endpoint, "127.0.0.1"));
  platform::HttpPut put;
  EXPECT_EQ(0u, put.Open(session, path));
  EXPECT_EQ(0u, put.Send("", 0));
  const int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
  close(listener);
  EXPECT_GE(peer, 0);
  // Read the whole request head, so that hanging up is an end, not a reset.
  std::string request;
  char buffer[1024];
  for (ssize_t n; request.find("\r\n\r\n") == std::string::npos &&
                  (n = recv(peer, buffer, sizeof(buffer), 0)) > 0;) {
    request.append(buffer, static_cast<size_t>(n));
  }
  EXPECT_NE(std::string::npos, request.find("\r\n\r\n"));
  *line = request.substr(0, request.find("\r\n"));
  EXPECT_EQ(static_cast<ssize_t>(answer.size()),
            send(peer, answer.data(), answer.size(), MSG_NOSIGNAL));
  close(peer);
  const uint32_t error = put.ReceiveResponse();
  return error != 0 ? error : put.QueryStatus(status);
}

// The status comes from the status line only; the path goes out escaped
// byte for byte as WinHTTP escapes it (seen under Wine): '%' and the
// characters allowed in a path stay.
TEST(HttpPutStatus, TheStatusComesFromTheStatusLineOnly) {
  const uint32_t kProto = EPROTO;
  const std::string kOk = "HTTP/1.1 200 OK\r\n\r\n";
  const struct {
    std::string answer;
    uint32_t error;
    uint32_t status;
    const char* path = "/crs/a.dmp";
    const char* line = "PUT /crs/a.dmp HTTP/1.1";
  } rows[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 0, 200},
      {"HTTP/1.0 503 Busy\r\n\r\n", 0, 503},
      // A status line without a code: the "200" of a later line is not the
      // service's answer, and the upload must not count as delivered.
      {"HTTP/1.1\r\nX-Note: 200 OK\r\n\r\n", kProto, 0},
      // A status line shorter than "HTTP/1.x NNN", followed by more bytes:
      // the answer must not depend on how many bytes the first read brought.
      {"HTTP/1 441\n\xdc\n\n\n\n", kProto, 0},
      // Not HTTP, no line end before the end, nothing at all, a line end
      // beyond the 512 bytes kept.
      {"SSH-2.0-OpenSSH_9\r\n", kProto, 0},
      {"HTTP/1.1 200 OK", kProto, 0},
      {"", static_cast<uint32_t>(ECONNRESET), 0},
      {"HTTP/1.1 200 " + std::string(600, 'x') + "\r\n", kProto, 0},
      {kOk, 0, 200, "/up/a b%41~!$&'()*+,;=:@{}|^`\"<>\\x#?q=[1]",
       "PUT /up/a%20b%41~!$&'()*+,;=:@%7B%7D%7C%5E%60%22%3C%3E%5Cx%23?q=%5B1%5D HTTP/1.1"},
      {kOk, 0, 200, "/\x01\t\x7f\xc2\x80\xea\xb0\x80.dmp",
       "PUT /%01%09%7F%C2%80%EA%B0%80.dmp HTTP/1.1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.answer + " for " + row.path);
    uint32_t status = 0;
    std::string line;
    EXPECT_EQ(row.error, Exchange(row.answer, row.path, &status, &line));
    EXPECT_EQ(row.status, status);
    EXPECT_EQ(row.line, line);
  }
}

}  // namespace

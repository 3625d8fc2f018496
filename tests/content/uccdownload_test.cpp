// The content-package map load against the development content server, on
// an injected clock.
#include "content/uccdownload.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "content_test_support.h"
#include "protocol/gameservermsg.h"

namespace {

using namespace contenttest;

constexpr int64_t kReason5 = 0x0007FFFA;  // map 7, low word -1 - 5
constexpr int64_t kReason6 = 0x0007FFF9;  // map 7, low word -1 - 6

class UccDownload : public ::testing::Test {
 protected:
  UccDownload() { WriteUccSetting(repo_.string(), server_.url()); }

  void ExpectInitDelivered(int16_t map, uint8_t round, uint8_t match) {
    ASSERT_EQ(dialog_.server.received.size(), 1u);
    const ReceivedInit& got = dialog_.server.received[0];
    EXPECT_EQ(got.id, 0u);  // SERVERAPPMSG_INIT
    EXPECT_EQ(got.init.tMapIndex, map);
    EXPECT_EQ(got.init.roundType, round);
    EXPECT_TRUE(got.init.bLoad);
    EXPECT_EQ(got.init.cFixed, -1);
    EXPECT_EQ(got.init.MatchType, match);
    EXPECT_FALSE(got.init.bSecondFlag);
  }

  Sandbox sandbox_;
  const fs::path repo_ = sandbox_.dir() / "repo";
  const fs::path served_ = sandbox_.dir() / "served";
  ContentServer server_{served_};
  FakeDialog dialog_;
};

TEST_F(UccDownload, BodyOf10240BytesIsRejectedAnd10241Accepted) {
  WriteFileOfSize(served_ / "pkg.rez", 10240);
  CUccDownload ucc(dialog_.Host());
  ucc.BeginUccMapLoad(MakeRecord(7, 1, 1, "pkg.rez"));

  ASSERT_EQ(dialog_.posts.size(), 1u);
  EXPECT_EQ(dialog_.posts[0].msgID, GAMESERVERMSG_LOADING_COMPLETE);
  EXPECT_EQ(dialog_.posts[0].lParam, kReason5);
  EXPECT_EQ(dialog_.shell_levels, std::vector<uint32_t>{0});
  EXPECT_TRUE(
      sandbox_.Has("[UCCLog] rez file download fail (HTTPERROR) reason : 3, filename "
                   ": pkg.rez, Error Number : 0"));
  EXPECT_FALSE(fs::exists(repo_ / "pkg.rez"));
  auto temps = TempFiles(repo_);
  ASSERT_EQ(temps.size(), 1u);  // left in place
  EXPECT_EQ(fs::file_size(temps[0]), 10240u);
  EXPECT_TRUE(temps[0].filename().string().ends_with("_pkg.rez.log"));
  EXPECT_TRUE(ucc.GetState().m_bUccRequestOpen);

  // One byte more is a package: renamed into place, no new temporary file.
  WriteFileOfSize(served_ / "pkg.rez", 10241, 'k');
  dialog_.posts.clear();
  ucc.BeginUccMapLoad(MakeRecord(7, 1, 1, "pkg.rez"));
  EXPECT_TRUE(dialog_.posts.empty());
  EXPECT_EQ(ReadFile(repo_ / "pkg.rez"), ReadFile(served_ / "pkg.rez"));
  EXPECT_EQ(TempFiles(repo_).size(), 1u);        // the rejected one only
  EXPECT_TRUE(dialog_.server.received.empty());  // the poll hands it over
  EXPECT_EQ(dialog_.module_calls, 0);

  ucc.PollUccDownload();
  ExpectInitDelivered(7, 1, 1);
  EXPECT_TRUE(sandbox_.Has("[UCCLog] rez file download success. filename : pkg.rez"));
  EXPECT_FALSE(ucc.GetState().m_bUccRequestOpen);
}

TEST_F(UccDownload, PackagePlacedDuringTransferWinsAndTheCopyIsDeleted) {
  WriteFileOfSize(served_ / "pkg.rez", 20000, 'n');
  const std::string theirs(12000, 'T');
  server_.service().SetRequestHook(
      [&](const std::string&) { std::ofstream(repo_ / "pkg.rez", std::ios::binary) << theirs; });
  CUccDownload ucc(dialog_.Host());
  ucc.BeginUccMapLoad(MakeRecord(7, 1, 2, "pkg.rez"));

  EXPECT_TRUE(dialog_.posts.empty());
  EXPECT_EQ(ReadFile(repo_ / "pkg.rez"), theirs);
  EXPECT_TRUE(TempFiles(repo_).empty());
  EXPECT_TRUE(sandbox_.Has("[UCCLog] rez temp file delete success. filename : "));

  ucc.PollUccDownload();
  ExpectInitDelivered(7, 1, 2);
  EXPECT_TRUE(dialog_.posts.empty());
}

TEST_F(UccDownload, FailedDownloadReportsReason5ThenReason6AfterMoreThan60000Ms) {
  // Nothing served: 404. The clock is close to its wrap.
  dialog_.clock = 0xFFFFF000u;
  CUccDownload ucc(dialog_.Host());
  ucc.BeginUccMapLoad(MakeRecord(7, 1, 1, "none.rez"));
  ASSERT_EQ(dialog_.posts.size(), 1u);
  EXPECT_EQ(dialog_.posts[0].lParam, kReason5);
  EXPECT_TRUE(sandbox_.Has("reason : 2, filename : none.rez, Error Number : 404"));
  EXPECT_EQ(ucc.GetState().m_dwUccWaitStart, 0xFFFFF000u);

  // Exactly 60000 ms of summed waiting is not yet a time-out.
  for (uint32_t step : {20000u, 20000u, 20000u}) {
    dialog_.clock += step;
    ucc.PollUccDownload();
  }
  EXPECT_EQ(ucc.GetState().m_dwUccWaitElapsed, 60000u);
  EXPECT_EQ(dialog_.posts.size(), 1u);

  dialog_.clock += 1;
  ucc.PollUccDownload();
  ASSERT_EQ(dialog_.posts.size(), 2u);
  EXPECT_EQ(dialog_.posts[1].msgID, GAMESERVERMSG_LOADING_COMPLETE);
  EXPECT_EQ(dialog_.posts[1].lParam, kReason6);
  EXPECT_TRUE(sandbox_.Has("[UCCLog] rez file download fail. (TIMEOUT) filename : none.rez"));
  EXPECT_FALSE(ucc.GetState().m_bUccRequestOpen);
  EXPECT_EQ(ucc.GetState().m_dwUccWaitElapsed, 0u);
  EXPECT_EQ(dialog_.shell_levels.size(), 2u);

  // Closed: nothing more, even if the package shows up now.
  WriteFileOfSize(repo_ / "none.rez", 20000);
  dialog_.clock += 100000;
  ucc.PollUccDownload();
  EXPECT_EQ(dialog_.posts.size(), 2u);
  EXPECT_TRUE(dialog_.server.received.empty());

  // A new request replaces the waiting one. Its package arriving after the
  // 60000 ms but before the poll that would time out is still handed over.
  ucc.BeginUccMapLoad(MakeRecord(8, 1, 1, "first.rez"));
  ucc.BeginUccMapLoad(MakeRecord(9, 1, 1, "second.rez"));
  EXPECT_EQ(ucc.GetState().m_UccGamePlay.MapName, "second.rez");
  WriteFileOfSize(repo_ / "first.rez", 20000);
  ucc.PollUccDownload();
  EXPECT_TRUE(dialog_.server.received.empty());
  WriteFileOfSize(repo_ / "second.rez", 20000);
  dialog_.clock += 70000;
  ucc.PollUccDownload();
  ExpectInitDelivered(9, 1, 1);
  EXPECT_EQ(dialog_.posts.size(), 4u);  // their reasons 5, no reason 6

  // The map index in the high word; a module's reason is taken as signed 8 bits.
  ucc.ReportUccMapFail(static_cast<int16_t>(0x8001), 5);
  ucc.ReportUccMapFail(3, -1);
  ASSERT_EQ(dialog_.posts.size(), 6u);
  EXPECT_EQ(dialog_.posts[4].lParam, 0x8001FFFA);
  EXPECT_EQ(dialog_.posts[5].lParam, 0x00030000);
}

TEST_F(UccDownload, TricklingServerIsGivenUpWithinTheLimits) {
  WriteFileOfSize(served_ / "slow.rez", 20000);
  // Short limits: 10 bytes every 100 ms is aborted midway within a second,
  // with libcurl's time-out (28); the partial temporary file stays. (No
  // answer at all: HttpGet.TricklingAndStalledServersAreAbandoned.)
  CUccDownload ucc(dialog_.Host(), platform::HttpGetLimits{1000, 1024, 1, 20000});
  server_.service().SetBehaviour({devhttp::ContentService::Mode::kTrickle, 10, 0, 100});
  const auto start = std::chrono::steady_clock::now();
  ucc.BeginUccMapLoad(MakeRecord(7, 1, 1, "slow.rez"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(6));
  ASSERT_EQ(dialog_.posts.size(), 1u);
  EXPECT_EQ(dialog_.posts[0].lParam, kReason5);
  EXPECT_TRUE(sandbox_.Has("reason : 4, filename : slow.rez"));
  EXPECT_TRUE(sandbox_.Has("[ucclog] UCC file Write Error Number : 28)"));
  const auto temps = TempFiles(repo_);
  ASSERT_EQ(temps.size(), 1u);
  EXPECT_LT(fs::file_size(temps[0]), 20000u);
  EXPECT_FALSE(fs::exists(repo_ / "slow.rez"));
}

TEST_F(UccDownload, RefusedNamesTouchNeitherFilesNorNetwork) {
  CUccDownload ucc(dialog_.Host());
  ucc.BeginUccMapLoad(MakeRecord(7, 1, 1, "earlier.rez"));
  ASSERT_EQ(dialog_.posts.size(), 1u);
  ASSERT_TRUE(ucc.GetState().m_bUccRequestOpen);
  fs::remove_all(repo_);
  const size_t requests_before = server_.service().Requests().size();

  stUCCGamePlay unterminated = MakeRecord(7, 1, 1, "");
  std::fill(std::begin(unterminated.MapName), std::end(unterminated.MapName), 'a');
  std::vector<stUCCGamePlay> refused = {unterminated};
  for (const char* name : {"", "../x.rez", "sub/x.rez", "sub\\x.rez", "..", ".", "a..rez",
                           "x\x01.rez", "x\x7f.rez", "C:x.rez", "*.rez", "/etc/passwd"}) {
    refused.push_back(MakeRecord(7, 1, 1, name));
  }
  for (const stUCCGamePlay& record : refused) {
    dialog_.posts.clear();
    ucc.BeginUccMapLoad(record);
    ASSERT_EQ(dialog_.posts.size(), 1u) << record.MapName;
    EXPECT_EQ(dialog_.posts[0].lParam, kReason5) << record.MapName;
  }
  EXPECT_EQ(server_.service().Requests().size(), requests_before);
  EXPECT_FALSE(fs::exists(repo_));  // not even the folder was created
  EXPECT_TRUE(
      sandbox_.Has("[UCCLog] rez file name refused (path separator). filename : "
                   "sub/x.rez"));
  EXPECT_TRUE(sandbox_.Has("(control character). filename : x\\x01.rez"));
  EXPECT_TRUE(sandbox_.Has("(name not terminated)"));

  // The refusal replaced the earlier request.
  WriteFileOfSize(repo_ / "earlier.rez", 20000);
  ucc.PollUccDownload();
  EXPECT_TRUE(dialog_.server.received.empty());
  EXPECT_FALSE(ucc.GetState().m_bUccRequestOpen);
}

// A space, '#', '%' and '&' would cut or bend an unencoded URL.
TEST_F(UccDownload, SettingsAreReadAtEveryUseAndNamesArePercentEncoded) {
  const std::string plain = "my map #1 %20 & é.rez";
  WriteFileOfSize(served_ / plain, 15000);

  WriteUccSetting(repo_.string(), "");
  uint32_t error = 0;
  EXPECT_EQ(DownloadRezFile(plain, kRezDownloadLimits, &error), REZ_DOWNLOAD_OPEN_FAILED);
  EXPECT_NE(error, 0u);

  const fs::path repo = sandbox_.dir() / "a" / "b" / "repo";
  WriteUccSetting(repo.string(), server_.url());
  EXPECT_EQ(GetRezFilePath(), repo.string() + "/");
  EXPECT_TRUE(fs::is_directory(repo));
  EXPECT_EQ(DownloadRezFile(plain, kRezDownloadLimits, &error), REZ_DOWNLOAD_OK);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(server_.service().Requests(), std::vector<std::string>{plain});
  EXPECT_EQ(ReadFile(repo / plain), ReadFile(served_ / plain));

  // No RezFilePath: the root folder (the Windows build's drive root).
  WriteUccSetting("", server_.url());
  EXPECT_EQ(GetRezFilePath(), "/");
}

TEST_F(UccDownload, PresentPackageIsHandedOverAndDeliveryProblemsAreContained) {
  WriteFileOfSize(repo_ / "pkg.rez", 100);
  CUccDownload ucc(dialog_.Host());
  // At once, without a transfer; a refusal by the module is not retried.
  // Only the low 16 / 8 / 8 bits of the record's values count.
  dialog_.server.answer = 1;
  ucc.BeginUccMapLoad(MakeRecord(0x10007, 0x102, 0x203, "pkg.rez"));
  EXPECT_TRUE(server_.service().Requests().empty());
  ExpectInitDelivered(7, 2, 3);
  EXPECT_EQ(dialog_.frame_intervals, std::vector<uint32_t>{kUccMapFrameInterval});
  EXPECT_TRUE(dialog_.posts.empty());
  EXPECT_TRUE(sandbox_.Has("[UCCLog] Already Has the rez file. filename : pkg.rez"));
  EXPECT_FALSE(ucc.GetState().m_bUccRequestOpen);

  dialog_.has_module = false;
  ucc.BeginUccMapLoad(MakeRecord(8, 1, 1, "pkg.rez"));
  EXPECT_EQ(dialog_.server.received.size(), 1u);
  EXPECT_TRUE(sandbox_.Has("[UCCLog] no server module to load the map. filename : pkg.rez"));
  EXPECT_FALSE(ucc.GetState().m_bUccRequestOpen);

  dialog_.has_module = true;
  const int calls = dialog_.module_calls;
  ucc.LoadUccMap();
  EXPECT_EQ(dialog_.module_calls, calls);
}

TEST_F(UccDownload, WindowAndUpdateThreadsShareTheRequestSafely) {
  // Every map is handed over at most once, and a present package at once.
  WriteFileOfSize(repo_ / "here.rez", 20000);
  CUccDownload ucc(dialog_.Host());
  std::atomic<bool> stop{false};
  std::thread update([&] {
    while (!stop.load()) {
      {
        std::lock_guard<std::recursive_mutex> lock(dialog_.module_lock);
        ucc.PollUccDownload();
      }
      std::this_thread::yield();
    }
  });
  constexpr int kRequests = 40;
  for (int i = 0; i < kRequests; ++i) {
    const std::string name = i % 2 == 0 ? "here.rez" : "got" + std::to_string(i) + ".rez";
    if (i % 2 != 0) WriteFileOfSize(served_ / name, 11000);
    ucc.BeginUccMapLoad(MakeRecord(static_cast<uint32_t>(i), 1, 1, name));
  }
  for (int spin = 0; spin < 5000 && ucc.GetState().m_bUccRequestOpen; ++spin) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  stop = true;
  update.join();

  std::lock_guard<std::recursive_mutex> lock(dialog_.module_lock);
  std::set<int> delivered;
  for (const ReceivedInit& got : dialog_.server.received) {
    EXPECT_TRUE(delivered.insert(got.init.tMapIndex).second) << "twice: " << got.init.tMapIndex;
  }
  for (int i = 0; i < kRequests; i += 2) EXPECT_EQ(delivered.count(i), 1u) << i;
  EXPECT_EQ(delivered.count(kRequests - 1), 1u);
  EXPECT_TRUE(dialog_.posts.empty());
}

}  // namespace

// The map package load and the game-info snapshot through a real ServerApp.
// A downloaded package and a queued game information both wait for the end
// of the first 10 s idle frame, so every case runs in one host, the quick
// ones first, and the test waits for that frame once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <thread>

#include "gsmsim/peer/manager_peer.h"
#include "host_harness.h"
#include "platform/dialog.h"
#include "protocol/gameinfo.h"
#include "protocol/gameservermsg.h"
#include "protocol/managerrecords.h"
#include "support/content_server.h"
#include "support/scratch.h"

namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;
using hosttest::HostFolder;
namespace fs = std::filesystem;

template <typename T>
std::span<const std::byte> Bytes(const T& value) {
  return {reinterpret_cast<const std::byte*>(&value), sizeof(T)};
}

stUCCGamePlay Play(uint32_t map, uint32_t round, uint32_t match, const std::string& name) {
  stUCCGamePlay play{};
  play.MapIndex = map;
  play.RoundType = round;
  play.MatchType = match;
  std::memcpy(play.MapName, name.data(), std::min(name.size(), sizeof(play.MapName) - 1));
  return play;
}

// A short or shifted copy of this body compares unequal.
std::string PackageBody(size_t size, char seed) {
  std::string body(size, '\0');
  for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>(seed + i * 7 + i / 251);
  return body;
}

// LOADING_COMPLETE posts for `map`: lParam (map << 16) | low word.
gsmsim::MessagePredicate LoadingComplete(uint16_t map, uint16_t low) {
  return [map, low](const gsmsim::ReceivedMessage& m) {
    return gsmsim::IsManagerPost(GAMESERVERMSG_LOADING_COMPLETE)(m) &&
           static_cast<uint32_t>(m.l_param) == (uint32_t{map} << 16 | low);
  };
}

TEST(ContentWire, PackagesAreLoadedAndTheGameInfoIsSaved) {
  HostFolder folder;
  testsupport::ContentServer services;
  std::string why;
  if (!services.Start(&why)) GTEST_SKIP() << why;
  fs::create_directories(folder.work() / "ucc");
  std::ofstream(folder.work() / "UCCSetting.ini", std::ios::binary)
      << "[rezrepositoryinfo]\nRezFilePath=ucc\n[fileserverurl]\nServerURL=" << services.Url()
      << "\n";
  const std::string present = PackageBody(12000, 'a');
  const std::string served = PackageBody(20000, 'k');
  std::ofstream(folder.work() / "ucc" / "present.rez", std::ios::binary) << present;
  std::ofstream(services.Root() / "served.rez", std::ios::binary) << served;
  // The key in capitals, the value in its own case (compared in the
  // folder's listing: Windows names are not case sensitive).
  const fs::path snapshot = folder.root() / "Snap.BIN";

  auto manager = gsmsim::ManagerPeer::Start();
  ASSERT_NE(manager, nullptr);
  auto host = folder.Start({std::to_string(manager->handle()), "5000", "1", "7", "9",
                            "-SAVEGAMEINFO=" + snapshot.string()});
  ASSERT_NE(host, nullptr);
  auto hwnd = manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 10s);
  ASSERT_TRUE(hwnd);
  const auto target = static_cast<platform::WindowHandle>(hwnd->l_param);

  // Queued now, delivered (and saved) at the end of the idle frame.
  auto info = std::make_unique<PROTO_START_HOST>();
  std::memcpy(info->GameLogSerial, "SNAP-1", 6);
  info->GameLogSerial[sizeof(info->GameLogSerial) - 1] = 'Z';  // a byte at the far end too
  manager->SendCopyData(target, GAMESERVERMSG_START_HOST, Bytes(*info));

  // 1. The package is already there.
  manager->SendCopyData(target, GAMESERVERMSG_UCC_MAP_LOAD, Bytes(Play(11, 1, 2, "present.rez")));
  ASSERT_TRUE(folder.WaitForTrace("SendToServerShell id=0 map=11 round=1 match=2 load=1", 3s));
  EXPECT_TRUE(manager->WaitFor(LoadingComplete(11, 0), 3s));
  EXPECT_TRUE(services.ContentRequests().empty());

  // 2. A name with a path is refused before any file or network access.
  manager->SendCopyData(target, GAMESERVERMSG_UCC_MAP_LOAD, Bytes(Play(12, 1, 2, "../evil.rez")));
  EXPECT_TRUE(manager->WaitFor(LoadingComplete(12, 0xFFFA), 3s));
  EXPECT_TRUE(folder.WaitForHostLog("[UCCLog] rez file name refused", 3s));
  EXPECT_TRUE(services.ContentRequests().empty());
  EXPECT_FALSE(fs::exists(folder.work() / "evil.rez"));

  // 3. Downloaded during the send, handed over by the next frame.
  manager->SendCopyData(target, GAMESERVERMSG_UCC_MAP_LOAD, Bytes(Play(13, 2, 3, "served.rez")));
  EXPECT_EQ(services.ContentRequests(), std::vector<std::string>{"served.rez"});
  EXPECT_EQ(testsupport::ReadFile(folder.work() / "ucc" / "served.rez"), served);
  EXPECT_THAT(folder.HostLog(),
              HasSubstr("[UCCLog] start rez file download. filename : served.rez"));
  EXPECT_FALSE(manager->WaitFor(LoadingComplete(13, 0xFFFA), 0ms));  // no failure report

  ASSERT_TRUE(folder.WaitForTrace("SendToServerShell id=0 map=13 round=2 match=3 load=1", 15s));
  EXPECT_TRUE(manager->WaitFor(LoadingComplete(13, 0), 3s));
  EXPECT_EQ(folder.CountTrace("SendToServerShell id=0 map=11"), 1u);
  EXPECT_EQ(folder.CountTrace("SendToServerShell id=0 map=13"), 1u);
  EXPECT_FALSE(manager->WaitFor(LoadingComplete(13, 0xFFF9), 0ms));

  // 4. The game information in the same frame; the file holds its record.
  ASSERT_TRUE(folder.WaitForTrace("SendToServerShell id=7", 5s));
  ASSERT_TRUE(manager->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_START_HOST_ACK), 5s));
  const std::string saved = testsupport::ReadFile(snapshot);
  ASSERT_EQ(saved.size(), 211406u);
  EXPECT_EQ(std::memcmp(saved.data(), info.get(), sizeof(PROTO_START_HOST)), 0);
  EXPECT_TRUE(std::ranges::any_of(fs::directory_iterator(folder.root()), [](const auto& entry) {
    return entry.path().filename() == "Snap.BIN";
  }));

  ASSERT_TRUE(host->Terminate());
  EXPECT_EQ(hosttest::WaitExit(*host, 10000), platform::kIdOk);
}

}  // namespace

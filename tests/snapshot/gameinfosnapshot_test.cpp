// The option reader and the game-info snapshot file.
#include "snapshot/gameinfosnapshot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/fault_injection.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
namespace fault = platform::fault;

TEST(CommandLineOption, KeyMatchesAnyCaseValueKeepsItsOwn) {
  EXPECT_EQ(GetCommandLineOption("-SaveGameInfo=", "1 2 3 4 5", "dflt"), "dflt");
  EXPECT_EQ(GetCommandLineOption("-SaveGameInfo=", "1 2 -SAVEGAMEINFO=/Tmp/Room.bin 3", ""),
            "/Tmp/Room.bin");
  // Up to the next space; no quoting.
  EXPECT_EQ(GetCommandLineOption("-SaveGameInfo=", "-savegameinfo=/a b/c -x=1", ""), "/a");
  // The last word with nothing after it: empty.
  EXPECT_EQ(GetCommandLineOption("-SaveGameInfo=", "1 2 -SaveGameInfo=", "dflt"), "");
  // Anywhere, also inside a longer word; the first of two wins.
  EXPECT_EQ(GetCommandLineOption("-SaveGameInfo=", "x-savegameinfo=/one -SaveGameInfo=/two", ""),
            "/one");
  // Only a whole key counts.
  EXPECT_EQ(GetCommandLineOption("-SaveGameInfo=", "-SaveGameInf", "d"), "d");
}

class Snapshot : public ::testing::Test {
 protected:
  void TearDown() override {
    fault::Reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  static std::unique_ptr<PROTO_START_HOST> Record(int32_t first, char fill) {
    auto record = std::make_unique<PROTO_START_HOST>();
    record->f0 = first;
    std::memset(record->Users[49].f3771, fill, sizeof(record->Users[49].f3771));
    return record;
  }

  static std::string Bytes(const PROTO_START_HOST& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof(record));
  }

  const fs::path dir_ = testsupport::MakeScratchFolder("snapshot-");
};

// No option: nothing made. A path that cannot be opened (a folder, as the
// value ends at a space; a faulted open) or written: answered, nothing made,
// and the next snapshot is whole. (A missing folder: DispatchHost; the key in
// capitals and the name's own case: ContentWire.)
TEST_F(Snapshot, FailuresAreAnsweredAndTheNextSnapshotIsWhole) {
  auto record = Record(3, 'x');
  EXPECT_EQ(SaveGameInfoSnapshot("1 2 3 4 5", *record), SnapshotResult::kNoOption);
  EXPECT_EQ(SaveGameInfoSnapshot("1 2 3 4 5 -SaveGameInfo=", *record), SnapshotResult::kNoOption);
  EXPECT_TRUE(fs::is_empty(dir_));
  fs::create_directories(dir_ / "my");
  const std::string folder = "-SaveGameInfo=" + (dir_ / "my").string() + " room.bin";
  EXPECT_EQ(SaveGameInfoSnapshot(folder, *record), SnapshotResult::kOpenFailed);
  EXPECT_FALSE(fs::exists(dir_ / "my room.bin"));
  EXPECT_TRUE(fs::is_empty(dir_ / "my"));

  const std::string line = "1 5000 0 7 9 -SaveGameInfo=" + (dir_ / "s.bin").string();
  fault::Reset();  // counts from here
  fault::Arm(fault::Point::kFileOpen, 1, EACCES);
  EXPECT_EQ(SaveGameInfoSnapshot(line, *record), SnapshotResult::kOpenFailed);
  EXPECT_FALSE(fs::exists(dir_ / "s.bin"));
  fault::Arm(fault::Point::kFileWrite, 1, ENOSPC);
  EXPECT_EQ(SaveGameInfoSnapshot(line, *record), SnapshotResult::kShortWrite);
  fault::Reset();
  EXPECT_EQ(SaveGameInfoSnapshot(line, *record), SnapshotResult::kWritten);
  EXPECT_EQ(testsupport::ReadFile(dir_ / "s.bin"), Bytes(*record));

  // Two deliveries in one frame: the older record comes last, and the file
  // is rewritten, not appended to.
  auto older = Record(1, 'o');
  EXPECT_EQ(SaveGameInfoSnapshot(line, *older), SnapshotResult::kWritten);
  EXPECT_EQ(testsupport::ReadFile(dir_ / "s.bin"), Bytes(*older));
}

}  // namespace

// The game-info snapshot when its file cannot be opened or written: the
// result says so (the host goes on delivering), and the next record is
// written whole again.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>

#include "logtestutil.h"
#include "platform/fault_injection.h"
#include "snapshot/gameinfosnapshot.h"

namespace {

namespace fault = platform::fault;
using platform::fault::Point;

TEST(SnapshotFaults, OpenAndWriteFailuresAreAnsweredAndTheNextSnapshotIsWhole) {
  fault::Reset();
  logtest::TempDir dir;
  const std::filesystem::path file = dir.path() / "room.bin";
  const std::string command_line = "1 5000 0 7 9 -SaveGameInfo=" + file.string();
  auto record = std::make_unique<PROTO_START_HOST>();
  record->Users[49].USN = 4242;

  fault::Arm(Point::kFileOpen, 1, EACCES);
  EXPECT_EQ(SaveGameInfoSnapshot(command_line, *record), SnapshotResult::kOpenFailed);
  EXPECT_FALSE(std::filesystem::exists(file));

  fault::Arm(Point::kFileWrite, 1, ENOSPC);
  EXPECT_EQ(SaveGameInfoSnapshot(command_line, *record), SnapshotResult::kShortWrite);

  fault::Reset();
  EXPECT_EQ(SaveGameInfoSnapshot(command_line, *record), SnapshotResult::kWritten);
  const std::string bytes = logtest::ReadFile(file);
  ASSERT_EQ(bytes.size(), sizeof(PROTO_START_HOST));
  EXPECT_EQ(bytes,
            std::string(reinterpret_cast<const char*>(record.get()), sizeof(PROTO_START_HOST)));
}

}  // namespace

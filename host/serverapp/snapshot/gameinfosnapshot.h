// The game-info snapshot: with "-SaveGameInfo=<path>" on the command line,
// every game-information record the update thread delivers to the module is
// also written to <path>, as the raw 211406-byte record (no header, no
// length, no checksum). Without the option nothing is written.
#pragma once

#include <string>
#include <string_view>

#include "protocol/gameinfo.h"

// The command-line key of the snapshot path.
inline constexpr char kSaveGameInfoOption[] = "-SaveGameInfo=";

// The value of option `key` in `commandLine`: the key is found without
// regard to ASCII case, anywhere in the line (also inside a longer word; the
// first occurrence wins), and the value runs from right after it to the next
// space or the end of the line. The value keeps its own case: file names on
// POSIX are case sensitive. There is no quoting. Answers `defaultValue` when
// the key is absent.
std::string GetCommandLineOption(std::string_view key, std::string_view commandLine,
                                 std::string_view defaultValue);

// How a snapshot call ended.
enum class SnapshotResult {
  kWritten,     // the file now holds the record
  kNoOption,    // no "-SaveGameInfo=" or an empty value: nothing written
  kOpenFailed,  // the path could not be created (missing folder, no right)
  kShortWrite,  // the file could be opened but not all bytes were written
};

// The snapshot hook: writes `record` to the file named by "-SaveGameInfo=" in
// `commandLine` (the program's arguments without the program name),
// creating or truncating it, in one write. The update thread calls it with
// the record it has just taken out of the game-info store, while still
// holding the store's lock, before it delivers the record, and logs a
// failure (the delivery goes on); the result says what happened.
SnapshotResult SaveGameInfoSnapshot(std::string_view commandLine, const PROTO_START_HOST& record);

#include "snapshot/gameinfosnapshot.h"

#include <cstddef>

#include "platform/files.h"

namespace {

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Position of `key` in `line` without regard to ASCII case; npos when absent.
std::size_t FindNoCase(std::string_view line, std::string_view key) {
  if (key.size() > line.size()) return std::string_view::npos;
  for (std::size_t at = 0; at + key.size() <= line.size(); ++at) {
    std::size_t i = 0;
    while (i < key.size() && LowerAscii(line[at + i]) == LowerAscii(key[i])) ++i;
    if (i == key.size()) return at;
  }
  return std::string_view::npos;
}

}  // namespace

std::string GetCommandLineOption(std::string_view key, std::string_view commandLine,
                                 std::string_view defaultValue) {
  const std::size_t at = FindNoCase(commandLine, key);
  if (at == std::string_view::npos) return std::string(defaultValue);
  const std::string_view rest = commandLine.substr(at + key.size());
  return std::string(rest.substr(0, rest.find(' ')));
}

SnapshotResult SaveGameInfoSnapshot(std::string_view commandLine, const PROTO_START_HOST& record) {
  const std::string path = GetCommandLineOption(kSaveGameInfoOption, commandLine, "");
  if (path.empty()) return SnapshotResult::kNoOption;
  platform::ScopedFile file(platform::OpenForWrite(path.c_str()));
  if (!file.valid()) return SnapshotResult::kOpenFailed;
  return platform::WriteToFile(file.get(), &record, sizeof(record)) ? SnapshotResult::kWritten
                                                                    : SnapshotResult::kShortWrite;
}

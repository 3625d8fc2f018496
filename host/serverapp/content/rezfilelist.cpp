#include "content/rezfilelist.h"

#include <cstdint>

#include "interface/igameserver.h"
#include "platform/files.h"
#include "platform/identity.h"

namespace {

constexpr const char* kRezFolder = "rez";

// Names with an '_' after their first character are left out; names
// without one, or starting with one, are listed.
bool IsSkippedName(const std::string& name) {
  const size_t nUnderscore = name.find('_');
  return nUnderscore != std::string::npos && nUnderscore > 0;
}

}  // namespace

std::vector<std::string> CollectRezEntries() {
  std::vector<std::string> entries;
  const std::string pattern = std::string(kRezFolder) + "/*.rez";
  for (const platform::FoundFile& found : platform::FindFiles(pattern.c_str())) {
    if (found.is_folder || found.name == "." || found.name == "..") continue;
    if (IsSkippedName(found.name)) continue;
    entries.push_back(std::string(kRezFolder) + "/" + found.name);
  }
  entries.emplace_back(kRezFolder);
  for (int i = 2; i <= 3; ++i) entries.push_back(std::string(kRezFolder) + std::to_string(i));
  return entries;
}

bool BuildRezFileList(IGameServer* pServer) {
  if (!pServer) return false;
  const std::vector<std::string> entries = CollectRezEntries();

  std::vector<const char*> array;
  array.reserve(MAX_REZ_COUNT);
  for (const std::string& entry : entries) {
    if (array.size() == static_cast<size_t>(MAX_REZ_COUNT)) break;
    array.push_back(entry.c_str());
  }
  if (array.size() == static_cast<size_t>(MAX_REZ_COUNT)) {
    ::platform::DebuggerOutput("----------------------------------------------------\n");
    ::platform::DebuggerOutput("MAX_REZ_COUNT 카운트 초과!!!!\n");
    ::platform::DebuggerOutput("----------------------------------------------------\n");
  }
  return pServer->SetRezFileList(array.data(), static_cast<int32_t>(array.size()));
}

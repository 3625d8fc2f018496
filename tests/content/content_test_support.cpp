#include "content_test_support.h"

#include <fstream>
#include <iterator>

#include "interface/ltmessage.h"

namespace contenttest {

void WriteUccSetting(const std::string& rez_file_path, const std::string& server_url) {
  std::ofstream ini("UCCSetting.ini");
  ini << "[rezrepositoryinfo]\n";
  if (!rez_file_path.empty()) ini << "RezFilePath=" << rez_file_path << "\n";
  ini << "[fileserverurl]\n";
  if (!server_url.empty()) ini << "ServerURL=" << server_url << "\n";
}

void WriteFileOfSize(const fs::path& path, std::size_t size, char seed) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(seed + (i * 7) % 23);
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(size));
}

std::vector<fs::path> TempFiles(const fs::path& folder) {
  std::vector<fs::path> found;
  if (!fs::exists(folder)) return found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".log") found.push_back(entry.path());
  }
  return found;
}

int32_t RecordingServer::SendToServerShell(ILTMessage_Read* pMessage) {
  ReceivedInit entry;
  entry.id = pMessage->ReadBits(8);
  entry.init.Read(*pMessage);
  received.push_back(entry);
  return answer;
}

UccDownloadHost FakeDialog::Host() {
  UccDownloadHost host;
  host.TimeGetTime = [this] { return clock.load(); };
  const auto record = [this](auto& to, auto value) {
    std::lock_guard<std::mutex> lock(record_lock);
    to.push_back(value);
  };
  host.PostToManager = [this, record](uint16_t msgID, int64_t lParam) {
    record(posts, Post{msgID, lParam});
    return true;
  };
  host.LogShellText = [this, record](const std::string&, uint32_t level) {
    record(shell_levels, level);
  };
  host.StartMapFrames = [this, record](uint32_t interval) { record(frame_intervals, interval); };
  host.WithModule = [this](const std::function<void(IGameServer*, ILTCommon*)>& call) {
    std::lock_guard<std::recursive_mutex> lock(module_lock);
    ++module_calls;
    call(has_module ? &server : nullptr, has_module ? &common : nullptr);
  };
  return host;
}

stUCCGamePlay MakeRecord(uint32_t map_index, uint32_t round_type, uint32_t match_type,
                         const std::string& name) {
  stUCCGamePlay record{};
  record.MapIndex = map_index;
  record.RoundType = round_type;
  record.MatchType = match_type;
  name.copy(record.MapName, sizeof(record.MapName) - 1);
  return record;
}

}  // namespace contenttest

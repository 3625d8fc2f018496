#include "crashwire_host.h"

#include <fstream>

namespace crashwire {

namespace {

using namespace std::chrono_literals;

// A hard link where the file system allows one (cheap), else a copy.
void Place(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::create_hard_link(from, to, ec);
  if (ec) fs::copy_file(from, to);
}

}  // namespace

CrashRoom::CrashRoom(const RoomOptions& options) : folder_(options.switches) {
  bin_ = folder_.root() / "bin";
  fs::create_directories(bin_);
  for (const char* file : {kHostFile, kModuleFile})
    Place(fs::path(SERVERAPP_DIST_DIR) / file, bin_ / file);

  if (!services_.Start(&unavailable_) && unavailable_.empty()) unavailable_ = "no services";
  if (options.crs_ini && unavailable_.empty()) {
    std::ofstream(bin_ / "CRS.ini", std::ios::binary) << "[CRS]\r\nURL=" << Url() << "\r\n";
  }
  std::ofstream(folder_.work() / "Setting.ini", std::ios::app) << "[GameMgmt]\r\nFullDump=0\r\n";
  manager_ = gsmsim::ManagerPeer::Start();
}

CrashRoom::~CrashRoom() {
  if (host_ && hosttest::WaitExit(*host_, 0) == -1000) {
    host_->Kill();
    hosttest::WaitExit(*host_, 5000);
  }
}

bool CrashRoom::Start(uint16_t ready_post) {
  if (!unavailable_.empty() || manager_ == nullptr) return false;
  host_ = folder_.Start({std::to_string(manager_->handle()), "5000", "4", "7", "9"}, true,
                        Executable().string());
  if (host_ == nullptr) return false;
  auto hwnd = manager_->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 15s);
  if (!hwnd) return false;
  window_ = static_cast<platform::WindowHandle>(hwnd->l_param);
  window_thread_ = WindowThreadOf(window_);
  return manager_->WaitFor(gsmsim::IsManagerPost(ready_post), 15s).has_value();
}

bool CrashRoom::Command(const std::string& line) {
  return host_->WriteStdin(line + "\n");
}

int CrashRoom::WaitExit(int timeout_ms) {
  return hosttest::WaitExit(*host_, timeout_ms);
}

}  // namespace crashwire

#include "crashwire_host.h"

#include <fstream>

#include "crs_test_support.h"
#include "protocol/gameservermsg.h"

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
  Place(fs::path(SERVERAPP_DIST_DIR) / "ServerApp", bin_ / "ServerApp");
  Place(fs::path(SERVERAPP_DIST_DIR) / "server_d_x64.so", bin_ / "server_d_x64.so");

  service_ = std::make_unique<devhttp::CrashService>("/crs/", folder_.root() / "store");
  service_->Register(server_.server());
  port_ = server_.Start("127.0.0.1", 0);
  if (options.crs_ini && port_ > 0) {
    crs_test::WriteWhole(bin_ / "CRS.ini", "[CRS]\r\nURL=" + Url() + "\r\n");
  }
  if (options.full_dump) {
    std::ofstream(folder_.work() / "Setting.ini", std::ios::app)
        << "[GameMgmt]\r\nFullDump=" << *options.full_dump << "\r\n";
  }
  manager_ = gsmsim::ManagerPeer::Start();
}

CrashRoom::~CrashRoom() {
  if (host_ && hosttest::WaitExit(*host_, 0) == -1000) {
    host_->Kill();
    hosttest::WaitExit(*host_, 5000);
  }
  service_->ReleaseStalls();
  server_.Stop();
}

std::string CrashRoom::Url() const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/crs/";
}

bool CrashRoom::Start() {
  return Start(GAMESERVERMSG_SERVER_READY);
}

bool CrashRoom::Start(uint16_t ready_post) {
  if (port_ <= 0 || manager_ == nullptr) return false;
  host_ = folder_.Start({std::to_string(manager_->handle()), "5000", "4", "7", "9"}, true,
                        Executable().string());
  if (host_ == nullptr) return false;
  auto hwnd = manager_->WaitFor(gsmsim::IsManagerPost(GAMESERVERMSG_REPORT_HWND), 15s);
  if (!hwnd) return false;
  window_ = static_cast<platform::WindowHandle>(hwnd->l_param);
  return manager_->WaitFor(gsmsim::IsManagerPost(ready_post), 15s).has_value();
}

bool CrashRoom::Command(const std::string& line) {
  return host_->WriteStdin(line + "\n");
}

int CrashRoom::WaitExit(int timeout_ms) {
  return hosttest::WaitExit(*host_, timeout_ms);
}

std::string LldbBacktrace(const fs::path& program, const fs::path& dump) {
  auto result = crs_test::RunProcess(
      "/usr/bin/lldb",
      {"--no-lldbinit", "--batch", "-o",
       "target create \"" + program.string() + "\" --core \"" + dump.string() + "\"", "-o",
       "thread backtrace"},
      dump.parent_path(), {});
  return result.output;
}

}  // namespace crashwire

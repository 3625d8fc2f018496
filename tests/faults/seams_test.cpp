// Each faulted backend call fails as the real call would (its failure answer
// and its errno or error number), and the next call works again.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "logtestutil.h"
#include "platform/crash_io.h"
#include "platform/crash_upload.h"
#include "platform/fault_injection.h"
#include "platform/files.h"
#include "platform/library.h"
#include "platform/process_memory.h"
#include "platform/settings.h"
#include "platform/shm.h"

namespace {

namespace fs = std::filesystem;
namespace fault = platform::fault;
using platform::fault::Point;

class SeamFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { fault::Reset(); }
  void TearDown() override { fault::Reset(); }
  logtest::TempDir dir_;
};

TEST_F(SeamFaultTest, FileOpensWritesAndFolders) {
  const std::string path = (dir_.path() / "a.txt").string();
  fault::Arm(Point::kFileOpen, 1, EACCES, true);
  errno = 0;
  EXPECT_EQ(platform::OpenForAppend(path.c_str()), platform::kInvalidFile);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(platform::OpenForWrite(path.c_str()), platform::kInvalidFile);
  EXPECT_EQ(platform::CrashFileCreate(path.c_str()), platform::kNoCrashFile);
  EXPECT_EQ(platform::CrashLastError(), static_cast<uint32_t>(EACCES));
  EXPECT_EQ(platform::CrashFileOpenAppend(path.c_str()), platform::kNoCrashFile);
  EXPECT_FALSE(fs::exists(path)) << "a faulted open must not create the file";
  fault::Disarm(Point::kFileOpen);

  // The second write fails; the file holds the first and third only.
  fault::Arm(Point::kFileWrite, 2, ENOSPC);
  {
    platform::ScopedFile file(platform::OpenForAppend(path.c_str()));
    ASSERT_TRUE(file.valid());
    EXPECT_TRUE(platform::WriteToFile(file.get(), "one,", 4));
    errno = 0;
    EXPECT_FALSE(platform::WriteToFile(file.get(), "two,", 4));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_TRUE(platform::WriteToFile(file.get(), "three", 5));
  }
  EXPECT_EQ(logtest::ReadFile(path), "one,three");
  fault::Arm(Point::kFileWrite, 4, EIO);
  intptr_t crash_file = platform::CrashFileOpenAppend(path.c_str());
  ASSERT_NE(crash_file, platform::kNoCrashFile);
  EXPECT_FALSE(platform::CrashFileWrite(crash_file, "x", 1));
  EXPECT_EQ(platform::CrashLastError(), static_cast<uint32_t>(EIO));
  EXPECT_TRUE(platform::CrashFileWrite(crash_file, "!", 1));
  platform::CrashFileClose(crash_file);
  EXPECT_EQ(logtest::ReadFile(path), "one,three!");

  // Reading opens fail too: the settings reader falls back to the default.
  logtest::WriteFile(dir_.path() / "S.ini", "[A]\nkey=7\n");
  const std::string ini = (dir_.path() / "S.ini").string();
  fault::Arm(Point::kFileOpen, fault::Calls(Point::kFileOpen) + 1, EACCES);
  EXPECT_EQ(platform::GetPrivateProfileInt("A", "key", 3, ini.c_str()), 3);
  EXPECT_EQ(platform::GetPrivateProfileInt("A", "key", 3, ini.c_str()), 7);
  fault::Arm(Point::kFileOpen, fault::Calls(Point::kFileOpen) + 1, EACCES);
  EXPECT_EQ(platform::OpenForRead(ini.c_str()), platform::kInvalidFile);
  const intptr_t next = platform::CrashFileOpenRead(ini.c_str());  // not the nth: opens
  EXPECT_NE(next, platform::kNoCrashFile);
  platform::CrashFileClose(next);

  const std::string chain = (dir_.path() / "x" / "y").string();
  fault::Arm(Point::kMkdir, 1, EROFS);
  errno = 0;
  EXPECT_FALSE(platform::CreateFolderChain(chain.c_str()));
  EXPECT_EQ(errno, EROFS);
  EXPECT_FALSE(fs::exists(dir_.path() / "x"));
  EXPECT_TRUE(platform::CreateFolderChain(chain.c_str()));
  fault::Arm(Point::kMkdir, 3, EROFS, true);
  const std::string one = (dir_.path() / "z").string();
  EXPECT_FALSE(platform::CreateFolder(one.c_str()));
  EXPECT_FALSE(platform::CrashMakeFolder(one.c_str()));
  EXPECT_EQ(platform::CrashLastError(), static_cast<uint32_t>(EROFS));
  EXPECT_FALSE(fs::exists(one));
}

TEST_F(SeamFaultTest, SharedMemoryCreateOpenAndMap) {
  logtest::ShmSession session;
  fault::Arm(Point::kShmCreate, 1, ENOMEM);
  bool existed = true;
  errno = 0;
  EXPECT_EQ(platform::CreateSharedMemory("faults-a", 64, &existed), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  EXPECT_FALSE(existed);
  // Nothing was left behind: an open finds no object.
  EXPECT_EQ(platform::OpenSharedMemory("faults-a", false), nullptr);

  platform::SharedMemory* created = platform::CreateSharedMemory("faults-a", 64, &existed);
  ASSERT_NE(created, nullptr);
  fault::Arm(Point::kShmOpen, fault::Calls(Point::kShmOpen) + 1, EACCES);
  fault::Arm(Point::kShmMap, 1, ENOMEM);
  errno = 0;
  EXPECT_EQ(platform::OpenSharedMemory("faults-a", false), nullptr);
  EXPECT_EQ(errno, EACCES);
  EXPECT_EQ(platform::MapSharedMemory(created, 0, true), nullptr);
  EXPECT_EQ(errno, ENOMEM);

  // A faulted open did not unlink the live object: it opens and maps now.
  platform::SharedMemory* opened = platform::OpenSharedMemory("faults-a", false);
  ASSERT_NE(opened, nullptr);
  void* view = platform::MapSharedMemory(created, 0, true);
  ASSERT_NE(view, nullptr);
  std::memcpy(view, "table", 6);
  void* read = platform::MapSharedMemory(opened, 0, false);
  ASSERT_NE(read, nullptr);
  EXPECT_STREQ(static_cast<const char*>(read), "table");
  platform::UnmapSharedMemory(opened, read, 0);
  platform::UnmapSharedMemory(created, view, 0);
  platform::CloseSharedMemory(opened);
  platform::CloseSharedMemory(created);
}

TEST_F(SeamFaultTest, LibraryLoadAndSymbol) {
  fault::Arm(Point::kLibraryLoad, 1, 126);
  EXPECT_EQ(platform::LoadLibrary("libm.so.6"), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNotFound);
  EXPECT_EQ(platform::LastLibraryErrorText(), "injected fault");

  platform::LibraryHandle lib = platform::LoadLibrary("libm.so.6");
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNone);
  fault::Arm(Point::kLibrarySymbol, 1, 127);
  EXPECT_EQ(platform::GetLibrarySymbol(lib, "cos"), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorSymbolNotFound);
  EXPECT_NE(platform::GetLibrarySymbol(lib, "cos"), nullptr);
  EXPECT_EQ(platform::LastLibraryError(), platform::kLibraryErrorNone);
  EXPECT_TRUE(platform::FreeLibrary(lib));
}

TEST_F(SeamFaultTest, ProcessMemoryRead) {
  static const char kSecret[] = "posted record";
  auto memory = platform::ProcessMemory::Open(static_cast<uint32_t>(::getpid()),
                                              platform::ProcessMemoryAccess::kRead);
  ASSERT_NE(memory, nullptr);
  char buffer[sizeof(kSecret)] = {};
  fault::Arm(Point::kProcessRead, 1, EFAULT);
  errno = 0;
  EXPECT_FALSE(memory->Read(reinterpret_cast<uintptr_t>(kSecret), buffer, sizeof(buffer)));
  EXPECT_EQ(errno, EFAULT);
  EXPECT_STREQ(buffer, "");
  EXPECT_TRUE(memory->Read(reinterpret_cast<uintptr_t>(kSecret), buffer, sizeof(buffer)));
  EXPECT_STREQ(buffer, kSecret);
}

// A one-shot HTTP server on loopback that reads the request and answers 200.
class OneShotServer {
 public:
  OneShotServer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listen_, 4) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      // One connection after the other, until the listener is shut down.
      for (int client; (client = ::accept(listen_, nullptr, nullptr)) >= 0; ::close(client)) {
        char buffer[4096];
        std::string request;
        // The head and the two-byte body of every request of the test.
        for (size_t end;
             (end = request.find("\r\n\r\n")) == std::string::npos || request.size() < end + 6;) {
          const ssize_t n = ::recv(client, buffer, sizeof(buffer), 0);
          if (n <= 0) break;
          request.append(buffer, static_cast<size_t>(n));
        }
        const char kAnswer[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        [[maybe_unused]] ssize_t sent = ::send(client, kAnswer, sizeof(kAnswer) - 1, MSG_NOSIGNAL);
      }
    });
  }
  ~OneShotServer() {
    ::shutdown(listen_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(listen_);
  }
  uint16_t port() const { return port_; }

 private:
  int listen_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

TEST_F(SeamFaultTest, CrashUploadConnectWriteAndRead) {
  OneShotServer server;
  ASSERT_NE(server.port(), 0);
  platform::HttpEndpoint endpoint;
  ASSERT_EQ(platform::HttpResolve("127.0.0.1", server.port(), &endpoint), 0u);

  platform::HttpSession session;
  ASSERT_EQ(session.Open(), 0u);
  ASSERT_EQ(session.Connect(endpoint, "h"), 0u);
  {
    platform::HttpPut request;
    ASSERT_EQ(request.Open(session, "/crs/a"), 0u);
    fault::Arm(Point::kHttpConnect, 1, ECONNREFUSED);
    EXPECT_EQ(request.Send("", 2), static_cast<uint32_t>(ECONNREFUSED));
    // The request head is the first write.
    fault::Arm(Point::kHttpWrite, 1, EPIPE);
    EXPECT_EQ(request.Send("", 2), static_cast<uint32_t>(EPIPE));
  }
  fault::Arm(Point::kHttpWrite, 3, ECONNRESET);
  fault::Arm(Point::kHttpRead, 1, ETIMEDOUT);
  // This connection reaches the server, which waits for the whole head.
  platform::HttpPut good;
  ASSERT_EQ(good.Open(session, "/crs/a"), 0u);
  ASSERT_EQ(good.Send("", 2), 0u);
  EXPECT_EQ(good.Write("ok", 2), static_cast<uint32_t>(ECONNRESET));
  EXPECT_EQ(good.Write("ok", 2), 0u);
  uint32_t status = 0;
  EXPECT_EQ(good.ReceiveResponse(), static_cast<uint32_t>(ETIMEDOUT));
  EXPECT_EQ(good.ReceiveResponse(), 0u);
  EXPECT_EQ(good.QueryStatus(&status), 0u);
  EXPECT_EQ(status, 200u);
}

}  // namespace

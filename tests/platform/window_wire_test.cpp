// The POSIX side of windows: the frame's byte layout, and frames that break
// the protocol, written on raw sockets.
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

#include "gsmsim/peer/manager_peer.h"
#include "platform/window.h"
#include "wire_frame.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

std::vector<std::byte> Frame(wire::Header header, size_t payload) {
  header.cb_data = static_cast<uint32_t>(payload);
  std::vector<std::byte> frame(wire::kHeaderSize + payload, std::byte{0x11});
  wire::EncodeHeader(header, std::span<std::byte, wire::kHeaderSize>(frame.data(), 64));
  return frame;
}

std::vector<std::byte> Bytes(std::string_view text) {
  const auto* data = reinterpret_cast<const std::byte*>(text.data());
  return {data, data + text.size()};
}

std::vector<LParam> LParams(const gsmsim::ManagerPeer& window) {
  std::vector<LParam> got;
  for (const auto& m : window.Messages()) got.push_back(m.l_param);
  return got;
}

constexpr uint32_t kTestMsg = kWmUser + 0x40;

TEST(WireFrame, EveryFieldAtItsOffsetAndReadBack) {
  using namespace std::string_view_literals;
  const auto expected = Bytes(
      "HWM1"
      "\x02\0\0\0"                        // kind: send
      "\x08\x07\x06\x05\x04\x03\x02\x01"  // sequence
      "\xFF\xFF\xFF\x7F\0\0\0\0"          // target
      "\x4A\0\0\0"                        // msg
      "\0\0\0\0"                          // reserved
      "\x88\x77\x66\x55\x44\x33\x22\x11"  // wParam
      "\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF"  // lParam -2
      "\x18\x07\xF6\xE5\xD4\xC3\xB2\xA1"  // dwData
      "\x03\0\0\0"                        // cbData
      "\0\0\0\0"                          // reserved
      "\x11\x11\x11"sv);
  const wire::Header header{.kind = wire::Kind::kSend,
                            .sequence = 0x0102030405060708,
                            .target = 0x7FFFFFFF,
                            .msg = 0x4A,
                            .w_param = 0x1122334455667788,
                            .l_param = -2,
                            .dw_data = 0xA1B2C3D4E5F60718};
  EXPECT_EQ(Frame(header, 3), expected);

  // Every field read back; the reserved fields are ignored, for later
  // versions. (Refused frames: WindowBadInput, through a window.)
  auto later = expected;
  later[28] = std::byte{1};
  later[63] = std::byte{0xFF};
  wire::Header decoded;
  ASSERT_EQ(wire::DecodeFrame(later, &decoded), wire::DecodeResult::kOk);
  EXPECT_EQ(decoded.cb_data, 3u);
  EXPECT_EQ(Frame(decoded, 3), expected);
}

// Connects `fd` to, or binds it as, the window `handle`'s abstract socket
// name "hwnd:<handle>"; answers the call's result.
int WindowAddress(int fd, WindowHandle handle, bool bind_it = false) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = "hwnd:" + std::to_string(handle);
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  return bind_it ? bind(fd, raw, length) : connect(fd, raw, length);
}

int RawConnect(WindowHandle handle) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  EXPECT_EQ(WindowAddress(fd, handle), 0);
  return fd;
}

void SendRaw(int fd, const std::vector<std::byte>& datagram) {
  ASSERT_EQ(send(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(datagram.size()));
}

// True when the window closed the connection within a few seconds.
bool ClosedByWindow(int fd) {
  pollfd p{fd, POLLIN, 0};
  for (int i = 0; i < 100; ++i) {
    if (poll(&p, 1, 50) > 0 && (p.revents & POLLHUP)) return true;
  }
  return false;
}

TEST(WindowBadInput, BadFramesAreDroppedLoggedAndTheirConnectionClosed) {
  testing::internal::CaptureStderr();
  auto window = gsmsim::ManagerPeer::Start();  // records what it is given, answers sends 1
  ASSERT_NE(window, nullptr);
  const WindowHandle h = window->handle();

  // lParam 666 is never dispatched.
  const wire::Header post{.target = h, .msg = kTestMsg, .l_param = 666};
  const wire::Header send{
      .kind = wire::Kind::kSend, .target = h, .msg = kWmCopyData, .l_param = 666};

  struct Case {
    const char* name;
    std::vector<std::byte> datagram;
  };
  std::vector<Case> cases;
  cases.push_back({"shorter than", Frame(post, 0)});
  cases.back().datagram.resize(63);
  cases.push_back({"shorter than", {}});
  cases.push_back({"wrong magic", Frame(post, 0)});
  cases.back().datagram[3] = std::byte{'2'};
  for (std::byte kind : {std::byte{0}, std::byte{4}}) {
    cases.push_back({"unknown kind", Frame(post, 0)});
    cases.back().datagram[4] = kind;
  }
  auto mismatch = Frame(send, 100);
  mismatch.resize(80);  // cbData says 100, 16 bytes came
  cases.push_back({"cbData does not match", mismatch});
  // The largest cbData must not wrap any length arithmetic.
  cases.push_back({"cbData does not match", Frame(send, 0)});
  std::memset(cases.back().datagram.data() + 56, 0xFF, 4);
  auto reply = post;
  reply.kind = wire::Kind::kReply;
  cases.push_back({"reply sent to a window", Frame(reply, 0)});
  auto elsewhere = post;
  elsewhere.target = h == 1 ? 2 : h - 1;
  cases.push_back({"addressed to another window", Frame(elsewhere, 0)});

  for (const Case& c : cases) {
    const int fd = RawConnect(h);
    SendRaw(fd, c.datagram);
    // A good frame right behind the bad one is never dispatched either. It
    // may find the connection already closed (EPIPE), which is fine.
    const auto follower = Frame(post, 0);
    [[maybe_unused]] ssize_t ignored = ::send(fd, follower.data(), follower.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(ClosedByWindow(fd)) << c.name;
    close(fd);
  }

  // A posted WM_COPYDATA is dropped, but the connection stays usable.
  const int fd = RawConnect(h);
  auto posted_copy = post;
  posted_copy.msg = kWmCopyData;
  SendRaw(fd, Frame(posted_copy, 8));
  auto good = send;
  good.l_param = 1;
  good.sequence = 99;
  SendRaw(fd, Frame(good, 5));
  std::vector<std::byte> answer(64);
  ASSERT_EQ(recv(fd, answer.data(), answer.size(), 0), 64);
  wire::Header decoded;
  ASSERT_EQ(wire::DecodeFrame(answer, &decoded), wire::DecodeResult::kOk);
  EXPECT_EQ(decoded.kind, wire::Kind::kReply);
  EXPECT_EQ(decoded.sequence, 99u);
  EXPECT_EQ(decoded.l_param, 1);
  close(fd);

  // The window still serves everyone else.
  EXPECT_EQ(SendCopyData(h, 0, 0, {}), 1);
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(LParams(*window), (std::vector<LParam>{1, 0}));
  for (const Case& c : cases) EXPECT_NE(log.find(c.name), std::string::npos) << c.name;
  EXPECT_NE(log.find("posted WM_COPYDATA"), std::string::npos);
}

// Forks a child that becomes `uid` (never root), connects to `h` and posts
// lParam 777. Its exit status: 0 when the window closed the connection on
// it, 1 when the connection stayed open, 2 when it could not even try.
int PostAsOtherUser(WindowHandle h, uid_t uid) {
  const pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(2);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    if (fd < 0 || WindowAddress(fd, h) != 0) _exit(2);
    const auto frame = Frame({.target = h, .msg = kTestMsg, .l_param = 777}, 0);
    [[maybe_unused]] ssize_t sent = send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    _exit(ClosedByWindow(fd) ? 0 : 1);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return 2;
  return WEXITSTATUS(status);
}

// Another user's process is refused at once, with a line naming its pid and
// uid, unless SERVERAPP_MANAGER_UID names it; the window's own user gets in.
TEST(WindowPeers, OnlyTheOwnersUserRootAndTheNamedManagerGetIn) {
  if (geteuid() != 0) GTEST_SKIP() << "a peer of another user needs root to switch its uid";
  constexpr uid_t kOther = 65534;  // nobody
  struct Row {
    const char* manager_uid;
    bool admitted;
  };
  for (const Row row : {Row{nullptr, false}, Row{"1000", false}, Row{"65534", true}}) {
    SCOPED_TRACE(row.manager_uid ? row.manager_uid : "no manager uid");
    if (row.manager_uid) {
      setenv("SERVERAPP_MANAGER_UID", row.manager_uid, 1);
    } else {
      unsetenv("SERVERAPP_MANAGER_UID");
    }
    testing::internal::CaptureStderr();
    {
      auto window = gsmsim::ManagerPeer::Start();
      ASSERT_NE(window, nullptr);
      EXPECT_EQ(PostAsOtherUser(window->handle(), kOther), row.admitted ? 1 : 0);
      // The window's own user still gets through, after the other user's
      // post when that one was let in.
      EXPECT_TRUE(PostMessage(window->handle(), kTestMsg, 0, 1));
      ASSERT_TRUE(window->WaitFor([](const auto& m) { return m.l_param == 1; }, 5s));
      const std::vector<LParam> expected =
          row.admitted ? std::vector<LParam>{777, 1} : std::vector<LParam>{1};
      EXPECT_EQ(LParams(*window), expected);
    }
    const std::string log = testing::internal::GetCapturedStderr();
    const std::string refused = "of uid " + std::to_string(kOther) + "; closing it";
    EXPECT_EQ(log.find(refused) != std::string::npos, !row.admitted) << log;
  }
  unsetenv("SERVERAPP_MANAGER_UID");
}

// Replies to sequences nobody sent: the sender keeps a few (nested sends
// need that) but gives up on a flood instead of storing every one.
TEST(WindowBadInput, AFloodOfUnexpectedRepliesEndsTheSend) {
  const int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  WindowHandle handle = 0;
  for (WindowHandle candidate = 1900000000; candidate < 1900001000 && !handle; ++candidate) {
    if (WindowAddress(listener, candidate, true) == 0) handle = candidate;
  }
  ASSERT_NE(handle, 0u);
  ASSERT_EQ(listen(listener, 4), 0);

  std::thread peer([&] {
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    std::vector<std::byte> frame(wire::kHeaderSize + 16);
    const ssize_t got = recv(fd, frame.data(), frame.size(), 0);
    wire::Header send;
    if (got > 0 && wire::DecodeFrame(std::span(frame.data(), static_cast<size_t>(got)), &send) ==
                       wire::DecodeResult::kOk) {
      wire::Header reply = send;
      reply.kind = wire::Kind::kReply;
      reply.cb_data = 0;
      reply.l_param = 5;
      for (uint64_t i = 1; i <= 1000; ++i) {
        reply.sequence = send.sequence + i;
        if (::send(fd, Frame(reply, 0).data(), wire::kHeaderSize, MSG_NOSIGNAL) < 0) break;
      }
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, 5000);  // until the sender hangs up
    }
    close(fd);
  });

  testing::internal::CaptureStderr();
  LResult result = 0;
  EXPECT_FALSE(SendCopyDataChecked(handle, 0, 1, {}, &result));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("too many unexpected replies"), std::string::npos) << log;
  peer.join();
  close(listener);
}

}  // namespace
}  // namespace platform

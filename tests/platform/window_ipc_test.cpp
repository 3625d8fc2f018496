// Window messages between real processes, each side a manager peer window
// (the library integration tests use). The test binary relaunches itself as
// the other process ("--peer PARENT_HANDLE").
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>

#include "gsmsim/peer/manager_peer.h"
#include "platform/identity.h"
#include "platform/process.h"
#include "platform/window.h"

namespace {

using platform::CopyData;
using platform::LParam;
using platform::LResult;
using platform::WindowHandle;
using platform::WParam;

constexpr uint32_t kReady = platform::kWmUser + 1;      // lParam: the peer's window
constexpr uint32_t kOrdered = platform::kWmUser + 2;    // wParam kWord, lParam: 0, 1, 2, ...
constexpr uint32_t kQuit = platform::kWmUser + 3;       // wParam: exit code
constexpr uint32_t kInHandler = platform::kWmUser + 4;  // the peer is stuck in a handler

// dwData of the copy-data requests the peer understands.
constexpr uint64_t kQueryOrder = 1;  // answers how many kOrdered came in order, -1 if not
constexpr uint64_t kChecksum = 2;    // answers Checksum(data) ^ wParam
constexpr uint64_t kBounce = 3;      // data[0] = depth: sends depth-1 back, answers +1
constexpr uint64_t kHang = 4;        // never answers

constexpr WParam kWord = 0x30005;

// SIGKILL, which the Windows backend reports for TerminateProcess too.
constexpr int kKilledSignal = 9;

[[noreturn]] void SleepForever() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

int64_t Checksum(std::span<const std::byte> data) {
  uint64_t hash = 1469598103934665603ull;  // FNV-1a
  for (std::byte b : data) hash = (hash ^ static_cast<uint64_t>(b)) * 1099511628211ull;
  return static_cast<int64_t>(hash);
}

// Answers a kBounce send: sends depth-1 back to its sender, answers +1.
LResult Bounce(const gsmsim::ReceivedMessage& m, WindowHandle self) {
  const int depth = m.data.empty() ? 0 : static_cast<int>(m.data[0]);
  if (depth == 0) return 1;
  const std::byte next[1] = {static_cast<std::byte>(depth - 1)};
  return platform::SendCopyData(static_cast<WindowHandle>(m.w_param), self, kBounce, next) + 1;
}

// The other process: its peer's hooks keep the posts' order and answer.
int PeerMain(WindowHandle parent) {
  auto peer = gsmsim::ManagerPeer::Start();
  if (!peer) return 90;
  int64_t in_order = 0;
  bool broken = false;
  peer->SetOnMessage([&](const gsmsim::ReceivedMessage& m) {
    if (m.kind == gsmsim::ReceivedMessage::Kind::kSend) return;
    if (m.msg == kOrdered) {
      broken = broken || m.l_param != in_order || m.w_param != kWord;
      ++in_order;
    } else if (m.msg == kQuit) {
      // Exit without tearing down: the window must vanish with the process.
      std::fflush(nullptr);
      std::_Exit(static_cast<int>(m.w_param));
    }
  });
  peer->SetSendAnswer([&](const gsmsim::ReceivedMessage& m) -> LResult {
    switch (m.dw_data) {
      case kQueryOrder:
        return broken ? -1 : in_order;
      case kChecksum:
        return Checksum(m.data) ^ static_cast<int64_t>(m.w_param);
      case kBounce:
        return Bounce(m, peer->handle());
      case kHang:
        platform::PostMessage(parent, kInHandler, 0, 0);
        SleepForever();
    }
    return 0;
  });
  if (!platform::PostMessage(parent, kReady, 0, static_cast<LParam>(peer->handle()))) return 91;
  SleepForever();
}

struct StartedPeer {
  platform::Process* process = nullptr;
  WindowHandle handle = 0;
};

StartedPeer StartPeer(gsmsim::ManagerPeer& manager) {
  platform::ProcessOptions options;
  options.program = platform::ExecutablePath();
  options.args = {"--peer", std::to_string(manager.handle())};
  std::string error;
  StartedPeer peer;
  const size_t from = manager.MessageCount();
  peer.process = manager.StartHost(options, &error);
  EXPECT_NE(peer.process, nullptr) << error;
  if (!peer.process) return peer;
  const auto ready = manager.WaitFor(gsmsim::IsPost(kReady), std::chrono::seconds(20), from);
  EXPECT_TRUE(ready.has_value()) << "the peer did not report its window";
  if (ready) peer.handle = static_cast<WindowHandle>(ready->l_param);
  return peer;
}

TEST(CrossProcess, PostAndSendInOrderWithLargeCopyDataAndNestedSendsBothWays) {
  auto manager = gsmsim::ManagerPeer::Start();
  ASSERT_TRUE(manager);
  const StartedPeer peer = StartPeer(*manager);
  ASSERT_NE(peer.handle, 0u);
  EXPECT_TRUE(platform::IsWindow(peer.handle));
  EXPECT_EQ(platform::GetWindowProcessId(peer.handle), peer.process->pid());
  EXPECT_EQ(platform::GetWindowProcessId(manager->handle()), platform::CurrentProcessId());

  constexpr int kPosts = 5000;
  for (int i = 0; i < kPosts; ++i) {
    while (!manager->Post(peer.handle, kOrdered, kWord, i)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  // On POSIX the query travels behind the posts on the same connection; on
  // Windows a sent message overtakes queued posts, so it is asked again
  // until the last post was handled.
  LResult in_order = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  do {
    in_order = manager->SendCopyData(peer.handle, kQueryOrder, {});
  } while (in_order >= 0 && in_order < kPosts && std::chrono::steady_clock::now() < deadline);
  EXPECT_EQ(in_order, kPosts);

  // The largest record of the protocol, and an empty one.
  std::vector<std::byte> record(211408);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<std::byte>(i * 7 + i / 251);
  const auto expected = Checksum(record) ^ static_cast<int64_t>(manager->handle());
  EXPECT_EQ(manager->SendCopyData(peer.handle, kChecksum, record), expected);
  EXPECT_EQ(manager->SendCopyData(peer.handle, kChecksum, {}),
            Checksum({}) ^ static_cast<int64_t>(manager->handle()));

  // Nested sends both ways complete: the manager bounces as the peer does.
  manager->SetSendAnswer([&](const gsmsim::ReceivedMessage& m) -> LResult {
    return m.dw_data == kBounce ? Bounce(m, manager->handle()) : 0;
  });
  const std::byte depth[1] = {std::byte{25}};
  // From the manager's own window thread, which then answers while waiting...
  std::promise<LResult> from_owner;
  manager->RunOnWindowThread([&] {
    from_owner.set_value(platform::SendCopyData(peer.handle, manager->handle(), kBounce, depth));
  });
  auto future = from_owner.get_future();
  if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    // The windows are deadlocked and cannot be torn down: report and leave.
    ADD_FAILURE() << "the two windows deadlocked";
    std::fflush(nullptr);
    std::_Exit(1);
  }
  EXPECT_EQ(future.get(), 26);
  // ...and from a thread without a window, while the window thread answers.
  EXPECT_EQ(manager->SendCopyData(peer.handle, kBounce, depth), 26);
  ASSERT_TRUE(manager->Post(peer.handle, kQuit, 5, 0));
  const auto status = peer.process->Wait(20000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, (platform::ExitStatus{.exited = true, .exit_code = 5}));
  // Gone with its owner (what a gone window answers: WindowLoop).
  EXPECT_FALSE(platform::IsWindow(peer.handle));
  EXPECT_FALSE(manager->Post(peer.handle, kOrdered, 0, 0));
}

TEST(CrossProcess, ASendToAWindowWhoseOwnerDiesEndsWithZero) {
  auto manager = gsmsim::ManagerPeer::Start();
  ASSERT_TRUE(manager);
  const StartedPeer peer = StartPeer(*manager);
  ASSERT_NE(peer.handle, 0u);
  const size_t from = manager->MessageCount();
  auto waiting = std::async(std::launch::async, [&] {
    LResult result = 77;
    const bool answered =
        platform::SendCopyDataChecked(peer.handle, manager->handle(), kHang, {}, &result);
    return std::make_pair(answered, result);
  });
  ASSERT_TRUE(manager->WaitFor(gsmsim::IsPost(kInHandler), std::chrono::seconds(20), from));
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout)
      << "the send returned while its handler still ran";
  ASSERT_TRUE(peer.process->Kill());
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "the send still waits on a dead window";
  const auto [answered, result] = waiting.get();
  EXPECT_FALSE(answered);
  EXPECT_EQ(result, 77);
  EXPECT_EQ(peer.process->Wait(20000),
            (platform::ExitStatus{.exited = false, .exit_code = 0, .signal = kKilledSignal}));
  EXPECT_FALSE(platform::IsWindow(peer.handle));
  EXPECT_EQ(platform::SendCopyData(peer.handle, manager->handle(), kQueryOrder, {}), 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--peer") == 0) {
    return PeerMain(std::strtoull(argv[2], nullptr, 10));
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// A stand-in manager for tests and for gsmsim: a window on a thread of its
// own that records every message it receives, answers sends, posts and
// sends to hosts, keeps records in its own memory for hosts to read by
// address, and starts hosts.
//
// Every call is thread-safe unless it says otherwise.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "platform/window.h"

namespace gsmsim {

struct ReceivedMessage {
  enum class Kind { kPost, kSend };
  Kind kind = Kind::kPost;
  uint32_t msg = 0;
  platform::WParam w_param = 0;
  platform::LParam l_param = 0;
  uint64_t dw_data = 0;         // sends only
  std::vector<std::byte> data;  // sends only: a copy of the payload
  std::chrono::steady_clock::time_point received_at;
  size_t index = 0;  // position in the record, from 0
};

using MessagePredicate = std::function<bool(const ReceivedMessage&)>;

// A posted message with this number.
MessagePredicate IsPost(uint32_t msg);
// A posted WM_USER+0x40 manager message whose wParam low half is msg_id.
MessagePredicate IsManagerPost(uint16_t msg_id);
// A WM_COPYDATA send with this dwData.
MessagePredicate IsCopyData(uint64_t dw_data);

class ManagerPeer final : platform::WindowHandler {
 public:
  struct Options {
    platform::WindowHandle handle = 0;  // 0: chosen at random
    bool keep_records = true;           // false: only the OnMessage hook sees messages
    // Let any process read and write this process's memory (Yama's
    // ptrace_scope 1 otherwise allows only ancestors), so that hosts can
    // read records passed by address.
    bool allow_memory_access = true;
  };

  // Starts the window thread. Answers null and a reason on failure.
  static std::unique_ptr<ManagerPeer> Start(const Options& options, std::string* error = nullptr);
  static std::unique_ptr<ManagerPeer> Start(std::string* error = nullptr) {
    return Start(Options{}, error);
  }

  // Ends the window thread (the window vanishes), then stops the hosts it
  // started that still run.
  ~ManagerPeer() override;
  ManagerPeer(const ManagerPeer&) = delete;
  ManagerPeer& operator=(const ManagerPeer&) = delete;

  platform::WindowHandle handle() const { return handle_; }

  // --- what it received ---
  std::vector<ReceivedMessage> Messages() const;
  size_t MessageCount() const;
  // The first recorded message at or after from_index that matches, waiting
  // up to timeout for it to arrive; nothing on a time-out.
  std::optional<ReceivedMessage> WaitFor(const MessagePredicate& match,
                                         std::chrono::milliseconds timeout,
                                         size_t from_index = 0) const;

  // --- how it reacts (hooks run on the window thread) ---
  // The answer to sends; the default answers 1.
  void SetSendAnswer(std::function<platform::LResult(const ReceivedMessage&)> answer);
  // Called for every message after it was recorded.
  void SetOnMessage(std::function<void(const ReceivedMessage&)> hook);
  // Runs fn on the window thread (which owns the window: sends made there
  // keep answering sends to this peer while they wait).
  void RunOnWindowThread(std::function<void()> fn);

  // --- what it sends ---
  bool Post(platform::WindowHandle target, uint32_t msg, platform::WParam w_param,
            platform::LParam l_param);
  // WM_COPYDATA with wParam = this peer's window. Answers the result, 0 when
  // the target is gone.
  platform::LResult SendCopyData(platform::WindowHandle target, uint64_t dw_data,
                                 std::span<const std::byte> data);

  // --- records passed by address ---
  // Copies bytes into a buffer of this process and answers its address,
  // valid until ReleaseBuffer or the peer's end.
  uint64_t AddBuffer(std::span<const std::byte> bytes);
  // A zero-filled buffer of `size` bytes (at least 1).
  uint64_t AllocateBuffer(size_t size);
  // The current bytes of a buffer (a host may have written them); empty for
  // an unknown address.
  std::vector<std::byte> ReadBuffer(uint64_t address) const;
  // Overwrites the start of a buffer; false for an unknown address or too
  // many bytes.
  bool WriteBuffer(uint64_t address, std::span<const std::byte> bytes);
  void ReleaseBuffer(uint64_t address);

  // --- hosts ---
  // Starts a process owned by the peer (stopped at the peer's end). The
  // pointer stays valid until then. Null and a reason on failure.
  platform::Process* StartHost(const platform::ProcessOptions& options,
                               std::string* error = nullptr);

 private:
  explicit ManagerPeer(const Options& options);
  void ThreadMain(std::string* error, std::mutex* ready_mutex, std::condition_variable* ready_cv,
                  bool* ready);
  void Record(ReceivedMessage message);

  void OnPost(uint32_t msg, platform::WParam w_param, platform::LParam l_param) override;
  platform::LResult OnSend(uint32_t msg, platform::WParam w_param, platform::LParam l_param,
                           const platform::CopyData& copy) override;

  const Options options_;
  platform::WindowHandle handle_ = 0;
  // Owned by the window thread, which destroys it after Run returns; Run
  // returns only after the destructor's End.
  platform::Window* window_ = nullptr;
  std::thread thread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<ReceivedMessage> records_;
  size_t received_ = 0;
  std::function<platform::LResult(const ReceivedMessage&)> send_answer_;
  std::function<void(const ReceivedMessage&)> on_message_;
  struct Buffer {
    std::unique_ptr<std::byte[]> bytes;
    size_t size;
  };
  std::map<uint64_t, Buffer> buffers_;
  std::vector<std::unique_ptr<platform::Process>> hosts_;
};

}  // namespace gsmsim

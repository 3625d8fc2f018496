#include "manager_peer.h"

#include <cstring>

#include "memory_access.h"

namespace gsmsim {

MessagePredicate IsPost(uint32_t msg) {
  return [msg](const ReceivedMessage& m) {
    return m.kind == ReceivedMessage::Kind::kPost && m.msg == msg;
  };
}

MessagePredicate IsManagerPost(uint16_t msg_id) {
  return [msg_id](const ReceivedMessage& m) {
    return m.kind == ReceivedMessage::Kind::kPost && m.msg == platform::kWmUser + 0x40 &&
           (m.w_param & 0xFFFFu) == msg_id;
  };
}

MessagePredicate IsCopyData(uint64_t dw_data) {
  return [dw_data](const ReceivedMessage& m) {
    return m.kind == ReceivedMessage::Kind::kSend && m.msg == platform::kWmCopyData &&
           m.dw_data == dw_data;
  };
}

ManagerPeer::ManagerPeer(const Options& options) : options_(options) {}

std::unique_ptr<ManagerPeer> ManagerPeer::Start(const Options& options, std::string* error) {
  if (options.allow_memory_access) AllowHostsToAccessMemory();
  std::unique_ptr<ManagerPeer> peer(new ManagerPeer(options));
  std::mutex ready_mutex;
  std::condition_variable ready_cv;
  bool ready = false;
  std::string why;
  peer->thread_ =
      std::thread(&ManagerPeer::ThreadMain, peer.get(), &why, &ready_mutex, &ready_cv, &ready);
  {
    std::unique_lock lock(ready_mutex);
    ready_cv.wait(lock, [&] { return ready; });
  }
  if (peer->handle_ == 0) {
    peer->thread_.join();
    if (error) *error = why;
    return nullptr;
  }
  return peer;
}

void ManagerPeer::ThreadMain(std::string* error, std::mutex* ready_mutex,
                             std::condition_variable* ready_cv, bool* ready) {
  std::unique_ptr<platform::Window> window =
      platform::Window::Create(*this, options_.handle, error);
  if (window) {
    window_ = window.get();
    handle_ = window->handle();
  }
  {
    std::lock_guard lock(*ready_mutex);
    *ready = true;
    ready_cv->notify_one();
  }
  if (window) window->Run();
}

ManagerPeer::~ManagerPeer() {
  if (thread_.joinable()) {
    window_->End(0);
    thread_.join();
  }
  std::lock_guard lock(mutex_);
  hosts_.clear();  // each kills and reaps its process if it still runs
}

void ManagerPeer::Record(ReceivedMessage message) {
  message.received_at = std::chrono::steady_clock::now();
  std::function<void(const ReceivedMessage&)> hook;
  {
    std::lock_guard lock(mutex_);
    message.index = received_++;
    if (options_.keep_records) records_.push_back(message);
    hook = on_message_;
  }
  arrived_.notify_all();
  if (hook) hook(message);
}

void ManagerPeer::OnPost(uint32_t msg, platform::WParam w_param, platform::LParam l_param) {
  ReceivedMessage message;
  message.kind = ReceivedMessage::Kind::kPost;
  message.msg = msg;
  message.w_param = w_param;
  message.l_param = l_param;
  Record(std::move(message));
}

platform::LResult ManagerPeer::OnSend(uint32_t msg, platform::WParam w_param,
                                      platform::LParam l_param, const platform::CopyData& copy) {
  ReceivedMessage message;
  message.kind = ReceivedMessage::Kind::kSend;
  message.msg = msg;
  message.w_param = w_param;
  message.l_param = l_param;
  message.dw_data = copy.dw_data;
  message.data.assign(copy.data.begin(), copy.data.end());
  Record(message);
  std::function<platform::LResult(const ReceivedMessage&)> answer;
  {
    std::lock_guard lock(mutex_);
    answer = send_answer_;
  }
  return answer ? answer(message) : 1;
}

std::vector<ReceivedMessage> ManagerPeer::Messages() const {
  std::lock_guard lock(mutex_);
  return records_;
}

size_t ManagerPeer::MessageCount() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::optional<ReceivedMessage> ManagerPeer::WaitFor(const MessagePredicate& match,
                                                    std::chrono::milliseconds timeout,
                                                    size_t from_index) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  size_t next = from_index;
  for (;;) {
    for (; next < records_.size(); ++next) {
      if (match(records_[next])) return records_[next];
    }
    if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout && next == records_.size()) {
      return std::nullopt;
    }
  }
}

void ManagerPeer::SetSendAnswer(std::function<platform::LResult(const ReceivedMessage&)> answer) {
  std::lock_guard lock(mutex_);
  send_answer_ = std::move(answer);
}

void ManagerPeer::SetOnMessage(std::function<void(const ReceivedMessage&)> hook) {
  std::lock_guard lock(mutex_);
  on_message_ = std::move(hook);
}

void ManagerPeer::RunOnWindowThread(std::function<void()> fn) {
  window_->Invoke(std::move(fn));
}

bool ManagerPeer::Post(platform::WindowHandle target, uint32_t msg, platform::WParam w_param,
                       platform::LParam l_param) {
  return platform::PostMessage(target, msg, w_param, l_param);
}

platform::LResult ManagerPeer::SendCopyData(platform::WindowHandle target, uint64_t dw_data,
                                            std::span<const std::byte> data) {
  return platform::SendCopyData(target, handle_, dw_data, data);
}

uint64_t ManagerPeer::AddBuffer(std::span<const std::byte> bytes) {
  const uint64_t address = AllocateBuffer(bytes.size());
  WriteBuffer(address, bytes);
  return address;
}

uint64_t ManagerPeer::AllocateBuffer(size_t size) {
  if (size == 0) size = 1;
  Buffer buffer{std::make_unique<std::byte[]>(size), size};  // value-initialised: zeros
  const uint64_t address = reinterpret_cast<uintptr_t>(buffer.bytes.get());
  std::lock_guard lock(mutex_);
  buffers_.emplace(address, std::move(buffer));
  return address;
}

std::vector<std::byte> ManagerPeer::ReadBuffer(uint64_t address) const {
  std::lock_guard lock(mutex_);
  auto it = buffers_.find(address);
  if (it == buffers_.end()) return {};
  return {it->second.bytes.get(), it->second.bytes.get() + it->second.size};
}

bool ManagerPeer::WriteBuffer(uint64_t address, std::span<const std::byte> bytes) {
  std::lock_guard lock(mutex_);
  auto it = buffers_.find(address);
  if (it == buffers_.end() || bytes.size() > it->second.size) return false;
  if (!bytes.empty()) std::memcpy(it->second.bytes.get(), bytes.data(), bytes.size());
  return true;
}

void ManagerPeer::ReleaseBuffer(uint64_t address) {
  std::lock_guard lock(mutex_);
  buffers_.erase(address);
}

platform::Process* ManagerPeer::StartHost(const platform::ProcessOptions& options,
                                          std::string* error) {
  auto process = platform::Process::Start(options, error);
  if (!process) return nullptr;
  std::lock_guard lock(mutex_);
  hosts_.push_back(std::move(process));
  return hosts_.back().get();
}

}  // namespace gsmsim

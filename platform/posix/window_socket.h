// Socket plumbing of the POSIX windows: the abstract address of a handle,
// listening, connecting, and moving whole frames. Every socket is opened
// close-on-exec and non-blocking; the callers poll.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "wire_frame.h"

namespace platform::wire {

// Handles live in [1, 2^31).
inline constexpr uint64_t kMaxHandle = 0x7FFFFFFFu;
inline bool IsValidHandle(uint64_t handle) {
  return handle >= 1 && handle <= kMaxHandle;
}

// Binds and listens on "hwnd:<handle>". Answers the descriptor, or -1 with
// the errno in *error (EADDRINUSE: the handle is taken).
int ListenOnHandle(uint64_t handle, int* error);

// Connects to "hwnd:<handle>" (without blocking) and raises the send buffer
// so that the largest record fits one datagram. The answered socket is in
// blocking mode: writes must pass MSG_DONTWAIT (SendFrame does). Answers the descriptor, or -1 with
// the errno in *error (ECONNREFUSED/ENOENT: no window; EAGAIN: its backlog is full, the window
// exists).
int ConnectToHandle(uint64_t handle, int* error);

// Sends one frame (header + payload) as one datagram without blocking and
// without SIGPIPE. Answers 0, or the errno (EAGAIN: buffer full; EPIPE,
// ECONNRESET: peer gone; EMSGSIZE: frame larger than the send buffer).
int SendFrame(int fd, const Header& header, std::span<const std::byte> payload);

enum class ReceiveStatus {
  kFrame,      // the buffer starts with one whole datagram (not yet decoded)
  kEmpty,      // nothing to read now
  kClosed,     // the peer closed the connection (or it failed)
  kOversized,  // a datagram larger than the buffer was discarded
};

// Reads the next datagram into `buffer` with one call; *length is its
// size. A datagram larger than the buffer is consumed and reported as
// kOversized, never half-read. With `wait`, a blocking socket (a connected
// client's) waits for the datagram; otherwise an empty queue is kEmpty.
ReceiveStatus ReceiveDatagram(int fd, std::span<std::byte> buffer, size_t* length,
                              bool wait = false);

// The pid of the process on the other end (SO_PEERCRED), 0 when unknown.
uint32_t PeerPid(int fd);

// Who is on the other end of a connection (SO_PEERCRED).
struct PeerCredentials {
  uint32_t pid = 0;
  uint32_t uid = 0;
};
// False when the system cannot tell.
bool GetPeerCredentials(int fd, PeerCredentials* peer);

// True when the peer of a connected socket has closed it.
bool PeerClosed(int fd);

}  // namespace platform::wire

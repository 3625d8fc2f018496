// The frame of the window-message wire protocol (docs/window-messages.md):
// one SOCK_SEQPACKET datagram per frame, a 64-byte little-endian header and
// then cbData bytes of payload. This codec is pure: no socket, no system
// call, so that every rule about bad frames is tested on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform::wire {

inline constexpr size_t kHeaderSize = 64;
inline constexpr char kMagic[4] = {'H', 'W', 'M', '1'};

// The largest payload a window accepts (and a sender sends): 4 MiB, far
// above the largest record (211408 bytes) and above what default socket
// buffers let a sender put in one datagram. A window reads every frame with
// one call into a buffer of this size; a larger frame is dropped.
inline constexpr size_t kMaxPayload = 4u << 20;
inline constexpr size_t kMaxFrame = kHeaderSize + kMaxPayload;

enum class Kind : uint32_t { kPost = 1, kSend = 2, kReply = 3 };

// The header in host form.
struct Header {
  Kind kind = Kind::kPost;
  uint64_t sequence = 0;
  uint64_t target = 0;
  uint32_t msg = 0;
  uint64_t w_param = 0;
  int64_t l_param = 0;  // in a reply: the handler's result
  uint64_t dw_data = 0;
  uint32_t cb_data = 0;
};

// The header as it lies on the wire (little-endian on every platform we
// build for; Encode/Decode do not rely on it and write byte by byte).
struct WireHeader {
  char magic[4];
  uint32_t kind;
  uint64_t sequence;
  uint64_t target;
  uint32_t msg;
  uint32_t reserved0;
  uint64_t w_param;
  int64_t l_param;
  uint64_t dw_data;
  uint32_t cb_data;
  uint32_t reserved1;
};
static_assert(sizeof(WireHeader) == kHeaderSize);
static_assert(offsetof(WireHeader, kind) == 4);
static_assert(offsetof(WireHeader, sequence) == 8);
static_assert(offsetof(WireHeader, target) == 16);
static_assert(offsetof(WireHeader, msg) == 24);
static_assert(offsetof(WireHeader, reserved0) == 28);
static_assert(offsetof(WireHeader, w_param) == 32);
static_assert(offsetof(WireHeader, l_param) == 40);
static_assert(offsetof(WireHeader, dw_data) == 48);
static_assert(offsetof(WireHeader, cb_data) == 56);
static_assert(offsetof(WireHeader, reserved1) == 60);

// Writes the header (reserved fields 0) into out.
void EncodeHeader(const Header& header, std::span<std::byte, kHeaderSize> out);

enum class DecodeResult {
  kOk,
  kTooShort,       // fewer than 64 bytes
  kBadMagic,       // not "HWM1"
  kUnknownKind,    // kind other than 1, 2, 3
  kLengthMismatch  // cbData differs from the payload's length
};

// Checks a whole datagram and fills *header. Reserved fields are not
// checked, so that later versions can use them. Never reads outside
// `datagram`.
DecodeResult DecodeFrame(std::span<const std::byte> datagram, Header* header);

// Text for a log line, e.g. "wrong magic".
const char* DescribeDecodeResult(DecodeResult result);

}  // namespace platform::wire

#include "wire_frame.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

namespace platform::wire {
namespace {

template <typename T>
void Put(std::span<std::byte, kHeaderSize> out, size_t offset, T value) {
  using U = std::make_unsigned_t<T>;
  U u = static_cast<U>(value);
  for (size_t i = 0; i < sizeof(T); ++i) {
    out[offset + i] = static_cast<std::byte>(u & 0xFFu);
    u = static_cast<U>(u >> 8);
  }
}

template <typename T>
T Get(std::span<const std::byte> in, size_t offset) {
  using U = std::make_unsigned_t<T>;
  U u = 0;
  for (size_t i = sizeof(T); i-- > 0;) {
    u = static_cast<U>((u << 8) | static_cast<U>(in[offset + i]));
  }
  return static_cast<T>(u);
}

}  // namespace

void EncodeHeader(const Header& header, std::span<std::byte, kHeaderSize> out) {
  std::memset(out.data(), 0, kHeaderSize);
  std::memcpy(out.data(), kMagic, sizeof(kMagic));
  Put(out, offsetof(WireHeader, kind), static_cast<uint32_t>(header.kind));
  Put(out, offsetof(WireHeader, sequence), header.sequence);
  Put(out, offsetof(WireHeader, target), header.target);
  Put(out, offsetof(WireHeader, msg), header.msg);
  Put(out, offsetof(WireHeader, w_param), header.w_param);
  Put(out, offsetof(WireHeader, l_param), header.l_param);
  Put(out, offsetof(WireHeader, dw_data), header.dw_data);
  Put(out, offsetof(WireHeader, cb_data), header.cb_data);
}

DecodeResult DecodeFrame(std::span<const std::byte> datagram, Header* header) {
  if (datagram.size() < kHeaderSize) return DecodeResult::kTooShort;
  if (std::memcmp(datagram.data(), kMagic, sizeof(kMagic)) != 0) return DecodeResult::kBadMagic;
  const uint32_t kind = Get<uint32_t>(datagram, offsetof(WireHeader, kind));
  if (kind < 1 || kind > 3) return DecodeResult::kUnknownKind;
  const uint32_t cb_data = Get<uint32_t>(datagram, offsetof(WireHeader, cb_data));
  if (cb_data != datagram.size() - kHeaderSize) return DecodeResult::kLengthMismatch;
  header->kind = static_cast<Kind>(kind);
  header->sequence = Get<uint64_t>(datagram, offsetof(WireHeader, sequence));
  header->target = Get<uint64_t>(datagram, offsetof(WireHeader, target));
  header->msg = Get<uint32_t>(datagram, offsetof(WireHeader, msg));
  header->w_param = Get<uint64_t>(datagram, offsetof(WireHeader, w_param));
  header->l_param = Get<int64_t>(datagram, offsetof(WireHeader, l_param));
  header->dw_data = Get<uint64_t>(datagram, offsetof(WireHeader, dw_data));
  header->cb_data = cb_data;
  return DecodeResult::kOk;
}

const char* DescribeDecodeResult(DecodeResult result) {
  switch (result) {
    case DecodeResult::kOk:
      return "ok";
    case DecodeResult::kTooShort:
      return "shorter than the 64-byte header";
    case DecodeResult::kBadMagic:
      return "wrong magic";
    case DecodeResult::kUnknownKind:
      return "unknown kind";
    case DecodeResult::kLengthMismatch:
      return "cbData does not match the payload length";
  }
  return "unknown error";
}

}  // namespace platform::wire

// The window-message frame decoder over arbitrary datagrams (docs/fuzzing.md).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "wire_frame.h"

using namespace platform::wire;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto datagram = std::as_bytes(std::span<const uint8_t>(data, size));
  Header header;
  const DecodeResult result = DecodeFrame(datagram, &header);
  if (DescribeDecodeResult(result) == nullptr) std::abort();
  if (result != DecodeResult::kOk) return 0;

  if (size < kHeaderSize || header.cb_data != size - kHeaderSize) std::abort();
  std::byte again[kHeaderSize];
  EncodeHeader(header, std::span<std::byte, kHeaderSize>(again));
  // Reserved fields (28..31, 60..63) are not kept by the decoder.
  for (size_t i = 0; i < kHeaderSize; ++i) {
    const bool reserved = (i >= 28 && i < 32) || i >= 60;
    if (!reserved && again[i] != datagram[i]) std::abort();
  }
  return 0;
}

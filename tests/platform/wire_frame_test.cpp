// The frame codec: the exact byte layout, and every bad frame refused
// without reading outside the datagram.
#include "wire_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace platform::wire {
namespace {

std::vector<std::byte> Encode(const Header& header, size_t payload_size) {
  std::vector<std::byte> frame(kHeaderSize + payload_size, std::byte{0x5A});
  EncodeHeader(header, std::span<std::byte, kHeaderSize>(frame.data(), kHeaderSize));
  return frame;
}

uint64_t ReadLe(const std::vector<std::byte>& frame, size_t offset, size_t size) {
  uint64_t value = 0;
  for (size_t i = 0; i < size; ++i) {
    value |= static_cast<uint64_t>(frame[offset + i]) << (8 * i);
  }
  return value;
}

TEST(WireFrame, EncodesEveryFieldLittleEndianAtItsOffset) {
  Header header;
  header.kind = Kind::kSend;
  header.sequence = 0x0102030405060708;
  header.target = 0x7FFFFFFF;
  header.msg = 0x4A;
  header.w_param = 0x1122334455667788;
  header.l_param = -2;
  header.dw_data = 0xA1B2C3D4E5F60718;
  header.cb_data = 3;
  const auto frame = Encode(header, 3);

  EXPECT_EQ(std::string(reinterpret_cast<const char*>(frame.data()), 4), "HWM1");
  EXPECT_EQ(ReadLe(frame, 4, 4), 2u);
  EXPECT_EQ(ReadLe(frame, 8, 8), 0x0102030405060708u);
  EXPECT_EQ(ReadLe(frame, 16, 8), 0x7FFFFFFFu);
  EXPECT_EQ(ReadLe(frame, 24, 4), 0x4Au);
  EXPECT_EQ(ReadLe(frame, 28, 4), 0u);
  EXPECT_EQ(ReadLe(frame, 32, 8), 0x1122334455667788u);
  EXPECT_EQ(ReadLe(frame, 40, 8), 0xFFFFFFFFFFFFFFFEu);
  EXPECT_EQ(ReadLe(frame, 48, 8), 0xA1B2C3D4E5F60718u);
  EXPECT_EQ(ReadLe(frame, 56, 4), 3u);
  EXPECT_EQ(ReadLe(frame, 60, 4), 0u);

  Header decoded;
  ASSERT_EQ(DecodeFrame(frame, &decoded), DecodeResult::kOk);
  EXPECT_EQ(decoded.kind, Kind::kSend);
  EXPECT_EQ(decoded.sequence, header.sequence);
  EXPECT_EQ(decoded.target, header.target);
  EXPECT_EQ(decoded.msg, header.msg);
  EXPECT_EQ(decoded.w_param, header.w_param);
  EXPECT_EQ(decoded.l_param, -2);
  EXPECT_EQ(decoded.dw_data, header.dw_data);
  EXPECT_EQ(decoded.cb_data, 3u);
}

TEST(WireFrame, RejectsShortWrongMagicUnknownKindAndLengthMismatch) {
  Header header;
  header.kind = Kind::kPost;
  header.cb_data = 4;
  const auto good = Encode(header, 4);
  Header out;
  ASSERT_EQ(DecodeFrame(good, &out), DecodeResult::kOk);

  for (size_t size : {size_t{0}, size_t{1}, size_t{4}, size_t{63}}) {
    EXPECT_EQ(DecodeFrame(std::span(good).first(size), &out), DecodeResult::kTooShort) << size;
  }
  auto bad_magic = good;
  bad_magic[3] = std::byte{'2'};
  EXPECT_EQ(DecodeFrame(bad_magic, &out), DecodeResult::kBadMagic);

  for (uint32_t kind : {0u, 4u, 0xFFFFFFFFu}) {
    Header h = header;
    h.kind = static_cast<Kind>(kind);
    EXPECT_EQ(DecodeFrame(Encode(h, 4), &out), DecodeResult::kUnknownKind) << kind;
  }
  // cbData claims more, then less, than the datagram carries; and the
  // largest cbData, which must not wrap any length arithmetic.
  for (uint32_t cb : {5u, 3u, 0u, 0xFFFFFFFFu}) {
    Header h = header;
    h.cb_data = cb;
    EXPECT_EQ(DecodeFrame(Encode(h, 4), &out), DecodeResult::kLengthMismatch) << cb;
  }
  // A header that says 4 bytes follow, cut right after the header.
  EXPECT_EQ(DecodeFrame(std::span(good).first(kHeaderSize), &out), DecodeResult::kLengthMismatch);
}

TEST(WireFrame, ReservedFieldsAreIgnoredForLaterVersions) {
  Header header;
  header.kind = Kind::kReply;
  header.l_param = 77;
  auto frame = Encode(header, 0);
  frame[28] = std::byte{1};
  frame[63] = std::byte{0xFF};
  Header out;
  ASSERT_EQ(DecodeFrame(frame, &out), DecodeResult::kOk);
  EXPECT_EQ(out.kind, Kind::kReply);
  EXPECT_EQ(out.l_param, 77);
}

TEST(WireFrame, RandomDatagramsDecodeOnlyWhenConsistent) {
  // Random headers that are often almost right. Under AddressSanitizer this
  // also shows that no datagram makes the decoder read outside it.
  std::mt19937 random(12345);
  int accepted = 0;
  for (int round = 0; round < 20000; ++round) {
    std::vector<std::byte> datagram(random() % 160);
    for (auto& b : datagram) b = static_cast<std::byte>(random());
    uint32_t kind = 0;
    uint32_t cb = 0;
    if (datagram.size() >= kHeaderSize) {
      std::memcpy(datagram.data(), "HWM1", 4);
      kind = random() % 5;
      cb = static_cast<uint32_t>(datagram.size() - kHeaderSize) + (random() % 3) - 1;
      std::memcpy(datagram.data() + 4, &kind, 4);
      std::memcpy(datagram.data() + 56, &cb, 4);
    }
    Header out;
    const bool consistent = datagram.size() >= kHeaderSize && kind >= 1 && kind <= 3 &&
                            cb == datagram.size() - kHeaderSize;
    ASSERT_EQ(DecodeFrame(datagram, &out) == DecodeResult::kOk, consistent) << round;
    if (consistent) {
      ++accepted;
      ASSERT_EQ(out.cb_data, cb);
      ASSERT_EQ(static_cast<uint32_t>(out.kind), kind);
    }
  }
  EXPECT_GT(accepted, 100);
}

}  // namespace
}  // namespace platform::wire

// A bit buffer and a bounded reader over one: the encoding under the
// module's messages.
//
// Encoding: stream bit i is bit (i % 8) of byte (i / 8), and every value is
// written low bit first. So 8, 16, 32 or 64 bits written at a byte boundary
// are exactly the value's little-endian bytes, and a stream of n bits takes
// (n + 7) / 8 bytes whose unused high bits are 0. A string is its bytes
// followed by a zero byte, 8 bits each, at whatever bit position the stream
// is (no padding). Nothing else (no lengths, no type tags) is written.
#pragma once

#include <cstdint>
#include <vector>

namespace refmod {

class CBitWriter {
 public:
  // A message larger than this is refused, so that a runaway writer cannot
  // take all memory: 8 MiB.
  static constexpr uint32_t kMaxBits = 8u * 1024u * 1024u * 8u;

  // Each Write answers false and appends nothing when the argument is bad
  // (nBits above the value's width, null data) or the message would exceed
  // kMaxBits (or memory runs out). nBits 0 appends nothing and succeeds.
  bool WriteBits64(uint64_t value, uint32_t nBits);
  bool WriteData(const void* pData, uint32_t nBits);
  bool WriteString(const char* pszText);

  uint32_t SizeBits() const { return m_nBits; }
  // (SizeBits() + 7) / 8 bytes.
  const std::vector<uint8_t>& Bytes() const { return m_Bytes; }
  void Clear();

 private:
  bool Reserve(uint64_t nMoreBits);
  // nBits <= 64, capacity reserved.
  void Append(uint64_t value, uint32_t nBits);

  std::vector<uint8_t> m_Bytes;
  uint32_t m_nBits = 0;
};

// Reads a bit buffer it does not own. Never reads outside it: bits past the
// end read as 0, the position stops at the end and the reader is marked
// overrun.
class CBitReader {
 public:
  CBitReader() = default;
  // pData holds at least (nBits + 7) / 8 bytes.
  CBitReader(const uint8_t* pData, uint32_t nBits) : m_pData(pData), m_nBits(nBits) {}

  // nBits 0..64; above 64 answers 0, reads nothing and marks overrun.
  uint64_t ReadBits64(uint32_t nBits);
  // Writes exactly (nBits + 7) / 8 bytes to pData; the last partial byte
  // gets the remaining bits in its low bits, its high bits 0.
  bool ReadData(void* pData, uint32_t nBits);
  // Reads through the terminating zero byte (or the end). Stores at most
  // nBufferSize - 1 characters and a terminator; answers the number stored.
  uint32_t ReadString(char* pszBuffer, uint32_t nBufferSize);

  uint32_t SizeBits() const { return m_nBits; }
  uint32_t Tell() const { return m_nPos; }
  uint32_t BitsLeft() const { return m_nBits - m_nPos; }
  void Seek(uint32_t nBitPos);
  bool IsOverrun() const { return m_bOverrun; }
  void MarkOverrun() { m_bOverrun = true; }

 private:
  // nBits <= 64 and <= BitsLeft().
  uint64_t Extract(uint32_t nBits);

  const uint8_t* m_pData = nullptr;
  uint32_t m_nBits = 0;
  uint32_t m_nPos = 0;
  bool m_bOverrun = false;
};

}  // namespace refmod

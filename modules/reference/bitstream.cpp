#include "bitstream.h"

#include <cstring>
#include <new>

namespace refmod {

bool CBitWriter::Reserve(uint64_t nMoreBits) {
  const uint64_t nTotal = uint64_t{m_nBits} + nMoreBits;
  if (nTotal > kMaxBits) return false;
  try {
    m_Bytes.resize(static_cast<size_t>((nTotal + 7) / 8), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void CBitWriter::Append(uint64_t value, uint32_t nBits) {
  while (nBits > 0) {
    const uint32_t nShift = m_nBits & 7;
    const uint32_t nTake = (8 - nShift) < nBits ? (8 - nShift) : nBits;
    const uint32_t nMask = (1u << nTake) - 1;
    m_Bytes[m_nBits >> 3] |= static_cast<uint8_t>((static_cast<uint32_t>(value) & nMask) << nShift);
    value >>= nTake;
    nBits -= nTake;
    m_nBits += nTake;
  }
}

bool CBitWriter::WriteBits64(uint64_t value, uint32_t nBits) {
  if (nBits > 64) return false;
  if (nBits == 0) return true;
  if (!Reserve(nBits)) return false;
  Append(value, nBits);
  return true;
}

bool CBitWriter::WriteData(const void* pData, uint32_t nBits) {
  if (nBits == 0) return true;
  if (!pData || !Reserve(nBits)) return false;
  const auto* pBytes = static_cast<const uint8_t*>(pData);
  const uint32_t nWhole = nBits / 8;
  if ((m_nBits & 7) == 0) {
    std::memcpy(&m_Bytes[m_nBits >> 3], pBytes, nWhole);
    m_nBits += nWhole * 8;
  } else {
    for (uint32_t i = 0; i < nWhole; ++i) Append(pBytes[i], 8);
  }
  if (nBits & 7) Append(pBytes[nWhole], nBits & 7);
  return true;
}

bool CBitWriter::WriteString(const char* pszText) {
  if (!pszText) pszText = "";
  const size_t nLen = std::strlen(pszText);
  // Text and terminator, checked before any byte is written.
  const uint64_t nBits = (uint64_t{nLen} + 1) * 8;
  if (nBits > kMaxBits || !Reserve(nBits)) return false;
  for (size_t i = 0; i <= nLen; ++i) Append(static_cast<uint8_t>(pszText[i]), 8);
  return true;
}

void CBitWriter::Clear() {
  m_Bytes.clear();
  m_nBits = 0;
}

uint64_t CBitReader::Extract(uint32_t nBits) {
  uint64_t value = 0;
  uint32_t nDone = 0;
  while (nDone < nBits) {
    const uint32_t nShift = m_nPos & 7;
    const uint32_t nTake = (8 - nShift) < (nBits - nDone) ? (8 - nShift) : (nBits - nDone);
    const uint32_t nPart =
        (static_cast<uint32_t>(m_pData[m_nPos >> 3]) >> nShift) & ((1u << nTake) - 1);
    value |= uint64_t{nPart} << nDone;
    nDone += nTake;
    m_nPos += nTake;
  }
  return value;
}

uint64_t CBitReader::ReadBits64(uint32_t nBits) {
  if (nBits > 64) {
    m_bOverrun = true;
    return 0;
  }
  if (nBits > BitsLeft()) {
    m_bOverrun = true;
    return Extract(BitsLeft());  // the missing high bits read as 0
  }
  return Extract(nBits);
}

bool CBitReader::ReadData(void* pData, uint32_t nBits) {
  if (nBits == 0) return true;
  if (!pData) {
    m_bOverrun = true;
    return false;
  }
  auto* pOut = static_cast<uint8_t*>(pData);
  const uint32_t nBytes = nBits / 8 + ((nBits & 7) ? 1 : 0);
  const uint32_t nAvail = nBits <= BitsLeft() ? nBits : BitsLeft();
  if (nAvail < nBits) m_bOverrun = true;
  uint32_t nWhole = nAvail / 8;
  if ((m_nPos & 7) == 0) {
    // An empty message has no buffer at all (null), and memcpy must not
    // see a null source even for 0 bytes.
    if (nWhole > 0) std::memcpy(pOut, m_pData + (m_nPos >> 3), nWhole);
    m_nPos += nWhole * 8;
  } else {
    for (uint32_t i = 0; i < nWhole; ++i) pOut[i] = static_cast<uint8_t>(Extract(8));
  }
  uint32_t nNext = nWhole;
  if (nAvail & 7) pOut[nNext++] = static_cast<uint8_t>(Extract(nAvail & 7));
  if (nNext < nBytes) std::memset(pOut + nNext, 0, nBytes - nNext);
  return nAvail == nBits;
}

uint32_t CBitReader::ReadString(char* pszBuffer, uint32_t nBufferSize) {
  uint32_t nStored = 0;
  for (;;) {
    if (BitsLeft() < 8) {
      // No terminator before the end: whatever was there is not a string.
      m_bOverrun = true;
      m_nPos = m_nBits;
      break;
    }
    const char ch = static_cast<char>(Extract(8));
    if (ch == '\0') break;
    if (pszBuffer && nStored + 1 < nBufferSize) pszBuffer[nStored++] = ch;
  }
  if (pszBuffer && nBufferSize > 0) pszBuffer[nStored] = '\0';
  return nStored;
}

void CBitReader::Seek(uint32_t nBitPos) {
  m_nPos = nBitPos <= m_nBits ? nBitPos : m_nBits;
}

}  // namespace refmod

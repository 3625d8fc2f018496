#include "message.h"

namespace msvcabi {

uint32_t CMessage::Release() {
  const uint32_t nLeft = m_nRefs ? --m_nRefs : 0;
  if (nLeft == 0) delete this;
  return nLeft;
}

bool CMessage::Append(uint64_t value, uint32_t nBits) {
  const uint64_t nNeed = (uint64_t{m_nBits} + nBits + 7) / 8;
  if (nNeed > kMaxBytes) {
    m_bError = true;
    return false;
  }
  if (nNeed > m_nCapacity) {
    uint32_t nNew = m_nCapacity ? m_nCapacity * 2 : 64;
    while (nNew < nNeed) nNew *= 2;
    uint8_t* pNew = new uint8_t[nNew];
    if (!pNew) {
      m_bError = true;
      return false;
    }
    for (uint32_t i = 0; i < nNew; ++i) pNew[i] = i < m_nCapacity ? m_pBytes[i] : 0;
    delete[] m_pBytes;
    m_pBytes = pNew;
    m_nCapacity = nNew;
  }
  for (uint32_t i = 0; i < nBits; ++i, ++m_nBits) {
    if ((value >> i) & 1) m_pBytes[m_nBits / 8] |= static_cast<uint8_t>(1u << (m_nBits % 8));
  }
  return true;
}

void CMessage::WriteBits(uint32_t value, uint32_t nBits) {
  if (nBits > 32) {
    m_bError = true;
    return;
  }
  Append(value, nBits);
}

void CMessage::WriteBits64(uint64_t value, uint32_t nBits) {
  if (nBits > 64) {
    m_bError = true;
    return;
  }
  Append(value, nBits);
}

void CMessage::WriteData(const void* pData, uint32_t nBits) {
  if (!pData && nBits) {
    m_bError = true;
    return;
  }
  const auto* pBytes = static_cast<const uint8_t*>(pData);
  for (uint32_t i = 0; i < nBits && !m_bError; i += 8) {
    Append(pBytes[i / 8], nBits - i < 8 ? nBits - i : 8);
  }
}

void CMessage::WriteString(const char* pszText) {
  if (!pszText) pszText = "";
  do {
    Append(static_cast<uint8_t>(*pszText), 8);
  } while (*pszText++ && !m_bError);
}

uint64_t CMessage::ReadBits64(uint32_t nBits) {
  if (nBits > 64) {
    m_bOverrun = true;
    return 0;
  }
  uint64_t value = 0;
  for (uint32_t i = 0; i < nBits; ++i) {
    if (m_nPos >= m_nBits) {
      m_bOverrun = true;
      break;
    }
    if ((m_pBytes[m_nPos / 8] >> (m_nPos % 8)) & 1) value |= uint64_t{1} << i;
    ++m_nPos;
  }
  return value;
}

uint32_t CMessage::ReadBits(uint32_t nBits) {
  if (nBits > 32) {
    m_bOverrun = true;
    return 0;
  }
  return static_cast<uint32_t>(ReadBits64(nBits));
}

void CMessage::ReadData(void* pData, uint32_t nBits) {
  if (!pData && nBits) {
    m_bOverrun = true;
    return;
  }
  auto* pBytes = static_cast<uint8_t*>(pData);
  for (uint32_t i = 0; i < nBits; i += 8) {
    pBytes[i / 8] = static_cast<uint8_t>(ReadBits(nBits - i < 8 ? nBits - i : 8));
  }
}

uint32_t CMessage::ReadString(char* pszBuffer, uint32_t nBufferSize) {
  uint32_t nStored = 0;
  for (;;) {
    if (BitsLeft() < 8) {
      m_bOverrun = true;
      m_nPos = m_nBits;
      break;
    }
    const char ch = static_cast<char>(ReadBits(8));
    if (ch == '\0') break;
    if (pszBuffer && nStored + 1 < nBufferSize) pszBuffer[nStored++] = ch;
  }
  if (pszBuffer && nBufferSize) pszBuffer[nStored] = '\0';
  return nStored;
}

int32_t CLTCommonImpl::NewMessage(ILTMessage_Write** ppMessage) {
  if (!ppMessage) return 1;
  *ppMessage = new CMessage();
  if (!*ppMessage) return 1;
  ++m_nMessages;
  return 0;
}

}  // namespace msvcabi

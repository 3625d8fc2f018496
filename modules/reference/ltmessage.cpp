#include "ltmessage.h"

#include <new>

namespace refmod {

namespace {

// Drops one reference; answers the remaining count. A count already at 0
// stays 0 (the caller frees the object).
uint32_t DropRef(std::atomic<uint32_t>& rRefs) {
  uint32_t nOld = rRefs.load(std::memory_order_relaxed);
  while (nOld != 0 && !rRefs.compare_exchange_weak(nOld, nOld - 1, std::memory_order_acq_rel)) {
  }
  return nOld == 0 ? 0 : nOld - 1;
}

}  // namespace

CLTMessageWrite* CLTMessageWrite::Create() {
  return new (std::nothrow) CLTMessageWrite();
}

CLTMessageWrite::~CLTMessageWrite() {
  for (CLTMessageRead* pReader : m_Readers) pReader->Release();
}

uint32_t CLTMessageWrite::Acquire() {
  return m_nRefs.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t CLTMessageWrite::Release() {
  const uint32_t nLeft = DropRef(m_nRefs);
  if (nLeft == 0) delete this;
  return nLeft;
}

ILTMessage_Read* CLTMessageWrite::ToReadable() {
  try {
    m_Readers.reserve(m_Readers.size() + 1);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  CLTMessageRead* pReader = CLTMessageRead::Create(m_Writer.Bytes().data(), m_Writer.SizeBits());
  if (pReader) m_Readers.push_back(pReader);
  return pReader;
}

void CLTMessageWrite::WriteBits(uint32_t value, uint32_t nBits) {
  if (nBits > 32 || !m_Writer.WriteBits64(value, nBits)) m_bError = true;
}

void CLTMessageWrite::WriteBits64(uint64_t value, uint32_t nBits) {
  if (!m_Writer.WriteBits64(value, nBits)) m_bError = true;
}

void CLTMessageWrite::WriteData(const void* pData, uint32_t nBits) {
  if (!m_Writer.WriteData(pData, nBits)) m_bError = true;
}

void CLTMessageWrite::WriteString(const char* pszText) {
  if (!m_Writer.WriteString(pszText)) m_bError = true;
}

CLTMessageRead* CLTMessageRead::Create(const uint8_t* pData, uint32_t nBits) {
  auto* pReader = new (std::nothrow) CLTMessageRead();
  if (!pReader) return nullptr;
  const size_t nBytes = (size_t{nBits} + 7) / 8;
  try {
    if (nBytes > 0) pReader->m_Bytes.assign(pData, pData + nBytes);
  } catch (const std::bad_alloc&) {
    delete pReader;
    return nullptr;
  }
  pReader->m_Reader = CBitReader(pReader->m_Bytes.data(), nBits);
  return pReader;
}

uint32_t CLTMessageRead::Acquire() {
  return m_nRefs.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t CLTMessageRead::Release() {
  const uint32_t nLeft = DropRef(m_nRefs);
  if (nLeft == 0) delete this;
  return nLeft;
}

uint32_t CLTMessageRead::ReadBits(uint32_t nBits) {
  if (nBits > 32) {
    m_Reader.MarkOverrun();
    return 0;
  }
  return static_cast<uint32_t>(m_Reader.ReadBits64(nBits));
}

uint64_t CLTMessageRead::ReadBits64(uint32_t nBits) {
  return m_Reader.ReadBits64(nBits);
}

void CLTMessageRead::ReadData(void* pData, uint32_t nBits) {
  m_Reader.ReadData(pData, nBits);
}

uint32_t CLTMessageRead::ReadString(char* pszBuffer, uint32_t nBufferSize) {
  return m_Reader.ReadString(pszBuffer, nBufferSize);
}

}  // namespace refmod

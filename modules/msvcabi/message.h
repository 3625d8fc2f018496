// The module's bit-stream messages and its ILTCommon: one reference-counted
// object is both the writer and, through ToReadable, the reader over what
// was written. Stream bit i is bit (i % 8) of byte (i / 8), values low bit
// first, texts as bytes up to and with a zero byte.
#pragma once

#include "interface/iltcommon.h"
#include "interface/ltmessage.h"

namespace msvcabi {

class CMessage final : public ILTMessage_Write, public ILTMessage_Read {
 public:
  // Writer side.
  uint32_t Acquire() override { return ++m_nRefs; }
  uint32_t Release() override;
  ILTMessage_Read* ToReadable() override { return this; }
  void WriteBits(uint32_t value, uint32_t nBits) override;
  void WriteBits64(uint64_t value, uint32_t nBits) override;
  void WriteData(const void* pData, uint32_t nBits) override;
  void WriteString(const char* pszText) override;
  bool HasError() const override { return m_bError; }

  // Reader side (Acquire, Release and Size serve both).
  uint32_t ReadBits(uint32_t nBits) override;
  uint64_t ReadBits64(uint32_t nBits) override;
  void ReadData(void* pData, uint32_t nBits) override;
  uint32_t ReadString(char* pszBuffer, uint32_t nBufferSize) override;
  uint32_t Size() const override { return m_nBits; }
  uint32_t Tell() const override { return m_nPos; }
  uint32_t BitsLeft() const override { return m_nBits - m_nPos; }
  void Seek(uint32_t nBitPos) override { m_nPos = nBitPos < m_nBits ? nBitPos : m_nBits; }
  bool IsOverrun() const override { return m_bOverrun; }

  ~CMessage() { delete[] m_pBytes; }

 private:
  // Messages are capped well above the largest record (a game information
  // of 211406 bytes).
  static constexpr uint32_t kMaxBytes = 1u << 20;
  bool Append(uint64_t value, uint32_t nBits);

  uint8_t* m_pBytes = nullptr;
  uint32_t m_nCapacity = 0;  // bytes
  uint32_t m_nBits = 0;
  uint32_t m_nPos = 0;
  uint32_t m_nRefs = 0;
  bool m_bError = false;
  bool m_bOverrun = false;
};

// Registered as "ILTCommon.Server" version 4 under its implementation name;
// counts the messages it made.
class CLTCommonImpl final : public ILTCommon {
 public:
  explicit CLTCommonImpl(const char* pszImplName) : m_pszImplName(pszImplName) {}
  const char* GetImplName() const override { return m_pszImplName; }
  int32_t NewMessage(ILTMessage_Write** ppMessage) override;
  int32_t MessagesMade() const { return m_nMessages; }

 private:
  const char* m_pszImplName;
  int32_t m_nMessages = 0;
};

}  // namespace msvcabi

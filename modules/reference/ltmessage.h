// The module's bit-stream message objects: ILTMessage_Write and
// ILTMessage_Read over the encoding of bitstream.h.
//
// Ownership: a writer starts with no reference (the creator calls Acquire);
// it is freed when Release drops its count to 0. ToReadable gives a reader
// over a copy of what was written so far (later writes do not show in it);
// the writer holds one reference on each reader it made and drops it when it
// is freed, so a receiver that keeps a reader beyond the call acquires it.
// Reference counts are atomic; the contents are used by one thread at a time.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "bitstream.h"
#include "interface/ltmessage.h"

namespace refmod {

class CLTMessageRead;

class CLTMessageWrite final : public ILTMessage_Write {
 public:
  // Null when memory is short.
  static CLTMessageWrite* Create();

  uint32_t Acquire() override;
  // Frees the object when the count reaches 0; a Release on a count of 0
  // (never acquired) also frees it.
  uint32_t Release() override;
  ILTMessage_Read* ToReadable() override;
  void WriteBits(uint32_t value, uint32_t nBits) override;
  void WriteBits64(uint64_t value, uint32_t nBits) override;
  void WriteData(const void* pData, uint32_t nBits) override;
  void WriteString(const char* pszText) override;
  uint32_t Size() const override { return m_Writer.SizeBits(); }
  bool HasError() const override { return m_bError; }

  const CBitWriter& Writer() const { return m_Writer; }

 private:
  CLTMessageWrite() = default;
  ~CLTMessageWrite();

  std::atomic<uint32_t> m_nRefs{0};
  CBitWriter m_Writer;
  std::vector<CLTMessageRead*> m_Readers;
  bool m_bError = false;
};

class CLTMessageRead final : public ILTMessage_Read {
 public:
  // A reader over a copy of nBits of pData, with one reference taken for the
  // caller. Null when memory is short.
  static CLTMessageRead* Create(const uint8_t* pData, uint32_t nBits);

  uint32_t Acquire() override;
  uint32_t Release() override;
  uint32_t ReadBits(uint32_t nBits) override;
  uint64_t ReadBits64(uint32_t nBits) override;
  void ReadData(void* pData, uint32_t nBits) override;
  uint32_t ReadString(char* pszBuffer, uint32_t nBufferSize) override;
  uint32_t Size() const override { return m_Reader.SizeBits(); }
  uint32_t Tell() const override { return m_Reader.Tell(); }
  uint32_t BitsLeft() const override { return m_Reader.BitsLeft(); }
  void Seek(uint32_t nBitPos) override { m_Reader.Seek(nBitPos); }
  bool IsOverrun() const override { return m_Reader.IsOverrun(); }

 private:
  CLTMessageRead() = default;
  ~CLTMessageRead() = default;

  std::atomic<uint32_t> m_nRefs{1};
  std::vector<uint8_t> m_Bytes;
  CBitReader m_Reader;
};

}  // namespace refmod

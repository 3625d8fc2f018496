// Bit-stream module messages: the writer the host fills and the reader the
// module receives (and the other way round for the module's own messages).
//
// The module implements both; the host only calls them. A stream is a
// sequence of bits; how they are laid out in memory is the implementation's
// business. Every operation is safe on any input: a read past the end
// answers zero bits and marks the reader, a write the writer cannot take is
// dropped and marks the writer.
#pragma once

#include <stdint.h>

class ILTMessage_Read;

// A message being written. NewMessage hands one out with no reference taken:
// the caller calls Acquire() before use and Release() when done; the object
// is freed with its last reference.
class ILTMessage_Write {
 public:
  // Take a reference; answers the new reference count.
  virtual uint32_t Acquire() = 0;
  // Drop a reference; answers the remaining count (0: the object is gone).
  virtual uint32_t Release() = 0;
  // A reader over everything written so far. The reader belongs to this
  // writer and stays valid until the writer is freed; a receiver that keeps
  // it longer takes its own reference with ILTMessage_Read::Acquire. Null
  // when no memory is left.
  virtual ILTMessage_Read* ToReadable() = 0;
  // Appends the low nBits (1..32) of value. nBits 0 appends nothing; above 32
  // appends nothing and marks the writer.
  virtual void WriteBits(uint32_t value, uint32_t nBits) = 0;
  // Appends the low nBits (1..64) of value; doubles go as their bit pattern.
  virtual void WriteBits64(uint64_t value, uint32_t nBits) = 0;
  // Appends nBits taken from memory, byte by byte from pData, low bit first
  // (a last partial byte gives its low bits). A null pData with nBits > 0
  // appends nothing and marks the writer.
  virtual void WriteData(const void* pData, uint32_t nBits) = 0;
  // Appends a zero-terminated text in the stream's string form; null is
  // written as the empty text.
  virtual void WriteString(const char* pszText) = 0;
  // Number of bits written so far.
  virtual uint32_t Size() const = 0;
  // True once a write was dropped (bad argument or size limit reached).
  virtual bool HasError() const = 0;

 protected:
  ~ILTMessage_Write() = default;
};

// A message being read, from the first bit on.
class ILTMessage_Read {
 public:
  virtual uint32_t Acquire() = 0;
  virtual uint32_t Release() = 0;
  // The next nBits (1..32). Bits past the end read as 0, the position stops
  // at the end and the reader is marked overrun. nBits above 32: answers 0
  // and marks the reader.
  virtual uint32_t ReadBits(uint32_t nBits) = 0;
  // The next nBits (1..64), same rules.
  virtual uint64_t ReadBits64(uint32_t nBits) = 0;
  // Copies the next nBits into pData, low bit first, writing exactly
  // (nBits + 7) / 8 bytes; bits past the end read as 0. A null pData
  // with nBits > 0 reads nothing and marks the reader.
  virtual void ReadData(void* pData, uint32_t nBits) = 0;
  // Reads one text of the stream's string form into pszBuffer (nBufferSize
  // bytes, always zero-terminated when nBufferSize > 0). A longer text is
  // cut to fit but consumed whole, so the next field still reads right.
  // Answers the number of characters stored (without the terminator).
  virtual uint32_t ReadString(char* pszBuffer, uint32_t nBufferSize) = 0;
  // Total bits in the message, the read position, and the bits not yet read.
  virtual uint32_t Size() const = 0;
  virtual uint32_t Tell() const = 0;
  virtual uint32_t BitsLeft() const = 0;
  // Moves the read position (clamped to the end).
  virtual void Seek(uint32_t nBitPos) = 0;
  // True once a read went past the end or got a bad argument. The mark is
  // sticky: seeking does not clear it, so a reader that ever ran short says
  // so at the end of its record.
  virtual bool IsOverrun() const = 0;

 protected:
  ~ILTMessage_Read() = default;
};

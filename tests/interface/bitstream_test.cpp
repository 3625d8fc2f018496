// The reference module's bit encoding (the byte layout, data and strings off
// alignment, reads past the end that stay inside) and its message objects.
#include "bitstream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ltcommon.h"
#include "ltmessage.h"

namespace refmod {
namespace {

TEST(BitStream, LayoutIsLowBitFirstAndLittleEndianAtByteBoundaries) {
  CBitWriter writer;
  writer.WriteBits64(1, 1);
  writer.WriteBits64(0, 2);
  writer.WriteBits64(0x1F, 5);  // completes byte 0: 1 + 0 + 0xF8
  writer.WriteBits64(0x12345678, 32);
  writer.WriteBits64(0xBEEF, 16);
  writer.WriteString("Hi");
  writer.WriteBits64(0xFF, 2);                    // bits above the width never reach the stream
  writer.WriteBits64(0x8123456789ABCDEFull, 64);  // over nine bytes, two bits in the last
  const std::vector<uint8_t> expected = {0xF9, 0x78, 0x56, 0x34, 0x12, 0xEF, 0xBE, 'H',  'i', 0x00,
                                         0xBF, 0x37, 0xAF, 0x26, 0x9E, 0x15, 0x8D, 0x04, 0x02};
  EXPECT_EQ(writer.Bytes(), expected);
  EXPECT_EQ(writer.SizeBits(), 8u * 10 + 2 + 64);
  CBitReader reader(expected.data(), writer.SizeBits());
  reader.Seek(8 * 10 + 2);
  EXPECT_EQ(reader.ReadBits64(64), 0x8123456789ABCDEFull);
  EXPECT_EQ(reader.BitsLeft(), 0u);
}

TEST(BitStream, DataAndStringsRoundTripOffAlignmentAndAreBounded) {
  const uint8_t payload[] = {0x01, 0x80, 0xFF, 0x00, 0x7E, 0xA5, 0x5A};
  for (uint32_t nLead = 0; nLead < 8; ++nLead) {
    CBitWriter writer;
    writer.WriteBits64(0, nLead);
    ASSERT_TRUE(writer.WriteData(payload, sizeof(payload) * 8));
    ASSERT_TRUE(writer.WriteData(payload, 13));  // a partial last byte: 5 bits of 0x80
    ASSERT_TRUE(writer.WriteString("quellmark map"));
    ASSERT_TRUE(writer.WriteString(""));
    ASSERT_TRUE(writer.WriteString(nullptr));
    ASSERT_TRUE(writer.WriteString("after"));

    CBitReader reader(writer.Bytes().data(), writer.SizeBits());
    reader.ReadBits64(nLead);
    uint8_t data[sizeof(payload)] = {};
    ASSERT_TRUE(reader.ReadData(data, sizeof(payload) * 8));
    EXPECT_EQ(std::memcmp(data, payload, sizeof(payload)), 0) << nLead;
    uint8_t part[2] = {0xCC, 0xCC};
    ASSERT_TRUE(reader.ReadData(part, 13));
    EXPECT_EQ(part[0], 0x01);
    EXPECT_EQ(part[1], 0x00);  // the 5 low bits of 0x80 are 0; high bits cleared

    char text[64];
    EXPECT_EQ(reader.ReadString(text, sizeof(text)), 13u);
    EXPECT_STREQ(text, "quellmark map");
    EXPECT_EQ(reader.ReadString(text, sizeof(text)), 0u);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(reader.ReadString(text, sizeof(text)), 0u);
    // A buffer too small cuts the text but consumes it whole.
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(reader.ReadString(small, sizeof(small)), 3u);
    EXPECT_STREQ(small, "aft");
    EXPECT_EQ(reader.BitsLeft(), 0u);
    EXPECT_FALSE(reader.IsOverrun());
  }
}

TEST(BitStream, ReadsPastTheEndStayInsideAndMarkTheReader) {
  CBitWriter writer;
  writer.WriteBits64(0x5, 3);
  // A heap copy of exactly the written bytes: ASan sees any read beyond them.
  std::vector<uint8_t> exact(writer.Bytes());
  CBitReader reader(exact.data(), writer.SizeBits());
  EXPECT_EQ(reader.ReadBits64(32), 0x5u);  // the missing bits read as 0
  EXPECT_TRUE(reader.IsOverrun());
  EXPECT_EQ(reader.Tell(), 3u);
  EXPECT_EQ(reader.ReadBits64(64), 0u);
  reader.Seek(0);
  EXPECT_TRUE(reader.IsOverrun());  // sticky
  uint8_t data[16];
  std::memset(data, 0xCC, sizeof(data));
  EXPECT_FALSE(reader.ReadData(data, 128));
  EXPECT_EQ(data[0], 0x5);
  for (size_t i = 1; i < sizeof(data); ++i) EXPECT_EQ(data[i], 0) << i;

  // An unterminated string: stored as far as it goes, the reader marked.
  CBitWriter unterminated;
  unterminated.WriteData("abc", 24);
  std::vector<uint8_t> bytes(unterminated.Bytes());
  CBitReader textReader(bytes.data(), unterminated.SizeBits());
  char text[8];
  EXPECT_EQ(textReader.ReadString(text, sizeof(text)), 3u);
  EXPECT_STREQ(text, "abc");
  EXPECT_TRUE(textReader.IsOverrun());
  // Even a zero-size or null buffer is safe.
  textReader.Seek(0);
  EXPECT_EQ(textReader.ReadString(text, 0), 0u);
  textReader.Seek(0);
  EXPECT_EQ(textReader.ReadString(nullptr, 10), 0u);

  // An empty message.
  CBitReader empty;
  EXPECT_EQ(empty.ReadBits64(8), 0u);
  EXPECT_TRUE(empty.IsOverrun());
  // Raw data from an empty message (no buffer behind it): zeros, marked.
  CBitReader emptyData;
  std::memset(data, 0xCC, sizeof(data));
  EXPECT_FALSE(emptyData.ReadData(data, 24));
  EXPECT_TRUE(emptyData.IsOverrun());
  EXPECT_EQ(data[0], 0);
  EXPECT_EQ(data[2], 0);
  EXPECT_EQ(data[3], 0xCC);
}

TEST(BitStream, BadArgumentsAndTheSizeLimitAreRefusedWithoutWriting) {
  CBitWriter writer;
  EXPECT_FALSE(writer.WriteBits64(1, 65));
  EXPECT_FALSE(writer.WriteData(nullptr, 8));
  EXPECT_TRUE(writer.WriteData(nullptr, 0));
  EXPECT_EQ(writer.SizeBits(), 0u);
  ASSERT_TRUE(writer.WriteBits64(0, 3));
  std::string big(CBitWriter::kMaxBits / 8, 'x');
  EXPECT_FALSE(writer.WriteString(big.c_str()));
  EXPECT_FALSE(writer.WriteData(big.data(), CBitWriter::kMaxBits));
  EXPECT_EQ(writer.SizeBits(), 3u);
  // Up to the limit exactly is fine.
  EXPECT_TRUE(writer.WriteData(big.data(), CBitWriter::kMaxBits - 3));
  EXPECT_EQ(writer.SizeBits(), CBitWriter::kMaxBits);
  EXPECT_FALSE(writer.WriteBits64(1, 1));
}

// Reference counts, the error flag, a reader that sees what was written before it.
TEST(LTMessage, WriterToReaderThroughTheInterfaces) {
  CLTCommon common;
  ILTMessage_Write* pWriter = nullptr;
  EXPECT_NE(common.NewMessage(nullptr), 0);
  ASSERT_EQ(common.NewMessage(&pWriter), 0);
  EXPECT_EQ(pWriter->Acquire(), 1u);
  pWriter->WriteString("room");
  EXPECT_FALSE(pWriter->HasError());
  pWriter->WriteBits(1, 33);  // refused
  EXPECT_TRUE(pWriter->HasError());
  EXPECT_EQ(pWriter->Size(), 40u);

  ILTMessage_Read* pReader = pWriter->ToReadable();
  ASSERT_NE(pReader, nullptr);
  pWriter->WriteBits(7, 8);  // not seen by the reader made before
  EXPECT_EQ(pReader->Size(), 40u);
  char text[16];
  EXPECT_EQ(pReader->ReadString(text, sizeof(text)), 4u);
  EXPECT_STREQ(text, "room");
  EXPECT_FALSE(pReader->IsOverrun());
  EXPECT_EQ(pReader->ReadBits(33), 0u);
  EXPECT_TRUE(pReader->IsOverrun());

  // A receiver's reference keeps the reader alive past the writer (checked under ASan).
  EXPECT_EQ(pReader->Acquire(), 2u);
  EXPECT_EQ(pWriter->Release(), 0u);
  pReader->Seek(8);
  EXPECT_EQ(pReader->ReadBits(8), uint32_t{'o'});
  EXPECT_EQ(pReader->Release(), 0u);

  // A writer never acquired is freed by its Release, with its readers (ASan's leak check).
  ASSERT_EQ(common.NewMessage(&pWriter), 0);
  ASSERT_NE(pWriter->ToReadable(), nullptr);
  ASSERT_NE(pWriter->ToReadable(), nullptr);
  EXPECT_EQ(pWriter->Release(), 0u);
}

}  // namespace
}  // namespace refmod

// The module's ILTCommon keeps the last messages it was shown, for the
// console's status command, without disturbing the reader.
#include "ltcommon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "ltmessage.h"

namespace refmod {
namespace {

// A reader with the given id and payload bytes; the caller releases it.
ILTMessage_Read* MakeMessage(CLTCommon& common, uint32_t nId, const std::string& payload,
                             ILTMessage_Write** ppWriter) {
  EXPECT_EQ(common.NewMessage(ppWriter), 0);
  (*ppWriter)->Acquire();
  (*ppWriter)->WriteBits(nId, 8);
  (*ppWriter)->WriteData(payload.data(), static_cast<uint32_t>(payload.size() * 8));
  return (*ppWriter)->ToReadable();
}

TEST(LTCommon, RecordsTheLastMessagesAndLeavesTheReaderAsItWas) {
  CLTCommon common;
  common.NoteReceived(nullptr);
  EXPECT_TRUE(common.Received().empty());

  ILTMessage_Write* pWriter = nullptr;
  ILTMessage_Read* pReader =
      MakeMessage(common, 39, std::string("\x07\x00\x00\x00\x02\x00", 6), &pWriter);
  ASSERT_NE(pReader, nullptr);
  EXPECT_EQ(pReader->ReadBits(8), 39u);  // the module read the id already
  common.NoteReceived(pReader);
  EXPECT_EQ(pReader->Tell(), 8u);
  EXPECT_FALSE(pReader->IsOverrun());
  EXPECT_EQ(pReader->ReadBits(32), 7u);
  pWriter->Release();

  // Serial, id, size and every byte, not cut.
  EXPECT_EQ(common.DescribeReceived(),
            (std::vector<std::string>{"#1 id 39 (56 bits): 27 07 00 00 00 02 00"}));

  // Only the last kReceivedKept stay, oldest first; big ones are cut.
  for (uint32_t i = 0; i < CLTCommon::kReceivedKept + 3; ++i) {
    pReader = MakeMessage(common, i, std::string(i == 5 ? 1000 : 1, 'x'), &pWriter);
    common.NoteReceived(pReader);
    pWriter->Release();
  }
  const auto received = common.Received();
  ASSERT_EQ(received.size(), CLTCommon::kReceivedKept);
  EXPECT_EQ(received.front().nSerial, 5u);
  EXPECT_EQ(received.back().nSerial, CLTCommon::kReceivedKept + 4);
  EXPECT_EQ(received.front().nId, 3u);
  const ReceivedMessage& big = received[2];
  EXPECT_EQ(big.nId, 5u);
  EXPECT_EQ(big.nBits, 8u * 1001);
  EXPECT_EQ(big.bytes.size(), CLTCommon::kReceivedCopyBytes);
  EXPECT_TRUE(big.bTruncated);
  const std::string bigLine = common.DescribeReceived()[2];
  EXPECT_EQ(bigLine.substr(bigLine.size() - 4), " ...");

  // A message shorter than an id.
  ASSERT_EQ(common.NewMessage(&pWriter), 0);
  pWriter->Acquire();
  pWriter->WriteBits(1, 3);
  common.NoteReceived(pWriter->ToReadable());
  pWriter->Release();
  EXPECT_EQ(common.Received().back().nId, 0u);
  EXPECT_EQ(common.Received().back().nBits, 3u);
}

// The module records on the window thread (deliveries) and the update
// thread (queued records) while its console reads: no record may be lost
// or torn (the thread sanitizer build checks the locking).
TEST(LTCommon, RecordsFromSeveralThreadsAtOnce) {
  CLTCommon common;
  constexpr int kPerThread = 300;
  auto deliver = [&](uint32_t nId) {
    for (int i = 0; i < kPerThread; ++i) {
      ILTMessage_Write* pWriter = nullptr;
      ILTMessage_Read* pReader = MakeMessage(common, nId, "abc", &pWriter);
      common.NoteReceived(pReader);
      pWriter->Release();
    }
  };
  std::thread window(deliver, 1);
  std::thread update(deliver, 2);
  size_t nLines = 0;
  for (int i = 0; i < 100; ++i) nLines = std::max(nLines, common.DescribeReceived().size());
  window.join();
  update.join();
  EXPECT_LE(nLines, CLTCommon::kReceivedKept);
  const auto received = common.Received();
  ASSERT_EQ(received.size(), CLTCommon::kReceivedKept);
  EXPECT_EQ(received.back().nSerial, 2u * kPerThread);
  for (size_t i = 1; i < received.size(); ++i) {
    EXPECT_EQ(received[i].nSerial, received[i - 1].nSerial + 1);
    EXPECT_EQ(received[i].bytes.size(), 4u);
  }
}

}  // namespace
}  // namespace refmod

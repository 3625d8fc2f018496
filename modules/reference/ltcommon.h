// The module's ILTCommon: hands out bit-stream message writers, and keeps a
// short history of the messages the module received so that its console can
// show them.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "interface/iltcommon.h"

namespace refmod {

// One received message as recorded: its id (first 8 bits), its size and a
// copy of its first bytes.
struct ReceivedMessage {
  uint64_t nSerial = 0;        // 1 for the first message recorded
  uint32_t nId = 0;            // first 8 bits; 0 for a message shorter than that
  uint32_t nBits = 0;          // the whole message's size
  std::vector<uint8_t> bytes;  // at most kReceivedCopyBytes of it
  bool bTruncated = false;     // bytes holds less than the whole message
};

class CLTCommon final : public ILTCommon {
 public:
  static constexpr const char* kImplName = "ReferenceModule.LTCommon";
  static constexpr size_t kReceivedKept = 16;
  static constexpr uint32_t kReceivedCopyBytes = 256;

  CLTCommon() = default;
  ~CLTCommon() = default;
  CLTCommon(const CLTCommon&) = delete;
  CLTCommon& operator=(const CLTCommon&) = delete;

  const char* GetImplName() const override { return kImplName; }
  // 0 and a writer without references; 1 when memory is short; 2 for a null
  // ppMessage.
  int32_t NewMessage(ILTMessage_Write** ppMessage) override;

  // Records a message delivered to the module. The reader's position is
  // restored afterwards, so the caller reads it as if nothing happened. Safe
  // from any thread; a null message is ignored.
  void NoteReceived(ILTMessage_Read* pMessage);
  // The last kReceivedKept messages, oldest first.
  std::vector<ReceivedMessage> Received() const;
  // One line per recorded message: "#<serial> id <id> (<bits> bits): <hex>",
  // the hex cut at 32 bytes with "..." appended.
  std::vector<std::string> DescribeReceived() const;

 private:
  mutable std::mutex m_Lock;
  std::deque<ReceivedMessage> m_Received;
  uint64_t m_nSerial = 0;
};

}  // namespace refmod

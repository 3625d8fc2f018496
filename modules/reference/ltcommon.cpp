#include "ltcommon.h"

#include <cstdio>

#include "ltmessage.h"

namespace refmod {

int32_t CLTCommon::NewMessage(ILTMessage_Write** ppMessage) {
  if (!ppMessage) return 2;
  *ppMessage = CLTMessageWrite::Create();
  return *ppMessage ? 0 : 1;
}

void CLTCommon::NoteReceived(ILTMessage_Read* pMessage) {
  if (!pMessage) return;
  ReceivedMessage rec;
  rec.nBits = pMessage->Size();
  const uint32_t nAllBytes = rec.nBits / 8 + ((rec.nBits & 7) ? 1 : 0);
  const uint32_t nCopy = nAllBytes < kReceivedCopyBytes ? nAllBytes : kReceivedCopyBytes;
  const uint32_t nCopyBits = nCopy * 8 < rec.nBits ? nCopy * 8 : rec.nBits;
  rec.bTruncated = nCopy < nAllBytes;
  rec.bytes.resize(nCopy);

  // Reads within the message only, so the reader's overrun mark stays as
  // it was; the position is put back.
  const uint32_t nSavedPos = pMessage->Tell();
  pMessage->Seek(0);
  if (nCopy > 0) pMessage->ReadData(rec.bytes.data(), nCopyBits);
  pMessage->Seek(nSavedPos);
  rec.nId = rec.nBits >= 8 ? rec.bytes[0] : 0;

  std::lock_guard<std::mutex> lock(m_Lock);
  rec.nSerial = ++m_nSerial;
  m_Received.push_back(std::move(rec));
  while (m_Received.size() > kReceivedKept) m_Received.pop_front();
}

std::vector<ReceivedMessage> CLTCommon::Received() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return {m_Received.begin(), m_Received.end()};
}

std::vector<std::string> CLTCommon::DescribeReceived() const {
  std::vector<std::string> lines;
  for (const ReceivedMessage& rec : Received()) {
    char head[96];
    std::snprintf(head, sizeof(head),
                  "#%llu id %u (%u bits):", static_cast<unsigned long long>(rec.nSerial), rec.nId,
                  rec.nBits);
    std::string line = head;
    const size_t nShown = rec.bytes.size() < 32 ? rec.bytes.size() : 32;
    for (size_t i = 0; i < nShown; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof(hex), " %02x", rec.bytes[i]);
      line += hex;
    }
    if (nShown < rec.bytes.size() || rec.bTruncated) line += " ...";
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace refmod

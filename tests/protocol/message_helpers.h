// A real module message (the reference module's bit stream) for tests: write
// through W(), then read the same bits through R().
#pragma once

#include <cstdint>
#include <vector>

#include "interface/ltmessage.h"
#include "ltmessage.h"

namespace prototest {

// A copy of a record field: test macros bind references, and a reference to
// a field of a packed record may be misaligned.
template <typename T>
T Val(T value) {
  return value;
}

class TestMessage {
 public:
  TestMessage() : writer_(refmod::CLTMessageWrite::Create()) { writer_->Acquire(); }
  ~TestMessage() { writer_->Release(); }
  TestMessage(const TestMessage&) = delete;
  TestMessage& operator=(const TestMessage&) = delete;

  ILTMessage_Write& W() { return *writer_; }
  // A reader over everything written so far (made once).
  ILTMessage_Read& R() {
    if (reader_ == nullptr) reader_ = writer_->ToReadable();
    return *reader_;
  }
  const std::vector<uint8_t>& Bytes() const { return writer_->Writer().Bytes(); }

 private:
  refmod::CLTMessageWrite* writer_;
  ILTMessage_Read* reader_ = nullptr;
};

}  // namespace prototest

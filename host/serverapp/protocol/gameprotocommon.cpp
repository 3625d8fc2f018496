#include "protocol/gameprotocommon.h"

#include "protocol/streamio.h"

namespace {

uint8_t SwapNibbles(uint8_t value) {
  return static_cast<uint8_t>((value << 4) | (value >> 4));
}

}  // namespace

bool GAMEPROTO_COMMON::ReadHeader(ILTMessage_Read&) {
  return true;
}

bool GAMEPROTO_COMMON::ReadTrailer(ILTMessage_Read& msg) {
  if (bUseCheckByte != 0) {
    const int8_t received = proto::ReadI8(msg);
    const auto expected =
        static_cast<int8_t>(cStreamCheckValue * (SwapNibbles(byCheckKey1) + byCheckKey2));
    if (received != expected) bCheckPassed = 0;
    if (bCheckPassed == 0) bValid = 0;
  }
  return IsValid();
}

bool GAMEPROTO_COMMON::WriteHeader(ILTMessage_Write&) {
  return true;
}

bool GAMEPROTO_COMMON::WriteTrailer(ILTMessage_Write& msg) {
  if (bUseCheckByte != 0) {
    proto::WriteI8(msg, static_cast<int8_t>(cStreamCheckValue * (byCheckKey1 + byCheckKey2)));
  }
  return IsValid();
}

bool PROTO_SERVERAPPMSG_INIT::Read(ILTMessage_Read& msg) {
  ReadHeader(msg);
  tMapIndex = proto::ReadI16(msg);
  roundType = proto::ReadU8(msg);
  bLoad = proto::ReadBool(msg);
  cFixed = proto::ReadI8(msg);
  MatchType = proto::ReadU8(msg);
  bSecondFlag = proto::ReadBool(msg);
  return ReadTrailer(msg);
}

bool PROTO_SERVERAPPMSG_INIT::Write(ILTMessage_Write& msg) {
  WriteHeader(msg);
  proto::WriteI16(msg, tMapIndex);
  proto::WriteU8(msg, roundType);
  proto::WriteBool(msg, bLoad);
  proto::WriteI8(msg, cFixed);
  proto::WriteU8(msg, MatchType);
  proto::WriteBool(msg, bSecondFlag);
  return WriteTrailer(msg);
}

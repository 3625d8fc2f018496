// Records exchanged with the module as objects that read and write
// themselves on a message stream. The base carries an optional trailing
// check byte; nothing in the host switches it on, so by default a record's
// stream form is exactly its fields.
#pragma once

#include <cstdint>

#include "interface/ltmessage.h"

class GAMEPROTO_COMMON {
 public:
  // Virtual in this order: read header, read trailer, write header, write
  // trailer (then the destructor).
  virtual bool ReadHeader(ILTMessage_Read& msg);
  // With the check byte on: reads an i8 and compares it with
  // checkValue * (nibble-swapped first key + second key); a mismatch clears
  // the check-passed flag, which clears the valid flag. Answers IsValid().
  virtual bool ReadTrailer(ILTMessage_Read& msg);
  virtual bool WriteHeader(ILTMessage_Write& msg);
  // With the check byte on: writes checkValue * (first key + second key) as
  // an i8. Answers IsValid().
  virtual bool WriteTrailer(ILTMessage_Write& msg);
  virtual ~GAMEPROTO_COMMON() = default;

  bool IsValid() const { return bValid != 0; }

  uint32_t bValid = 1;
  uint8_t byCheckKey1 = 0;
  uint8_t byCheckKey2 = 0;
  uint32_t bUseCheckByte = 0;  // off: no check byte is written or read
  uint32_t bCheckPassed = 1;
  // The stream's check value. The message objects of this system offer
  // none, so it is whatever the owner sets (0 unless told).
  int8_t cStreamCheckValue = 0;
};

class GAMEPROTO_SC_COMMON : public GAMEPROTO_COMMON {};

class PROTO_SERVERAPPMSG_INIT : public GAMEPROTO_SC_COMMON {
 public:
  // Header, the six fields in widths 16, 8, 1, 8, 8, 1, trailer. Answers
  // the trailer's result.
  bool Read(ILTMessage_Read& msg);
  bool Write(ILTMessage_Write& msg);

  int16_t tMapIndex = -1;
  uint8_t roundType = 0;
  bool bLoad = false;
  int8_t cFixed = -1;
  uint8_t MatchType = 0;
  bool bSecondFlag = false;
};

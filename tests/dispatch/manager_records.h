// Records as the manager fills them, for the dispatch tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "protocol/gameinfo.h"

namespace dispatchtest {

// The serial may fill all 16 bytes: the manager need not leave a terminator.
inline std::unique_ptr<PROTO_START_HOST> GameInfo(const std::string& serial) {
  auto info = std::make_unique<PROTO_START_HOST>();
  std::memcpy(info->GameLogSerial, serial.data(),
              std::min(serial.size(), sizeof(info->GameLogSerial)));
  return info;
}

inline PROTO_GAME_USER_INFO User(uint64_t usn, int32_t slot, int8_t team = 1) {
  PROTO_GAME_USER_INFO user;
  user.USN = usn;
  user.SlotIdx = slot;
  user.TeamIdx = team;
  std::strcpy(user.FirstText, "first");
  std::strcpy(user.SecondText, "second");
  return user;
}

}  // namespace dispatchtest

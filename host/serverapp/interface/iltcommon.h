// ILTCommon: the engine's common services, provided by the server module
// through the interface database and held by the host to build the messages
// it sends to the module.
#pragma once

#include <stdint.h>

#include "interface/interfaceimpl.h"
#include "interface/ltmessage.h"

// The name and version under which the module registers its ILTCommon and
// the host holds it.
inline constexpr const char* kLTCommonServerName = "ILTCommon.Server";
inline constexpr uint32_t kLTCommonServerVersion = 4;

class ILTCommon : public IInterfaceImpl {
 public:
  // Creates an empty message writer in *ppMessage (no reference taken yet:
  // call Acquire). Answers 0 on success; any other value means failure and
  // *ppMessage is null. A null ppMessage answers non-zero.
  virtual int32_t NewMessage(ILTMessage_Write** ppMessage) = 0;

 protected:
  ~ILTCommon() = default;
};

// The `emit` console command: sends the host any module-to-host message
// (serveremit.h), so that every case of the host's dispatch can be driven
// from outside.
#include "interface/ltmessage.h"
#include "server.h"
#include "serveremit.h"

namespace refmod {

int32_t CReferenceServer::RunEmit(const std::string& argument) {
  if (argument.empty()) {
    Say("emit NAME [field=value ...]; the messages and their fields:");
    for (const std::string& line : EmitFieldList()) Say(line);
    return 0;
  }
  ILTMessage_Write* message = NewMessage();
  if (message == nullptr) {
    Say("emit: no message could be made");
    return 1;
  }
  const std::string error = BuildEmitMessage(argument, *message);
  if (!error.empty()) {
    message->Release();
    Say("emit: " + error);
    return 1;
  }
  const uint32_t bits = message->Size();
  trace_.Line("Emit %s bits=%u", argument.c_str(), bits);
  SendBuilt(message);
  Say("emit: sent " + std::to_string(bits) + " bits");
  return 0;
}

}  // namespace refmod

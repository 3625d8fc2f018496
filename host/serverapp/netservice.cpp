// Service selection and the probe block.
#include "netservice.h"

#include <cstring>

std::optional<uint64_t> FindSelectedService(const NET_SERVICE_NODE* head, uint32_t max_nodes) {
  uint32_t walked = 0;
  for (const NET_SERVICE_NODE* node = head; node != nullptr && walked < max_nodes;
       node = node->pNext, ++walked) {
    if (node->dwFlags & NET_SERVICE_SELECTED) return node->hService;
  }
  return std::nullopt;
}

SERVER_PROBE_BLOCK MakeProbeBlock(int32_t port) {
  SERVER_PROBE_BLOCK block;
  std::memset(&block, 0, sizeof(block));
  block.nPort = port;
  block.dwUnused = 0;
  block.dwValue = 128;
  std::strncpy(block.szText, "HAHAHA", sizeof(block.szText));
  block.szText[sizeof(block.szText) - 1] = '\0';
  block.byTail[0] = 0;
  block.byTail[1] = 0;
  return block;
}

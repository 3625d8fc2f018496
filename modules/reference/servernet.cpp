// The reference server's network side: the service list the host picks
// from, and the start probe.
#include <cstdio>
#include <cstring>

#include "server.h"

namespace refmod {
namespace {

// Service handles are distinct, recognisable numbers: 0x5E000 + position.
constexpr uint64_t kServiceHandleBase = 0x5E000;

}  // namespace

bool CReferenceServer::OpenNetwork(const void* pReserved1, const void* pReserved2) {
  trace_.Line("OpenNetwork %s",
              pReserved1 == nullptr && pReserved2 == nullptr ? "null,null" : "args");
  network_open_ = switches_.open_network_result;
  return network_open_;
}

bool CReferenceServer::ListNetServices(NET_SERVICE_NODE** ppList) {
  if (ppList == nullptr) return false;
  *ppList = nullptr;
  trace_.Line("ListNetServices count=%d selected=%d", switches_.service_count,
              switches_.selected_service);
  if (!switches_.list_services_result) return false;
  // Built back to front so that position 1 ends up at the head.
  for (int32_t position = switches_.service_count; position >= 1; --position) {
    auto* node = new NET_SERVICE_NODE{};
    node->hService = kServiceHandleBase + static_cast<uint64_t>(position);
    node->dwFlags = position == switches_.selected_service ? NET_SERVICE_SELECTED : 0;
    std::snprintf(node->szName, sizeof(node->szName), "reference-service-%d", position);
    node->pNext = *ppList;
    *ppList = node;
  }
  return true;
}

void CReferenceServer::FreeNetServices(NET_SERVICE_NODE* pList) {
  int freed = 0;
  while (pList != nullptr) {
    NET_SERVICE_NODE* next = pList->pNext;
    delete pList;
    pList = next;
    ++freed;
  }
  trace_.Line("FreeNetServices nodes=%d", freed);
}

bool CReferenceServer::UseNetService(uint64_t hService) {
  uint64_t position = hService - kServiceHandleBase;
  trace_.Line("UseNetService position=%llu", static_cast<unsigned long long>(position));
  if (!network_open_ || position < 1 || position > static_cast<uint64_t>(switches_.service_count)) {
    return false;
  }
  service_ = hService;
  return switches_.use_service_result;
}

int32_t CReferenceServer::ProbeServer(SERVER_PROBE_BLOCK* pBlock) {
  if (pBlock == nullptr) return 1;
  const auto& results = switches_.probe_results;
  int32_t result = results[probe_calls_ < results.size() ? probe_calls_ : results.size() - 1];
  ++probe_calls_;
  port_ = pBlock->nPort;
  char text[sizeof(pBlock->szText) + 1] = {};
  std::memcpy(text, pBlock->szText, strnlen(pBlock->szText, sizeof(pBlock->szText)));
  trace_.Line("ProbeServer call=%zu port=%d unused=%u value=%u text=%s tail=%u,%u result=%d",
              probe_calls_, pBlock->nPort, pBlock->dwUnused, pBlock->dwValue, text,
              pBlock->byTail[0], pBlock->byTail[1], result);
  return result;
}

}  // namespace refmod

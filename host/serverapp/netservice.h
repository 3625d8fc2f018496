// The module's service list and the start probe block, as the host reads
// and builds them.
#pragma once

#include <cstdint>
#include <optional>

#include "interface/igameserver.h"

// The handle of the first node of the list whose flags have
// NET_SERVICE_SELECTED, walking from the head; nothing when none has.
// At most max_nodes nodes are walked, so that a looping list cannot hang
// the host.
std::optional<uint64_t> FindSelectedService(const NET_SERVICE_NODE* head,
                                            uint32_t max_nodes = 100000);

// The probe block: port, 0, 128, "HAHAHA", two zero bytes.
SERVER_PROBE_BLOCK MakeProbeBlock(int32_t port);

// Test-only controls of the log message manager. Production code never
// includes this, so the waits of a real instance are always 1000 ms (for the
// table to appear) and 10000 ms (for its count), polled every 100 ms.
#pragma once

#include <cstdint>

// Shortens (or restores, with 1000, 10000, 100) the reader's waits.
void SetLogMsgWaitsForTesting(std::uint32_t table_ms, std::uint32_t count_ms,
                              std::uint32_t poll_ms);

// Back to a fresh process: mode -1, error 0, nothing held.
void ResetLogMsgManagerForTesting();

// Test-only controls of the host logger. Production code never includes this.
#pragma once

// Back to the state of a fresh process: threshold 5, switches off, no paths
// (lines are lost until InitHostLogger).
void ResetHostLoggerForTesting();

// Threshold and switches as they are now.
unsigned int HostLogThresholdForTesting();

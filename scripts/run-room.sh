#!/usr/bin/env bash
# Builds ServerApp and hosts a room end to end with the manager simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)"
exec scripts/demo.sh build/dev

#!/usr/bin/env bash
# Builds everything and runs every test but the soak (see README).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
export SERVERAPP_WERROR="${SERVERAPP_WERROR:-ON}"
cmake --preset dev
cmake --build --preset dev -j "$(nproc)"
ctest --preset dev

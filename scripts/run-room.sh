#!/usr/bin/env bash
# Builds what one room needs and hosts it end to end with the manager
# simulator. Only ServerApp, the reference module, the deployment folder and
# gsmsim are built, not the tests and benchmarks (scripts/test.sh builds
# those in the same folder later).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)" --target ServerApp server_d_x64 dist_files dist_msz gsmsim
exec scripts/demo.sh build/dev

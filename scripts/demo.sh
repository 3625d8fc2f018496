#!/usr/bin/env bash
# Hosts one room end to end on the reference module with the manager
# simulator's built-in demo scenario, printing every answer of the host, and
# then where the room's log files are.
# Usage: scripts/demo.sh [BUILD_DIR]   (default build/dev; it must be built)
# Exit status: 0 when every expectation of the scenario held.
set -euo pipefail
build="${1:-build/dev}"
gsmsim="$build/tools/gsmsim/gsmsim"
if [[ ! -x "$gsmsim" || ! -x "$build/dist/ServerApp" ]]; then
  echo "demo.sh: build $build first (gsmsim, ServerApp, server_d_x64)" >&2
  exit 2
fi
# The logs stay for the user to open: a folder per run under the build
# folder, unless the caller chose a place. Absolute, as the hosts run in
# room folders of their own.
if [[ -z "${SERVERAPP_LOG_BASE:-}" ]]; then
  SERVERAPP_LOG_BASE="$(cd "$build" && pwd)/demo-logs/$(date +%Y%m%d-%H%M%S)"
  mkdir -p "$SERVERAPP_LOG_BASE"
  export SERVERAPP_LOG_BASE
fi
status=0
"$gsmsim" run --rooms 1 --dist "$build/dist" --scenario demo || status=$?
echo "demo: the room's log files are in $SERVERAPP_LOG_BASE/quellmark/ServerApp/"
if ((status != 0)); then
  echo "demo: an expectation failed (gsmsim exit status $status)" >&2
  exit "$status"
fi
echo "demo: the room ran end to end"

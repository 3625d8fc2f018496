#!/usr/bin/env bash
# Hosts one room end to end on the reference module with the manager
# simulator's built-in demo scenario, printing every answer of the host.
# Usage: scripts/demo.sh [BUILD_DIR]   (default build/dev; it must be built)
# Exit status: 0 when every expectation of the scenario held.
set -euo pipefail
build="${1:-build/dev}"
gsmsim="$build/tools/gsmsim/gsmsim"
if [[ ! -x "$gsmsim" || ! -x "$build/dist/ServerApp" ]]; then
  echo "demo.sh: build $build first (gsmsim, ServerApp, server_d_x64)" >&2
  exit 2
fi
# Logs go to a temporary folder unless the caller chose one.
if [[ -z "${SERVERAPP_LOG_BASE:-}" ]]; then
  SERVERAPP_LOG_BASE="$(mktemp -d "${TMPDIR:-/tmp}/serverapp-demo-logs-XXXXXX")"
  export SERVERAPP_LOG_BASE
  trap 'rm -rf "$SERVERAPP_LOG_BASE"' EXIT
fi
"$gsmsim" run --rooms 1 --dist "$build/dist" --scenario demo
echo "demo: the room ran end to end"

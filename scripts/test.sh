#!/usr/bin/env bash
# Builds everything and runs every test but the soak (see README), stage by
# stage: the native build and its tests, the suite under ASan+UBSan and under
# TSan, a short run of every fuzz target, and the Windows build under Wine.
# Every stage runs even when an earlier one failed; the summary at the end
# names the stages that failed, and the exit status is non-zero if any did.
#
#   SERVERAPP_STAGES="dev asan tsan fuzz win64"   (the default: all of them)
set -uo pipefail
cd "$(dirname "$0")/.."
export SERVERAPP_WERROR="${SERVERAPP_WERROR:-ON}"
stages=(${SERVERAPP_STAGES:-dev asan tsan fuzz win64})

scripts/deps.sh || exit 1

stage_dev() {
  cmake --preset dev && cmake --build --preset dev -j "$(nproc)" && ctest --preset dev
}
stage_asan() { scripts/sanitize.sh asan; }
stage_tsan() { scripts/sanitize.sh tsan; }
stage_fuzz() {
  scripts/deps.sh clang libclang-rt-14-dev && FUZZ_SECONDS="${FUZZ_SECONDS:-5}" scripts/fuzz-smoke.sh
}
stage_win64() { scripts/test-win64.sh; }

summary=()
status=0
for stage in "${stages[@]}"; do
  if ! declare -F "stage_$stage" >/dev/null; then
    echo "test.sh: unknown stage '$stage'" >&2
    exit 2
  fi
  echo "===== stage $stage"
  start=$(date +%s)
  "stage_$stage"
  rc=$?
  took=$(($(date +%s) - start))
  [[ $rc -eq 0 ]] || status=1
  summary+=("$stage: $([[ $rc -eq 0 ]] && echo passed || echo "FAILED (exit $rc)") in ${took} s")
done

echo "===== summary"
printf '  %s\n' "${summary[@]}"
exit $status

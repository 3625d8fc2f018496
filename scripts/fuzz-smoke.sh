#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset's settings) and runs each one
# for a short, bounded time from its seed corpus. New inputs go to a
# temporary folder, never into the repository. Exits non-zero when a target
# fails to build, reports a finding, or does not run.
#
#   scripts/fuzz-smoke.sh [build-dir]
#
# build-dir: an existing fuzz build to use (default: build/fuzz, configured
# here when it does not exist yet).
# FUZZ_SECONDS: seconds per target (default 10).
# FUZZ_TARGETS: space-separated target names to run (default: all).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build/fuzz}"
seconds="${FUZZ_SECONDS:-10}"
targets=(${FUZZ_TARGETS:-wire_frame msz xlsmsg_load settings crs_url crs_response rezname
  safeformat frommodule startparams copydata posted shell})

if [[ ! -f "$build/CMakeCache.txt" ]]; then
  launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  fi
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSERVERAPP_WERROR=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DSERVERAPP_FUZZ=ON -DSERVERAPP_TESTS=ON -DSERVERAPP_BENCH=OFF \
    "-DSERVERAPP_SANITIZE=address;undefined;fuzzer-no-link" "${launcher[@]}"
fi
cmake --build "$build" -j "${FUZZ_JOBS:-2}" --target "${targets[@]/#/fuzz_}"

work="$(mktemp -d "${TMPDIR:-/tmp}/fuzz-smoke.XXXXXX")"
trap 'rm -rf "$work"' EXIT

failed=()
for name in "${targets[@]}"; do
  exe="$build/tests/fuzz/fuzz_$name"
  seeds="$root/tests/fuzz/corpus/$name"
  mkdir -p "$work/$name/corpus" "$work/$name/artifacts"
  log="$work/$name/log.txt"
  echo "== fuzz_$name (${seconds}s)"
  # -max_total_time bounds the run; timeout(1) bounds a target that hangs
  # in start-up. Findings are written under the temporary folder.
  if timeout --kill-after=10 "$((seconds + 60))" "$exe" -max_total_time="$seconds" \
    -print_final_stats=1 -timeout=25 -rss_limit_mb=4096 \
    -artifact_prefix="$work/$name/artifacts/" "$work/$name/corpus" "$seeds" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^#[0-9]+ *DONE' "$log" | tail -n 2 || true
  else
    echo "fuzz_$name FAILED; the end of its output:"
    tail -n 40 "$log"
    for artifact in "$work/$name/artifacts/"*; do
      [[ -e "$artifact" ]] || continue
      echo "-- $(basename "$artifact") (base64):"
      base64 -w 0 "$artifact" | head -c 4000
      echo
    done
    failed+=("$name")
  fi
done

if ((${#failed[@]} > 0)); then
  echo "fuzz smoke: findings or failures in: ${failed[*]}"
  exit 1
fi
echo "fuzz smoke: ${#targets[@]} targets clean"

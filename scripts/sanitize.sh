#!/usr/bin/env bash
# Builds and runs the unit and integration tests (not the soak) under the
# sanitizers: ASan+UBSan (preset asan), ThreadSanitizer (preset tsan), or
# both, one after the other. Prints ctest's summary and the wall time of each
# run; exits non-zero when a configure, a build or a test fails.
#
#   scripts/sanitize.sh [asan|tsan|both]      (default: both)
#
# The build folders are the presets' own, build/asan and build/tsan.
# Environment: SANITIZE_JOBS (default: the number of processors) for the build;
# SANITIZE_CTEST_JOBS for ctest (default: the test preset's, which runs more
# tests than there are cores: most of them wait on real idle frames);
# SANITIZE_CTEST_ARGS adds ctest arguments (e.g. "-R ShellRows").
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2

which="${1:-both}"
case "$which" in
  asan) presets=(asan) ;;
  tsan) presets=(tsan) ;;
  both) presets=(asan tsan) ;;
  *)
    echo "usage: $0 [asan|tsan|both]" >&2
    exit 2
    ;;
esac

jobs="${SANITIZE_JOBS:-$(nproc)}"
ctest_jobs=()
if [[ -n "${SANITIZE_CTEST_JOBS:-}" ]]; then
  ctest_jobs=(-j "$SANITIZE_CTEST_JOBS")
fi
export SERVERAPP_WERROR="${SERVERAPP_WERROR:-ON}"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

status=0
summary=()
for preset in "${presets[@]}"; do
  dir="build/$preset"
  start=$(date +%s)
  echo "=== $preset: configure and build in $dir"
  mkdir -p "$dir"
  if ! cmake --preset "$preset" "${launcher[@]}" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log" >&2
    echo "=== $preset: configure failed" >&2
    status=1
    summary+=("$preset: configure failed")
    continue
  fi
  if ! cmake --build "$dir" -j "$jobs"; then
    echo "=== $preset: build failed" >&2
    status=1
    summary+=("$preset: build failed")
    continue
  fi
  built=$(date +%s)
  echo "=== $preset: tests"
  # The test preset carries the sanitizer options (and any suppressions).
  # shellcheck disable=SC2086
  ctest --preset "$preset" "${ctest_jobs[@]}" ${SANITIZE_CTEST_ARGS:-}
  rc=$?
  end=$(date +%s)
  [[ $rc -eq 0 ]] || status=1
  line="$preset: build $((built - start)) s, tests $((end - built)) s, ctest exit $rc"
  echo "=== $line"
  summary+=("$line")
done

echo "=== summary"
printf '  %s\n' "${summary[@]}"
exit $status

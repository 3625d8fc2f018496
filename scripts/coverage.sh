#!/usr/bin/env bash
# Builds the native suite with coverage, runs it (every test but the soak) and
# prints the line and branch coverage of host/, crs/, platform/ and modules/,
# and the combined line figure of host+crs+platform that docs/testing.md
# tracks. Exits non-zero when the configure or the build fails; a failing test
# is reported but the figures are still printed (they are what the run shows).
#
#   scripts/coverage.sh
#
# The build folder is its own, build/coverage (Debug, --coverage), so that the
# presets' folders keep their flags. The full report is written to
# build/coverage/coverage-summary.json.
# Environment: COVERAGE_JOBS (default: the number of processors) for the
# build and ctest; COVERAGE_CTEST_ARGS adds ctest arguments (e.g. "-R Shell");
# COVERAGE_REPORT_ONLY=1 prints the figures of the last run again.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2

scripts/deps.sh gcovr python3 || exit 1

dir=build/coverage
jobs="${COVERAGE_JOBS:-$(nproc)}"
export SERVERAPP_WERROR="${SERVERAPP_WERROR:-ON}"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

ctest_rc=0
if [[ "${COVERAGE_REPORT_ONLY:-0}" != 1 ]]; then
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" -G Ninja "${launcher[@]}" \
    -DCMAKE_BUILD_TYPE=Debug \
    -DSERVERAPP_TESTS=ON -DSERVERAPP_BENCH=OFF \
    -DSERVERAPP_WERROR="$SERVERAPP_WERROR" \
    -DCMAKE_C_FLAGS=--coverage -DCMAKE_CXX_FLAGS=--coverage \
    -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
    -DCMAKE_MODULE_LINKER_FLAGS=--coverage >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log" >&2
    echo "coverage: configure failed" >&2
    exit 1
  fi
  if ! cmake --build "$dir" -j "$jobs"; then
    echo "coverage: build failed" >&2
    exit 1
  fi

  # Counters from an earlier run would add up with this one's.
  find "$dir" -name '*.gcda' -delete
  start=$(date +%s)
  # shellcheck disable=SC2086
  ctest --test-dir "$dir" -j "$jobs" -LE soak --output-on-failure ${COVERAGE_CTEST_ARGS:-}
  ctest_rc=$?
  echo "coverage: tests took $(($(date +%s) - start)) s, ctest exit $ctest_rc"
fi

# One pass over the counters; the per-folder sums are made from its per-file
# summary. Only the code under test counts: not tests/, tools/ or bench/.
# Counters that threads bumped at once can come out negative in gcov's
# text; those lines are skipped (and reported) rather than failing the run.
if ! gcovr --root . --object-directory "$dir" \
  --filter 'host/' --filter 'crs/' --filter 'platform/' --filter 'modules/' \
  --exclude-directories '.*/CMakeFiles/[0-9.]+' \
  --exclude-unreachable-branches --exclude-throw-branches --gcov-ignore-parse-errors \
  --json-summary "$dir/coverage-summary.json" >/dev/null; then
  echo "coverage: gcovr failed" >&2
  exit 1
fi

python3 - "$dir/coverage-summary.json" <<'EOF'
import json, sys
files = json.load(open(sys.argv[1]))["files"]
dirs = ["host", "crs", "platform", "modules"]
sums = {d: [0, 0, 0, 0] for d in dirs}
for f in files:
    top = f["filename"].split("/", 1)[0]
    if top in sums:
        s = sums[top]
        s[0] += f["line_covered"]; s[1] += f["line_total"]
        s[2] += f["branch_covered"]; s[3] += f["branch_total"]
pct = lambda a, b: 100.0 * a / b if b else 0.0
def row(name, s):
    lines = f"{pct(s[0], s[1]):5.1f} % ({s[0]}/{s[1]})"
    branches = f"{pct(s[2], s[3]):5.1f} % ({s[2]}/{s[3]})"
    print(f"{name:<20}{lines:<24}{branches}")
print(f"{'folder':<20}{'lines':<24}branches")
for d in dirs:
    row(d + "/", sums[d])
row("host+crs+platform", [sum(sums[d][i] for d in ("host", "crs", "platform")) for i in range(4)])
EOF
exit $ctest_rc

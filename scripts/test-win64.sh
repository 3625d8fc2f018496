#!/usr/bin/env bash
# The Windows stage of the tests: cross-builds ServerApp.exe, server_d_x64.dll,
# gsmsim.exe and the test programs with mingw-w64 and runs them under Wine
# (docs/windows.md). Prints the time each step took.
#
#   scripts/test-win64.sh [ctest arguments...]     e.g. -L unit, -R host_
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=build/win64
export WINEPREFIX="$root/$build/wineprefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export SERVERAPP_WERROR="${SERVERAPP_WERROR:-ON}"
# A compiler cache, when the machine has one, makes a rebuild a matter of
# linking (CI keeps ~/.cache/ccache between runs).
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-ccache}"
  export CMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}"
fi

step_start=0
step() {
  step_start=$(date +%s)
  echo "== win64: $1"
}
done_step() {
  echo "== win64: $1 took $(($(date +%s) - step_start)) s"
}

step "packages"
# GoogleTest's sources (googletest) are built for the target; the Linux
# devhttp the Windows tests talk to needs the native toolchain. clang and
# lld-link build the module of the Windows compiler's C++ ABI
# (docs/building-a-module.md).
scripts/deps.sh g++-mingw-w64-x86-64-posix wine64 wine googletest clang lld
done_step "packages"

step "Wine prefix"
# Made once by the script the build and ctest run programs through. Then one
# wine server and its services for the whole run, kept until the end, with
# no output of ours held open: a server that stops between the build and the
# tests and is started again by two test programs at once can leave one of
# them hanging in Wine's start-up.
cmake/toolchains/wine-run.sh "$WINEPREFIX"
wineserver -k 2>/dev/null || true
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k 2>/dev/null || true' EXIT
wine wineboot </dev/null >/dev/null 2>&1 || true
# Wine's desktop process (explorer.exe /desktop) starts with the first
# window and ends some 20 s after the last one. Started by a test program,
# it inherits that program's output pipe, and ctest waits for the pipe to
# close: the test "hangs" after it passed, until explorer ends (longer while
# other tests keep windows open). A window of our own for the whole run
# keeps one desktop process up from here, with no output of ours.
wine notepad.exe </dev/null >/dev/null 2>&1 &
done_step "Wine prefix"

step "native devhttp"
# The development HTTP services stay Linux programs on loopback; the
# Windows tests start this one. Built each time (a no-op when up to date):
# the tests read what the current sources print.
if [ ! -f build/dev/CMakeCache.txt ]; then
  cmake --preset dev >/dev/null
fi
cmake --build --preset dev --target devhttp -j "$(nproc)"
# Breakpad's minidump_stackwalk beside it reads the Windows dumps.
scripts/breakpad-tools.sh build/dev/breakpad
done_step "native devhttp"

step "configure"
cmake --preset win64 -DSERVERAPP_HOST_DEVHTTP="$root/build/dev/tools/devhttp/devhttp" >/dev/null
done_step "configure"

step "build"
cmake --build --preset win64 -j "$(nproc)"
done_step "build"

step "test"
status=0
# A test program that still hangs once in Wine's start-up or exit (until its
# time-out; docs/windows.md) gets one more run. A test that fails twice
# fails the stage.
ctest --preset win64 --repeat until-pass:2 "$@" || status=$?
done_step "test"
exit $status

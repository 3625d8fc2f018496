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
# devhttp the Windows tests talk to needs the native toolchain.
scripts/deps.sh g++-mingw-w64-x86-64-posix wine64 wine googletest
done_step "packages"

step "Wine prefix"
if [ ! -f "$WINEPREFIX/.serverapp-ready" ]; then
  # The same set-up as cmake/toolchains/wine-run.sh does on first use: a
  # private prefix, the null display driver (windows and dialogs without a
  # display), no crash dialog.
  mkdir -p "$WINEPREFIX"
  wine wineboot --init >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wine reg add 'HKCU\Environment' /v TEMP /d 'Z:\tmp' /f >/dev/null 2>&1
  wine reg add 'HKCU\Environment' /v TMP /d 'Z:\tmp' /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wineserver -w || true
  touch "$WINEPREFIX/.serverapp-ready"
fi
# One wine server for the whole run: starting it once saves a second or so
# per test program.
wineserver -p 60 || true
done_step "Wine prefix"

step "native devhttp"
# The development HTTP services stay Linux programs on loopback; the
# Windows tests start this one.
if [ ! -x build/dev/tools/devhttp/devhttp ]; then
  cmake --preset dev >/dev/null
  cmake --build --preset dev --target devhttp -j "$(nproc)"
fi
done_step "native devhttp"

step "configure"
cmake --preset win64 -DSERVERAPP_HOST_DEVHTTP="$root/build/dev/tools/devhttp/devhttp" >/dev/null
done_step "configure"

step "build"
cmake --build --preset win64 -j "$(nproc)"
done_step "build"

step "test"
status=0
ctest --preset win64 "$@" || status=$?
done_step "test"
wineserver -k 2>/dev/null || true
exit $status

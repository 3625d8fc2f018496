#!/bin/sh
# Runs a Windows program of the cross build under Wine, in the build's own
# Wine prefix: `wine-run.sh <default prefix> <program> [args...]`. Without a
# program it only makes sure the prefix is ready (scripts/test-win64.sh).
#
# WINEPREFIX, when set, wins over the default. A missing prefix is created
# once (under a lock, as the build and ctest run programs in parallel) with
# the null display driver, so that windows and dialogs work without a
# display. This is the one place the prefix is set up.
set -e
default_prefix=$1
shift
export WINEPREFIX="${WINEPREFIX:-$default_prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Wine's own dialogs ("install Mono/Gecko?") must never wait for a click.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine=$(command -v wine64 || command -v wine)

if [ ! -f "$WINEPREFIX/.serverapp-ready" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.serverapp-ready" ]; then
      "$wine" wineboot --init >/dev/null 2>&1 || true
      "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
      # Scratch folders on drive Z: like the build folder: the tests hold
      # drive-less Linux paths (/work/...), which Windows resolves against
      # the current drive.
      "$wine" reg add 'HKCU\Environment' /v TEMP /d 'Z:\tmp' /f >/dev/null 2>&1
      "$wine" reg add 'HKCU\Environment' /v TMP /d 'Z:\tmp' /f >/dev/null 2>&1
      # A crashing test program must end, not wait in Wine's crash dialog.
      "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null 2>&1
      "$(dirname "$wine")/wineserver" -w 2>/dev/null || true
      touch "$WINEPREFIX/.serverapp-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# The wine server and the session's services (services.exe, rpcss,
# winedevice...) first, on their own and away from our output: started by
# the program, they would inherit its output pipe and keep it open after it
# ends, so that whoever reads it to its end (the test listing at ctest
# start) waits until its time-out. The server stays 60 s after its last
# program, so a build or a test run starts it once; `wineserver -p` fails
# (and nothing more happens) when it already runs.
if "$(dirname "$wine")/wineserver" -p60 </dev/null >/dev/null 2>&1; then
  "$wine" wineboot </dev/null >/dev/null 2>&1 || true
fi
[ $# -eq 0 ] && exit 0
exec "$wine" "$@"

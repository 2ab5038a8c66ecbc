#!/usr/bin/env bash
# Runs a Windows program under Wine for CTest (the cross build's emulator)
# and for `make demo`.
#
# - The prefix lives in the build tree (WINEPREFIX, or build/win32/wineprefix)
#   and is created once, under a lock, before parallel tests race for it.
# - A persistent wineserver makes each start cheap; `scripts/wine-stop.sh`
#   ends it when the run is over.
# - A machine whose kernel cannot execute 32-bit x86 code cannot run Wine's
#   32-bit loader at all; the program is then skipped with exit code 77,
#   which CTest reports as "not run", never as passed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=$here/../build/win32/wineprefix}"
export WINEPREFIX WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY

"$here/i386-runs.sh"
rc=$?
if [ $rc -eq 2 ] || ! command -v wine >/dev/null; then
    echo "SKIP: Wine is not installed" >&2
    exit 77
fi
if [ $rc -ne 0 ]; then
    echo "SKIP: this machine cannot execute 32-bit x86 programs (the kernel's 32-bit emulation is off), so Wine cannot run" >&2
    exit 77
fi

mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    # The lock's descriptor is closed for everything started here: a Wine
    # server or service that inherited it would hold the lock for its whole
    # life, and every later start would wait for it.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i </dev/null >/dev/null 2>&1 9>&-
    fi
    wineserver -p </dev/null >/dev/null 2>&1 9>&- &
    wine cmd /c exit </dev/null >/dev/null 2>&1 9>&-
) 9>"$WINEPREFIX.lock"

exec wine "$@"

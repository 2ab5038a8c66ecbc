#!/usr/bin/env bash
# Ends the persistent wineserver of the build tree's prefix, if any.
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=$here/../build/win32/wineprefix}"
export WINEPREFIX
[ -d "$WINEPREFIX" ] && command -v wineserver >/dev/null && wineserver -k >/dev/null 2>&1
exit 0

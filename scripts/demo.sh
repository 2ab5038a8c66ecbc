#!/usr/bin/env bash
# `make demo`: the stand-in host with the plug-in, in the terminal.
#   demo.sh <build dir> [database file] [--env windows|dos]
# With a terminal the program runs interactively; with its output piped (CI)
# it plays its scripted session and prints the screens it passed through.
# Where this machine's kernel cannot execute 32-bit x86 code, it runs in the
# virtual machine of vm-run.sh, on its serial console when there is a
# terminal. TOLMAR_WINE_ROUTE=native or vm forces a route.
set -u
here=$(cd "$(dirname "$0")" && pwd)
all=("$@")
build=$1
shift
args=()
while [ $# -gt 0 ]; do
    case $1 in
    --env) args+=(--env "${2:-}"); shift 2 ;;
    *) [ -n "$1" ] && args+=(--db "$1"); shift ;;
    esac
done

# Wine's console writes to the terminal in the locale's character set: the
# Polish letters need a UTF-8 one.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
*UTF-8* | *utf-8* | *UTF8* | *utf8*) ;;
*) export LC_ALL=C.UTF-8 ;;
esac

route=$("$here/wine-route.sh") || {
    [ $? -eq 2 ] &&
        echo "make demo: Wine is not installed (scripts/setup.sh installs it)" >&2
    exit 1
}

if [ "$route" = vm ]; then
    if [ -t 0 ] && [ -t 1 ]; then
        echo "make demo: this machine's kernel cannot execute 32-bit x86 programs; the program starts in a virtual machine in about 20 s" >&2
        exec env TOLMAR_WINE_ROUTE=native "$here/vm-run.sh" --tty "$here/demo.sh" "${all[@]}"
    fi
    echo "make demo: the scripted session runs in a virtual machine (scripts/vm-run.sh)" >&2
    exec env TOLMAR_WINE_ROUTE=native "$here/vm-run.sh" "$here/demo.sh" "${all[@]}"
fi

# Wine's console process gives the terminal's settings back on its own
# time, after the program has ended, or not at all when it is stopped: the
# terminal is set back here.
tty_settings=
[ -t 0 ] && tty_settings=$(stty -g 2>/dev/null)
"$here/wine-run.sh" "$build/bin/tolmar_host.exe" "${args[@]}"
rc=$?
# Under CTest other programs share the Wine server; the test run ends it.
[ -n "${TOLMAR_WINESERVER_SHARED:-}" ] || "$here/wine-stop.sh"
[ -n "$tty_settings" ] && stty "$tty_settings" 2>/dev/null
[ $rc -eq 77 ] && echo "make demo: this machine cannot run Wine, so the demonstration cannot start" >&2
exit $rc

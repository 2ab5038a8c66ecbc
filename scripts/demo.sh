#!/usr/bin/env bash
# `make demo`: the stand-in host with the plug-in, in the terminal.
#   demo.sh <build dir> [database file]
# With a terminal the program runs interactively; with its output piped (CI)
# it plays its scripted session and prints the screens it passed through.
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$1
db=${2:-}
args=()
[ -n "$db" ] && args+=(--db "$db")

# Wine's console writes to the terminal in the locale's character set: the
# Polish letters need a UTF-8 one.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
*UTF-8* | *utf-8* | *UTF8* | *utf8*) ;;
*) export LC_ALL=C.UTF-8 ;;
esac

# Where the kernel cannot execute 32-bit x86 code, Wine runs in the virtual
# machine of vm-run.sh, which has no terminal: the scripted session.
"$here/i386-runs.sh"
if [ $? -eq 1 ] && "$here/vm-run.sh" --check >/dev/null 2>&1; then
    echo "make demo: this machine's kernel cannot execute 32-bit x86 programs; the scripted session runs in a virtual machine" >&2
    exec "$here/vm-run.sh" "$here/demo.sh" "$@"
fi

"$here/wine-run.sh" "$build/bin/tolmar_host.exe" "${args[@]}"
rc=$?
"$here/wine-stop.sh"
[ $rc -eq 77 ] && echo "make demo: this machine cannot run Wine, so the demonstration cannot start" >&2
exit $rc

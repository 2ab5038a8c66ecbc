#!/usr/bin/env bash
# Prints where Wine's programs run: "native" where this machine's kernel
# executes 32-bit x86 code, "vm" where they need the virtual machine of
# scripts/vm-run.sh. TOLMAR_WINE_ROUTE=native or vm forces the answer.
# Exits 2, printing nothing, when Wine is not installed; 3 when the forced
# route is neither.
here=$(cd "$(dirname "$0")" && pwd)
case ${TOLMAR_WINE_ROUTE:-} in
native | vm) echo "$TOLMAR_WINE_ROUTE"; exit 0 ;;
"") ;;
*) echo "wine-route: TOLMAR_WINE_ROUTE must be native or vm, not '$TOLMAR_WINE_ROUTE'" >&2; exit 3 ;;
esac
"$here/i386-runs.sh"
case $? in
0) echo native ;;
1) echo vm ;;
*) exit 2 ;;
esac

#!/usr/bin/env bash
# Runs the test programs that need Wine (CTest label "wine") of a cross build
# tree, then ends the tree's wineserver.
#   scripts/wine-tests.sh BUILD_DIR [CTEST_ARGS...]
# Where this machine's kernel cannot execute 32-bit x86 code, they run inside
# the virtual machine of scripts/vm-run.sh; where that cannot start either,
# CTest reports them as not run.
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
shift
cd "$build" || exit 1

"$here/i386-runs.sh"
if [ $? -ne 1 ]; then
    ctest -L wine -j2 "$@"
    rc=$?
    "$here/wine-stop.sh"
    exit $rc
fi

if "$here/vm-run.sh" --check >/dev/null 2>&1; then
    echo "NOTE: this machine's kernel cannot execute 32-bit x86 programs; the tests that need Wine run in a virtual machine (scripts/vm-run.sh)."
    # Under software emulation everything takes several times longer.
    exec "$here/vm-run.sh" bash -c \
        'ctest -L wine -j2 --timeout 900 "$@"; rc=$?; "$0"/wine-stop.sh; exit $rc' "$here" "$@"
fi

echo "NOTE: this machine cannot execute 32-bit x86 programs and no virtual machine could start; the test programs that need Wine are skipped."
ctest -L wine "$@"

#!/usr/bin/env bash
# Runs the test programs that need Wine (CTest label "wine") of a cross build
# tree, then ends the tree's wineserver. It passes only when every one of
# them ran and passed.
#   scripts/wine-tests.sh BUILD_DIR [CTEST_ARGS...]
# Where this machine's kernel executes 32-bit x86 code they run here; where
# it cannot, inside the virtual machine of scripts/vm-run.sh. When neither
# can run them, it fails with one line that says why, followed by what the
# virtual machine printed while it booted. TOLMAR_WINE_ROUTE=native or vm
# forces a route.
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd) || exit 1
shift
cd "$build" || exit 1

route=$("$here/wine-route.sh") || {
    [ $? -eq 2 ] &&
        echo "FAILED: the tests that need Wine cannot run: Wine is not installed (scripts/setup.sh installs it)" >&2
    exit 1
}

case $route in
native)
    "$here/ctest-run.sh" -L wine -j2 "$@"
    rc=$?
    "$here/wine-stop.sh"
    exit $rc
    ;;
vm)
    echo "NOTE: the tests that need Wine run in a virtual machine (scripts/vm-run.sh)."
    err=$(mktemp)
    trap 'rm -f "$err"' EXIT
    # Under software emulation everything takes several times longer.
    "$here/vm-run.sh" bash -c \
        '"$0"/ctest-run.sh -L wine -j2 --timeout 900 "$@"; rc=$?; "$0"/wine-stop.sh; exit $rc' \
        "$here" "$@" 2>"$err"
    rc=$?
    if [ $rc -eq 125 ]; then
        echo "FAILED: the tests that need Wine cannot run: they need the virtual machine of scripts/vm-run.sh here, and it did not run them" >&2
    fi
    cat "$err" >&2
    exit $rc
    ;;
esac

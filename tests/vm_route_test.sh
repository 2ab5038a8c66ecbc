#!/usr/bin/env bash
# The virtual machine that runs the Wine tests where this machine's kernel
# cannot execute 32-bit x86 code (scripts/vm-run.sh), booted here whatever
# this machine can do, so that its route stays sound:
# - it runs 32-bit programs, passes the command's output and exit status on,
#   shows this machine's scratch folders and keeps what it writes there;
# - the scripted demonstration runs there on a database under /tmp;
# - a virtual machine that cannot boot, or hangs while booting, makes the
#   Wine stage fail with one line that says why and the boot log's tail,
#   within a bounded time.
#   vm_route_test.sh <build dir> <shop.json>
set -u
here=$(cd "$(dirname "$0")" && pwd)
scripts=$here/../scripts
build=$1 db=$2
fail=0
check() { # description, command...
    local what=$1; shift
    if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}

work=$(mktemp -d /tmp/vm-route.XXXXXX)
trap 'rm -rf "$work"' EXIT
echo "seen from the machine" >"$work/here.txt"
cp "$db" "$work/shop w.json"

# One boot for the plain properties.
out=$("$scripts/vm-run.sh" bash -c '
    "$0"/i386-runs.sh; echo "i386-runs: $?"
    cat "$1/here.txt"
    echo inside >"$1/inside.txt" && echo "wrote: $?"
    exit 7' "$scripts" "$work" 2>&1)
rc=$?
check "the exit status comes out (7, got $rc)" test $rc -eq 7
check "32-bit programs run inside" grep -qx "i386-runs: 0" <<<"$out"
check "a file under /tmp is seen inside" grep -qx "seen from the machine" <<<"$out"
check "the command could write under /tmp" grep -qx "wrote: 0" <<<"$out"
check "what it wrote under /tmp stays inside" test ! -e "$work/inside.txt"
check "nothing of the boot in the output" test "$(grep -c -v -e '^i386-runs' -e '^seen from' -e '^wrote' <<<"$out")" -eq 0 ||
    printf '%s\n' "$out"

# The scripted demonstration on a database outside the repository.
out=$(TOLMAR_WINE_ROUTE=vm "$scripts/demo.sh" "$build" "$work/shop w.json" </dev/null 2>&1)
rc=$?
check "the scripted demonstration ran in the virtual machine (exit $rc)" test $rc -eq 0
check "it read the database under /tmp" grep -q "Dokument sprzedaży FV/0412/11/2026" <<<"$out"
check "it played the session to the end" grep -q "Blokada" <<<"$out"

# A virtual machine that cannot start: qemu exits at once, or hangs.
mkdir -p "$work/exits" "$work/hangs"
printf '#!/bin/sh\necho "firmware: no bootable device"\nexit 1\n' >"$work/exits/qemu-system-x86_64"
printf '#!/bin/sh\necho "firmware: waiting"\nexec sleep 600\n' >"$work/hangs/qemu-system-x86_64"
chmod +x "$work"/*/qemu-system-x86_64
for broken in exits hangs; do
    start=$SECONDS
    out=$(PATH="$work/$broken:$PATH" VM_BOOT_TIMEOUT=5 TOLMAR_WINE_ROUTE=vm \
          timeout 120 "$scripts/wine-tests.sh" "$build" 2>&1)
    rc=$?
    check "qemu $broken: the Wine stage fails (exit $rc)" test $rc -ne 0 -a $rc -ne 124
    check "qemu $broken: it says why in one line" \
        grep -q "^FAILED: the tests that need Wine cannot run: .*virtual machine" <<<"$out"
    check "qemu $broken: the boot log's tail follows" grep -q "| firmware: " <<<"$out"
    check "qemu $broken: no test was reported as passed" test "$(grep -c "Passed\|tests passed" <<<"$out")" -eq 0
    check "qemu $broken: it gave up in time ($((SECONDS - start)) s)" test $((SECONDS - start)) -lt 60
    [ $fail -eq 0 ] || printf '%s\n' "$out"
done
exit $fail

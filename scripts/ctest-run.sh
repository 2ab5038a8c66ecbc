#!/usr/bin/env bash
# Runs CTest in the current folder and passes only when every selected test
# ran and passed: a test that CTest reports as not run (skipped with exit
# code 77, or missing) fails the run, and so does a selection of no tests.
#   scripts/ctest-run.sh [CTEST_ARGS...]
set -uo pipefail
out=$(mktemp)
trap 'rm -f "$out"' EXIT
ctest --no-tests=error "$@" 2>&1 | tee "$out"
rc=$?
if grep -q '^The following tests did not run:' "$out"; then
    n=$(sed -n '/^The following tests did not run:/,/^$/p' "$out" | grep -c ' - ')
    echo "FAILED: $n test(s) did not run; a test that did not run is not a pass" >&2
    [ $rc -ne 0 ] || rc=1
fi
exit $rc

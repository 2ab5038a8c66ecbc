#!/usr/bin/env bash
# The demonstration program refuses a malformed database before it starts
# anything: a message naming the file, the line and the field, and a
# non-zero exit.
#   demo_bad_database_test.sh <tolmar_host.exe> <shop.json>
set -u
here=$(cd "$(dirname "$0")" && pwd)
exe=$1 sample=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail=0
# name, sed expression breaking one line of the sample, expected message
while IFS='|' read -r name edit expected; do
    sed -e "$edit" "$sample" >bad.json
    out=$("$here/../scripts/wine-run.sh" "$exe" --script --db bad.json </dev/null 2>&1)
    rc=$?
    [ $rc -eq 77 ] && exit 77
    out=${out//$'\r'/}
    if [ $rc -ne 3 ] || ! grep -qF -- "$expected" <<<"$out" || grep -q '^start:' <<<"$out"; then
        echo "FAIL: $name (exit $rc)"
        echo "$out"
        fail=1
    fi
done <<'CASES'
wrong type|7s/"rows": 12,/"rows": "12",/|database refused: bad.json:7: field "salesDocument.rows": expected a whole number
syntax|3s/,$/,,/|database refused: bad.json:3: syntax error
unknown field|20s/"date"/"data"/|database refused: bad.json:20: field "mmDocuments[0].data": unknown field
CASES

out=$("$here/../scripts/wine-run.sh" "$exe" --script --db missing.json </dev/null 2>&1)
rc=$?
[ $rc -eq 77 ] && exit 77
if [ $rc -ne 3 ] || ! grep -qF "missing.json: cannot open" <<<"$out"; then
    echo "FAIL: missing file (exit $rc)"
    echo "$out"
    fail=1
fi
exit $fail

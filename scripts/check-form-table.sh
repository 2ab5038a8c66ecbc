#!/usr/bin/env bash
# Hands the bytes of FormTable, as they lie in the built Tolmar.dll, to the
# native checker: nm gives the symbol's address, objdump dumps its 646 bytes.
# Only .rdata is dumped, so a table that is not read-only data fails too.
set -u
dll=$1 nm=$2 objdump=$3 checker=$4
size=646
address=$("$nm" "$dll" | awk '$3 == "_FormTable" { print $1 }')
if [ -z "$address" ]; then
    echo "FAIL: no _FormTable symbol in $dll"
    exit 1
fi
start=$((16#$address))
"$objdump" -s -j .rdata --start-address=$start --stop-address=$((start + size)) "$dll" | "$checker"

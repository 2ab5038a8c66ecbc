#!/usr/bin/env bash
# Checks the shape of the built Tolmar.dll: a PE32 i386 DLL whose export
# table has base 30001, one function and no names, and whose regular imports
# come from exactly the expected DLLs.
set -u
dll=$1
objdump=${2:-i686-w64-mingw32-objdump}
expected_imports=${EXPECTED_IMPORTS:-KERNEL32.dll}
fail=0
out=$("$objdump" -p "$dll") || { echo "objdump failed"; exit 1; }
check() { # description, command...
    local what=$1; shift
    if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}
check "PE32 i386 DLL" grep -q 'file format pei-i386' <<<"$out"
check "characteristics say DLL" grep -qE '^Characteristics.*' <<<"$out"
grep -q 'DLL' <<<"$(sed -n '/^Characteristics/,/^$/p' <<<"$out")" || { echo "FAIL: not a DLL"; fail=1; }
check "export ordinal base 30001" grep -qE 'Ordinal Base[[:space:]]+30001' <<<"$out"
check "one exported function" grep -qE 'Export Address Table[[:space:]]+0*1$' <<<"$out"
check "no exported names" grep -qE 'Name Pointer/Ordinal\] Table[[:space:]]+0+$' <<<"$out"
imports=$(grep -E '^[[:space:]]*DLL Name:' <<<"$out" | awk '{print $3}' | sort | tr '\n' ' ' | sed 's/ $//')
want=$(tr ' ' '\n' <<<"$expected_imports" | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$imports" = "$want" ]; then echo "ok: imports from $imports"; else echo "FAIL: imports from '$imports', expected '$want'"; fail=1; fi

# The runtime registers the module's unwind tables from a label at the start
# of .eh_frame up to the zero word that must end it.
nm=${objdump%objdump}nm
read -r ehsize ehvma < <("$objdump" -h "$dll" | awk '$2 ~ /^\.eh_fram/ {print $3, $4}')
begin=$("$nm" "$dll" | awk '$3 == "_TolmarEhFrameBegin" {print $1}')
end=$("$nm" "$dll" | awk '$3 == "_TolmarEhFrameEnd" {print $1}')
if [ -n "$ehvma" ] && [ "$begin" = "$ehvma" ]; then echo "ok: .eh_frame begins at the runtime's label"; else echo "FAIL: .eh_frame begins at $ehvma, label at $begin"; fail=1; fi
last=$(printf '%x' $((0x$ehvma + 0x$ehsize - 4)))
if [ "$end" = "$last" ]; then echo "ok: .eh_frame ends with the runtime's terminator"; else echo "FAIL: terminator at $end, last word at $last"; fail=1; fi
exit $fail

#!/usr/bin/env bash
# Checks the guard table of the built Tolmar.dll against its import tables,
# without running anything:
#   - every row of ApiGuardTable holds the address of the import slot of its
#     own function (the __imp__ symbol the code uses), and that slot is the
#     KERNEL32.dll import address table entry of that very function, or, for
#     the functions taken from ZUNDA.dll, its ZUNDA.dll delay-load cell;
#   - every slot that InstallApiGuards rewrites (the rows' slots, CreateProcessA
#     among them) lies in a writable section, and so does the import address
#     table itself: a tool chain that makes them read-only fails here instead
#     of crashing at load;
#   - every guarded kernel function is a regular KERNEL32.dll import;
#   - lstrcmpA, lstrcmpiA, lstrcpyA and RtlUnwind are imported and unguarded.
#
# Usage: check-guards.sh DLL OBJDUMP NM BINDING_DIR
# BINDING_DIR holds api_guards.S (the table) and api_guards.h (its row count).
set -u
dll=$1
objdump=${2:-i686-w64-mingw32-objdump}
nm=${3:-i686-w64-mingw32-nm}
binding=$4

# The functions of the table that come from ZUNDA.dll by delay loading.
zunda="GetEnvironmentStringsW GetUserDefaultLCID ExitThread FreeEnvironmentStringsA
  FreeEnvironmentStringsW GetVersionExA IsValidCodePage InterlockedDecrement
  InterlockedIncrement EnumSystemLocalesA FatalAppExitA GetCPInfo IsBadWritePtr IsValidLocale
  GetLocaleInfoA GetLocaleInfoW GetStringTypeW GetStringTypeA CompareStringA CompareStringW"
zunda=" $(echo $zunda) "
unguarded="lstrcmpA lstrcmpiA lstrcpyA RtlUnwind"

fail=0
failure() { echo "FAIL: $*"; fail=1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$objdump" -p "$dll" >"$work/headers" || { echo "objdump -p failed"; exit 1; }
"$objdump" -h "$dll" >"$work/sections.txt" || { echo "objdump -h failed"; exit 1; }
"$objdump" -s "$dll" >"$work/contents" || { echo "objdump -s failed"; exit 1; }
"$nm" "$dll" >"$work/symbols" || { echo "nm failed"; exit 1; }

# Hexadecimal in and out, and the image's bytes, for any awk.
lib='
function hex(s,   i, v) { s = tolower(s); v = 0
    for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
    return v }
function tohex(v,   s, i) { s = ""
    for (i = 0; i < 8; i++) { s = substr("0123456789abcdef", v % 16 + 1, 1) s; v = int(v / 16) }
    return s }
function load_line(   a, i, j) {   # one line of objdump -s into mem[]
    a = hex($1)
    for (i = 2; i <= 5 && $i ~ /^[0-9a-f]+$/ && length($i) % 2 == 0 && length($i) <= 8; i++)
        for (j = 0; j < length($i) / 2; j++) mem[a + 4 * (i - 2) + j] = hex(substr($i, 2 * j + 1, 2))
}
function u32(a) { return mem[a] + 256 * (mem[a + 1] + 256 * (mem[a + 2] + 256 * mem[a + 3])) }
function cstr(a,   s) { s = ""; while (mem[a] != 0 && (a in mem)) s = s sprintf("%c", mem[a++]); return s }'

# The table as written: "name args" per row, in order.
awk '
    /^[[:space:]]*ARGS[[:space:]]/ { sub(/^[[:space:]]*ARGS[[:space:]]+/, ""); split($0, a, ","); args = a[1] + 0 }
    /^[[:space:]]*GUARDS[[:space:]]/ {
        sub(/^[[:space:]]*GUARDS[[:space:]]+/, ""); gsub(/[[:space:]]/, "")
        n = split($0, names, ","); for (i = 1; i <= n; i++) print names[i], args
    }' "$binding/api_guards.S" >"$work/rows"
row_count=$(awk '$1 == "#define" && $2 == "API_GUARD_ROWS" { print $3 }' "$binding/api_guards.h")
if [ "$(wc -l <"$work/rows")" != "$row_count" ]; then
    failure "api_guards.S lists $(wc -l <"$work/rows") rows, api_guards.h says $row_count"
fi

# Sections: "start end writable name", addresses as fixed-width hexadecimal.
awk "$lib"'
    /^ *[0-9]+ / { name = $2; size = $3; vma = $4; next }
    name != "" { print vma, tohex(hex(vma) + hex(size)), ($0 ~ /READONLY/ ? "no" : "yes"), name
                 name = "" }' "$work/sections.txt" >"$work/sections"

# Import slots, "address dll function": the regular import address table
# (as objdump -p lists it) and the delay-load cells (walked from the delay
# import directory, old form with absolute addresses or new form with RVAs).
awk "$lib"'
    FILENAME == ARGV[1] && $1 == "ImageBase" { base = hex($2) }
    FILENAME == ARGV[1] && $1 == "Entry" && $2 == "d" { delay = hex($3) }
    FILENAME == ARGV[1] && /^ [0-9a-f]+\t[0-9a-f]+ [0-9a-f]+ [0-9a-f]+ [0-9a-f]+ [0-9a-f]+$/ {
        split($0, f, /[ \t]+/); first[++ndesc] = f[7]; next }
    FILENAME == ARGV[1] && /^\tDLL Name:/ { dll = $3; thunk = hex(first[++seen]); n = 0; next }
    FILENAME == ARGV[1] && /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ && dll != "" {
        print tohex(base + thunk + 4 * n++), dll, $3 }
    FILENAME == ARGV[1] && /^$/ { dll = "" }
    FILENAME == ARGV[2] && /^ [0-9a-f]+ / { load_line() }
    END {
        if (!delay) exit
        for (d = base + delay; u32(d + 4) != 0; d += 32) {
            rel = u32(d) % 2 ? base : 0          # attributes bit 0: RVAs
            name = cstr(u32(d + 4) + rel)
            cells = u32(d + 12) + rel; names = u32(d + 16) + rel
            for (i = 0; (t = u32(names + 4 * i)) != 0; i++)
                if (t < 2147483648) print tohex(cells + 4 * i), name, cstr(t + rel + 2)
        }
    }' "$work/headers" "$work/contents" >"$work/slots"
grep -q ' KERNEL32.dll ' "$work/slots" || failure "no KERNEL32.dll import address table entries found"

section_of() { awk -v a="$1" '$1 <= a && a < $2 { print $4, $3; exit }' "$work/sections"; }
symbol() { awk -v s="$1" '$3 == s { print $1; exit }' "$work/symbols"; }
imported() { grep -q " KERNEL32.dll $1\$" "$work/slots"; }

# The cells of ApiGuardTable as the loader finds them (preferred base).
table=$(symbol _ApiGuardTable)
[ -n "$table" ] || { echo "FAIL: no symbol _ApiGuardTable"; exit 1; }
awk -v start=$((16#$table)) -v count="$row_count" "$lib"'
    /^ [0-9a-f]+ / { load_line() }
    END { for (i = 0; i < count; i++) if ((start + 4 * i + 3) in mem) print tohex(u32(start + 4 * i)) }
    ' "$work/contents" >"$work/cells"
if [ "$(wc -l <"$work/cells")" != "$row_count" ]; then
    failure "could not read the $row_count cells of ApiGuardTable"
fi

# Row by row: each row's cell against its slot symbol, the import slots and
# the sections.
paste -d' ' "$work/rows" "$work/cells" >"$work/table"
awk -v zunda="$zunda" '
    FILENAME == ARGV[1] { slot[$1] = $2 " " $3; next }
    FILENAME == ARGV[2] { if (NF == 3) at[$3] = $1; next }
    FILENAME == ARGV[3] { lo[++ns] = $1; hi[ns] = $2; w[ns] = $3; sn[ns] = $4; next }
    {
        name = $1; slotname = "__imp__" name "@" 4 * $2; cell = $3; problem = ""
        want = (index(zunda, " " name " ") ? "ZUNDA.dll " : "KERNEL32.dll ") name
        sec = "no section"; writable = "no"
        for (i = 1; i <= ns; i++) if (lo[i] <= cell && cell < hi[i]) { sec = sn[i]; writable = w[i] }
        if (!(slotname in at)) problem = "no import slot " slotname
        else if (at[slotname] != cell) problem = "holds " cell ", but " slotname " is at " at[slotname]
        else if (!(cell in slot)) problem = "slot " cell " is no import slot, expected " want
        else if (slot[cell] != want) problem = "slot " cell " is " slot[cell] ", expected " want
        else if (writable != "yes") problem = "slot " cell " lies in " sec ", which is not writable"
        if (problem != "") print "FAIL: row " FNR - 1 " (" name ", " $2 " arguments): " problem
        else { split(slot[cell], s, " "); where[s[1]] = where[s[1]] " " sec; n[s[1]]++ }
    }
    END { for (d in n) { split(where[d], s, " "); print "ok: " n[d] " rows in " d " slots (" s[1] ")" } }
    ' "$work/slots" "$work/symbols" "$work/sections" "$work/table" >"$work/report"
if grep -q '^FAIL' "$work/report"; then
    grep '^FAIL' "$work/report" | head -n 8
    bad=$(grep -c '^FAIL' "$work/report")
    [ "$bad" -le 8 ] || echo "FAIL: ... and $((bad - 8)) more rows"
    fail=1
else
    echo "ok: every row holds the import slot of its own function, in a writable section"
fi
grep '^ok' "$work/report" | sort

# The import address table itself, and the slot InstallApiGuards hands to the host.
first=$(awk '$2 == "KERNEL32.dll" { print $1; exit }' "$work/slots")
read -r section writable < <(section_of "${first:-0}")
if [ "${writable:-}" = yes ]; then
    echo "ok: the import address table lies in the writable section $section"
else
    failure "the import address table lies in ${section:-no section}, which is not writable"
fi
create=$(symbol "__imp__CreateProcessA@40")
read -r section writable < <(section_of "${create:-0}")
[ "${writable:-}" = yes ] || failure "the CreateProcessA slot is not in a writable section"
[ -n "$(symbol _HostEntry_52005)" ] || failure "no entry thunk _HostEntry_52005 for CreateProcessA"

# Every guarded kernel function is a regular import; no ZUNDA.dll one is.
missing=
while read -r name args; do
    if [[ $zunda == *" $name "* ]]; then
        imported "$name" && failure "$name is a regular KERNEL32.dll import, not taken from ZUNDA.dll"
    else
        imported "$name" || missing="$missing $name"
    fi
done <"$work/rows"
if [ -z "$missing" ]; then
    echo "ok: every guarded kernel function is imported from KERNEL32.dll"
else
    failure "not imported from KERNEL32.dll:$missing"
fi

# The unguarded ones: imported, and their slots in no row.
unguarded_ok=1
for name in $unguarded; do
    address=$(awk -v n="$name" '$2 == "KERNEL32.dll" && $3 == n { print $1; exit }' "$work/slots")
    if [ -z "$address" ]; then
        failure "$name is not imported from KERNEL32.dll"; unguarded_ok=0
    elif grep -qx "$address" "$work/cells" || grep -q "^$name " "$work/rows"; then
        failure "$name is guarded"; unguarded_ok=0
    fi
done
[ $unguarded_ok -eq 1 ] && echo "ok: $unguarded are imported unguarded"

# No other kernel import: each one must be there when the module loads, and
# the DOS extender's kernel need not have a function outside these lists.
others=$(awk '$2 == "KERNEL32.dll" { print $3 }' "$work/slots" | while read -r name; do
    grep -q "^$name " "$work/rows" || [[ " $unguarded " == *" $name "* ]] || printf ' %s' "$name"
done)
if [ -z "$others" ]; then
    echo "ok: no other KERNEL32.dll imports"
else
    failure "other KERNEL32.dll imports, neither guarded nor listed as unguarded:$others"
fi

exit $fail

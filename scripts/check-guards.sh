#!/usr/bin/env bash
# Checks the guard table of the built Tolmar.dll against its import tables,
# without running anything:
#   - every row of ApiGuardTable holds the address of the import slot of its
#     own function (the __imp__ symbol the code uses), and that slot is the
#     KERNEL32.dll import address table entry of that very function, or, for
#     the functions taken from ZUNDA.dll, its delay-load cell;
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
zunda=" GetEnvironmentStringsW GetUserDefaultLCID ExitThread FreeEnvironmentStringsA
  FreeEnvironmentStringsW GetVersionExA IsValidCodePage InterlockedDecrement
  InterlockedIncrement EnumSystemLocalesA FatalAppExitA GetCPInfo IsBadWritePtr IsValidLocale
  GetLocaleInfoA GetLocaleInfoW GetStringTypeW GetStringTypeA CompareStringA CompareStringW "
unguarded="lstrcmpA lstrcmpiA lstrcpyA RtlUnwind"

fail=0
failure() { echo "FAIL: $*"; fail=1; }
is_zunda() { [[ $zunda == *[[:space:]]$1[[:space:]]* ]]; }

headers=$("$objdump" -p "$dll") || { echo "objdump -p failed"; exit 1; }
sections=$("$objdump" -h "$dll") || { echo "objdump -h failed"; exit 1; }
symbols=$("$nm" "$dll") || { echo "nm failed"; exit 1; }

# The table as written: "name args" per row, in order.
rows=$(awk '
    /^[[:space:]]*ARGS[[:space:]]/ { sub(/^[[:space:]]*ARGS[[:space:]]+/, ""); split($0, a, ","); args = a[1] + 0 }
    /^[[:space:]]*GUARDS[[:space:]]/ {
        sub(/^[[:space:]]*GUARDS[[:space:]]+/, ""); gsub(/[[:space:]]/, "")
        n = split($0, names, ","); for (i = 1; i <= n; i++) print names[i], args
    }' "$binding/api_guards.S")
row_count=$(awk '$1 == "#define" && $2 == "API_GUARD_ROWS" { print $3 }' "$binding/api_guards.h")
if [ "$(wc -l <<<"$rows")" != "$row_count" ]; then
    failure "api_guards.S lists $(wc -l <<<"$rows") rows, api_guards.h says $row_count"
fi

# Hexadecimal in and out, for any awk.
hexfn='
function hex(s,   i, v) { s = tolower(s); v = 0
    for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
    return v }
function tohex(v,   s, i) { s = ""
    for (i = 0; i < 8; i++) { s = substr("0123456789abcdef", v % 16 + 1, 1) s; v = int(v / 16) }
    return s }'

# Regular imports: "address dll function" per import address table entry.
iat=$(awk "$hexfn"'
    $1 == "ImageBase" { base = hex($2) }
    /^ [0-9a-f]+\t[0-9a-f]+ [0-9a-f]+ [0-9a-f]+ [0-9a-f]+ [0-9a-f]+$/ {
        split($0, f, /[ \t]+/); first[++ndesc] = f[7]; next }
    /^\tDLL Name:/ { dll = $3; thunk = hex(first[++seen]); n = 0; next }
    /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ && dll != "" { print tohex(base + thunk + 4 * n++), dll, $3 }
    /^$/ { dll = "" }' <<<"$headers")
[ -n "$iat" ] || failure "no import address table entries found"

# Sections: "start end writable name", addresses in hexadecimal.
section_list=$(awk "$hexfn"'
    /^ *[0-9]+ / { name = $2; size = $3; vma = $4; next }
    name != "" { print vma, tohex(hex(vma) + hex(size)), ($0 ~ /READONLY/ ? "no" : "yes"), name
                 name = "" }' <<<"$sections")
# section_of ADDRESS: "name writable", or nothing (fixed-width hex compares as text)
section_of() { awk -v a="$1" '$1 <= a && a < $2 { print $4, $3; exit }' <<<"$section_list"; }
symbol() { awk -v s="$1" '$3 == s { print $1; exit }' <<<"$symbols"; }

# The cells of ApiGuardTable as the loader finds them (preferred base).
table=$(symbol _ApiGuardTable)
[ -n "$table" ] || { echo "FAIL: no symbol _ApiGuardTable"; exit 1; }
read -r table_section _ < <(section_of "$table")
cells=$("$objdump" -s -j "$table_section" "$dll" |
    awk -v start=$((16#$table)) -v count="$row_count" "$hexfn"'
    /^ [0-9a-f]+ / {
        addr = hex($1)
        for (i = 2; i <= 5; i++) {
            if (length($i) != 8) break
            a = addr + 4 * (i - 2)
            if (a >= start && a < start + 4 * count)
                print substr($i, 7, 2) substr($i, 5, 2) substr($i, 3, 2) substr($i, 1, 2)
        }
    }')
if [ "$(wc -l <<<"$cells")" != "$row_count" ]; then
    failure "could not read $row_count cells of ApiGuardTable in $table_section"
fi

# Row by row: each row's cell against its slot symbol, the import address
# table and the sections.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '%s\n' "$iat" >"$work/iat"
printf '%s\n' "$symbols" >"$work/symbols"
printf '%s\n' "$section_list" >"$work/sections"
paste -d' ' <(printf '%s\n' "$rows") <(printf '%s\n' "$cells") >"$work/rows"
report=$(awk -v zunda="$zunda" '
    FILENAME == ARGV[1] { entry[$1] = $2 " " $3; next }
    FILENAME == ARGV[2] { if (NF == 3) at[$3] = $1; next }
    FILENAME == ARGV[3] { lo[++ns] = $1; hi[ns] = $2; w[ns] = $3; sn[ns] = $4; next }
    {
        name = $1; slotname = "__imp__" name "@" 4 * $2; cell = $3; problem = ""
        sec = "no section"; writable = "no"
        for (i = 1; i <= ns; i++) if (lo[i] <= cell && cell < hi[i]) { sec = sn[i]; writable = w[i] }
        if (!(slotname in at)) problem = "no import slot " slotname
        else if (at[slotname] != cell) problem = "holds " cell ", but " slotname " is at " at[slotname]
        else if ((cell in entry) && entry[cell] != "KERNEL32.dll " name)
            problem = "slot " cell " is the import of " entry[cell]
        else if (!(cell in entry) && index(zunda, " " name " ") == 0)
            problem = "slot " cell " is not an entry of the import address table"
        else if (writable != "yes") problem = "slot " cell " lies in " sec ", which is not writable"
        if (problem != "") print "FAIL: row " FNR - 1 " (" name ", " $2 " arguments): " problem
        else if (!(cell in entry)) delayed++
    }
    END { print "delayed " delayed + 0 }' "$work/iat" "$work/symbols" "$work/sections" "$work/rows")
if grep -q '^FAIL' <<<"$report"; then
    grep '^FAIL' <<<"$report" | head -n 8
    bad=$(grep -c '^FAIL' <<<"$report")
    [ "$bad" -le 8 ] || echo "FAIL: ... and $((bad - 8)) more rows"
    fail=1
else
    echo "ok: every row holds the import slot of its own function, in a writable section"
fi
delayed=$(awk '$1 == "delayed" { print $2 }' <<<"$report")
echo "ok: $delayed of the table's ZUNDA.dll functions sit in delay-load cells, the others in KERNEL32.dll slots"

# The import address table itself, and the slot InstallApiGuards hands to the host.
first=$(head -n1 <<<"$iat" | cut -d' ' -f1)
read -r section writable < <(section_of "$first")
if [ "${writable:-}" = yes ]; then
    echo "ok: the import address table lies in the writable section $section"
else
    failure "the import address table lies in ${section:-no section}, which is not writable"
fi
create=$(symbol "__imp__CreateProcessA@40")
read -r section writable < <(section_of "${create:-0}")
[ "${writable:-}" = yes ] || failure "the CreateProcessA slot is not in a writable section"
[ -n "$(symbol _HostEntry_52005)" ] || failure "no entry thunk _HostEntry_52005 for CreateProcessA"

# Every guarded kernel function is a regular import.
missing=
while read -r name args; do
    is_zunda "$name" && continue
    grep -q " KERNEL32.dll $name\$" <<<"$iat" || missing="$missing $name"
done <<<"$rows"
if [ -z "$missing" ]; then
    echo "ok: every guarded kernel function is imported from KERNEL32.dll"
else
    failure "not imported from KERNEL32.dll:$missing"
fi

# The unguarded ones: imported, and their slots in no row.
unguarded_ok=1
for name in $unguarded; do
    address=$(awk -v n="$name" '$2 == "KERNEL32.dll" && $3 == n { print $1; exit }' <<<"$iat")
    if [ -z "$address" ]; then
        failure "$name is not imported from KERNEL32.dll"; unguarded_ok=0
    elif grep -qx "$address" <<<"$cells" || grep -q "^$name " <<<"$rows"; then
        failure "$name is guarded"; unguarded_ok=0
    fi
done
[ $unguarded_ok -eq 1 ] && echo "ok: $unguarded are imported unguarded"

# Kernel imports outside the table and the unguarded list: reported, not failed.
others=$(awk '$2 == "KERNEL32.dll" { print $3 }' <<<"$iat" | while read -r name; do
    grep -q "^$name " <<<"$rows" || [[ " $unguarded " == *" $name "* ]] || printf ' %s' "$name"
done)
[ -z "$others" ] || echo "note: other KERNEL32.dll imports, neither guarded nor listed as unguarded:$others"

exit $fail

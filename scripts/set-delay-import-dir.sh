#!/usr/bin/env bash
# Points the PE header's delay-import directory (data directory 13) of a
# built DLL at its delay-import descriptors, the symbols
# _DelayImportDirectory .. _DelayImportDirectoryEnd. GNU ld leaves the entry
# empty; the DLL's own binding routine does not need it, but tools and
# loaders that read delay imports look there.
set -eu
dll=$1
nm=${2:-i686-w64-mingw32-nm}
objdump=${3:-i686-w64-mingw32-objdump}

symbol() { "$nm" "$dll" | awk -v s="$1" '$3 == s { print $1 }'; }
start=$(symbol _DelayImportDirectory)
end=$(symbol _DelayImportDirectoryEnd)
base=$("$objdump" -p "$dll" | awk '$1 == "ImageBase" { print $2 }')
[ -n "$start" ] && [ -n "$end" ] && [ -n "$base" ] || { echo "delay-import symbols not found in $dll" >&2; exit 1; }
rva=$(( 0x$start - 0x$base ))
size=$(( 0x$end - 0x$start ))

u32() { od -An -tu4 -j "$1" -N4 "$dll" | tr -d ' '; }
le32() { # value -> four little-endian bytes as printf escapes
    local v=$1
    printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255))
}
pe=$(u32 60)                    # e_lfanew
optional=$(( pe + 24 ))         # after the signature and the file header
magic=$(od -An -tu2 -j "$optional" -N2 "$dll" | tr -d ' ')
[ "$magic" = 267 ] || { echo "$dll: not a PE32 image" >&2; exit 1; }
entry=$(( optional + 96 + 13 * 8 ))
printf "$(le32 $rva)$(le32 $size)" | dd of="$dll" bs=1 seek="$entry" conv=notrunc status=none

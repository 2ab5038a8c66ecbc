#!/usr/bin/env bash
# Writes the PE checksum of a built image into its optional header. The
# linker computes it, but the build changes the header after the link (the
# delay-import directory), which leaves the linker's value stale.
#
# The checksum: the file's 16-bit little-endian words (the checksum field
# itself taken as zero, an odd last byte padded with zero) added with the
# carry folded back into 16 bits after every word, plus the file's length.
set -eu
dll=$1

u32() { od -An -tu4 --endian=little -j "$1" -N4 "$dll" | tr -d ' '; }
pe=$(u32 60)                     # e_lfanew
field=$(( pe + 24 + 64 ))        # CheckSum in the optional header
magic=$(od -An -tu2 --endian=little -j $(( pe + 24 )) -N2 "$dll" | tr -d ' ')
[ "$magic" = 267 ] || { echo "$dll: not a PE32 image" >&2; exit 1; }
length=$(stat -c %s "$dll")

sum=$(od -An -v -tu2 --endian=little "$dll" | awk -v skip=$(( field / 2 )) '
    { for (i = 1; i <= NF; i++) {
          if (n != skip && n != skip + 1) { s += $i; s = (s % 65536) + int(s / 65536) }
          n++ } }
    END { print s }')
checksum=$(( sum + length ))

le32() { # value -> four little-endian bytes as printf escapes
    local v=$1
    printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255))
}
printf "$(le32 $checksum)" | dd of="$dll" bs=1 seek="$field" conv=notrunc status=none

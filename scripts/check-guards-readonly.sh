#!/usr/bin/env bash
# Shows that check-guards.sh catches a read-only import table: copies the
# built DLL, clears the writable bit (IMAGE_SCN_MEM_WRITE) of its .idata
# section header, as a tool chain that makes the import table read-only
# would leave it, and expects check-guards.sh to fail on the copy and to say
# why.
#
# Usage: check-guards-readonly.sh DLL OBJDUMP NM BINDING_DIR
set -u
dll=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copy=$work/readonly.dll
cp "$dll" "$copy"

u32() { od -An -tu4 -j"$1" -N4 "$copy" | tr -d ' '; }
u16() { od -An -tu2 -j"$1" -N2 "$copy" | tr -d ' '; }

pe=$(u32 60)                                  # e_lfanew
sections=$(u16 $((pe + 6)))                   # FileHeader.NumberOfSections
optional=$(u16 $((pe + 20)))                  # FileHeader.SizeOfOptionalHeader
table=$((pe + 24 + optional))                 # first section header, 40 bytes each
patched=0
for ((i = 0; i < sections; i++)); do
    header=$((table + 40 * i))
    name=$(dd if="$copy" bs=1 skip=$header count=8 2>/dev/null | tr -d '\0')
    [ "$name" = .idata ] || continue
    flags=$(u32 $((header + 36)))             # Characteristics
    flags=$((flags & ~0x80000000))
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((flags & 255)) $((flags >> 8 & 255)) \
        $((flags >> 16 & 255)) $((flags >> 24 & 255)))" |
        dd of="$copy" bs=1 seek=$((header + 36)) conv=notrunc 2>/dev/null
    patched=1
done
[ $patched -eq 1 ] || { echo "FAIL: no .idata section to make read-only"; exit 1; }

out=$("$here/check-guards.sh" "$copy" "${@:2}")
rc=$?
echo "$out" | sed 's/^/  | /'
if [ $rc -ne 0 ] && grep -q '^FAIL: .*not writable' <<<"$out"; then
    echo "ok: the check fails on a read-only import table"
    exit 0
fi
echo "FAIL: the check passed a read-only import table"
exit 1

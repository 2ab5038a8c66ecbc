#!/usr/bin/env bash
# Writes the release archive OUT_DIR/Tolmar-VERSION.zip: Tolmar.dll, its
# SHA256SUMS and the installation note INSTAL.TXT (the note's source with
# the version filled in, in UTF-8 with a byte-order mark and CR LF line ends,
# as Notepad reads it).
#
#   scripts/dist.sh TOLMAR_DLL VERSION NOTE_SOURCE OUT_DIR
#
# The archive's entries carry the date of the last commit (or
# SOURCE_DATE_EPOCH), so that the same DLL gives the same archive.
set -euo pipefail
dll=$1
version=$2
note=$3
out=$4
here=$(cd "$(dirname "$0")/.." && pwd)

command -v zip >/dev/null || { echo "dist: zip is missing (scripts/setup.sh installs it)" >&2; exit 1; }
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "dist: bad version '$version'" >&2; exit 1; }
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct 2>/dev/null || date +%s)}

stage=$(mktemp -d "${TMPDIR:-/tmp}/tolmar-dist.XXXXXX")
trap 'rm -rf "$stage"' EXIT
cp "$dll" "$stage/Tolmar.dll"
(cd "$stage" && sha256sum Tolmar.dll >SHA256SUMS)
{
    printf '\xEF\xBB\xBF'
    sed -e "s/@VERSION@/$version/g" -e 's/$/\r/' "$note"
} >"$stage/INSTAL.TXT"
if grep -q '@[A-Z_]*@' "$stage/INSTAL.TXT"; then
    echo "dist: $note holds a placeholder that is not filled in" >&2
    exit 1
fi
chmod 644 "$stage"/*
touch -d "@$epoch" "$stage"/*

mkdir -p "$out"
zipfile=$(cd "$out" && pwd)/Tolmar-$version.zip
rm -f "$zipfile"
(cd "$stage" && TZ=UTC zip -q -X -D "$zipfile" Tolmar.dll SHA256SUMS INSTAL.TXT)
echo "dist: $zipfile"
sed 's/^/dist: /' "$stage/SHA256SUMS"

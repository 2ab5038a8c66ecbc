#!/usr/bin/env bash
# The release archive as `make dist` writes it, made in a temporary folder
# from the built DLL: its three files, the checksum file against the DLL,
# the installation note's encoding and the points it must cover, and the
# same archive a second time.
#
#   tests/dist_test.sh TOLMAR_DLL VERSION
set -uo pipefail
dll=$1
version=$2
here=$(cd "$(dirname "$0")/.." && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tolmar-dist-test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
fail=0
check() { # description, command...
    local what=$1; shift
    if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}

"$here/scripts/dist.sh" "$dll" "$version" "$here/release/INSTAL.TXT" "$tmp/one" >/dev/null || exit 1
"$here/scripts/dist.sh" "$dll" "$version" "$here/release/INSTAL.TXT" "$tmp/two" >/dev/null || exit 1
zip=$tmp/one/Tolmar-$version.zip
check "archive named after the version" test -f "$zip"
check "the same DLL gives the same archive" cmp -s "$zip" "$tmp/two/Tolmar-$version.zip"

mkdir "$tmp/x"
(cd "$tmp/x" && cmake -E tar xf "$zip") || { echo "FAIL: archive does not unpack"; exit 1; }
check "three files: Tolmar.dll, SHA256SUMS, INSTAL.TXT" \
    test "$(cd "$tmp/x" && find . -type f | sort | tr '\n' ' ')" = "./INSTAL.TXT ./SHA256SUMS ./Tolmar.dll "
check "Tolmar.dll is the built one" cmp -s "$dll" "$tmp/x/Tolmar.dll"
check "SHA256SUMS names Tolmar.dll and matches it" \
    bash -c 'cd "$1" && [ "$(wc -l <SHA256SUMS)" = 1 ] && grep -q "  Tolmar.dll$" SHA256SUMS && sha256sum --quiet -c SHA256SUMS' _ "$tmp/x"

note=$tmp/x/INSTAL.TXT
check "INSTAL.TXT begins with the UTF-8 byte-order mark" test "$(head -c3 "$note" | od -An -tx1 | tr -d ' ')" = efbbbf
check "INSTAL.TXT is valid UTF-8" iconv -f UTF-8 -t UTF-8 -o /dev/null "$note"
check "every line of INSTAL.TXT ends in CR LF" test "$(grep -c $'\r$' "$note")" = "$(wc -l <"$note")"
check "no placeholder left" bash -c '! grep -q "@[A-Z_]*@" "$1"' _ "$note"
text=$(tr -d '\r' <"$note")
polish=$(sed '/^-\{20,\}$/,$d' <<<"$text")
english=$(sed '1,/^-\{20,\}$/d' <<<"$text")
check "a Polish part, then an English one" test -n "$polish" -a -n "$english"
# What the note covers: for each point, a word of each part that no
# rewording would lose.
while IFS='|' read -r what pl en; do
    check "Polish: $what" grep -qF -- "$pl" <<<"$polish"
    check "English: $what" grep -qF -- "$en" <<<"$english"
done <<EOT
the version and the title|Tolmar $version: wtyczka „Dok. sprzedaży z MM (Ctrl+8 dok.spr.)”|Tolmar $version: plug-in "Dok. sprzedaży z MM (Ctrl+8 dok.spr.)"
where the file goes|do folderu programu|into the program's folder
PAKTO.dll comes with the host|PAKTO.dll, która należy do środowiska|PAKTO.dll, which belongs to the program's environment
the setting and its section|„Pytaj” W SEKCJI „Tolmar”|"Pytaj" IN SECTION "Tolmar"
the installed version|„Wersja pliku”|"File
the installed file's checksum|certutil -hashfile Tolmar.dll SHA256|certutil -hashfile Tolmar.dll SHA256
the version message|„STOP!”|"STOP!"
EOT
exit $fail

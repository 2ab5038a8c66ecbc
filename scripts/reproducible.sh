#!/usr/bin/env bash
# Builds Tolmar.dll twice from clean copies of the source tree, in two
# temporary folders of different names, lengths and layouts, and compares
# the two files byte for byte; with a third argument, also against that
# built file. Prints the SHA-256 of the result.
#
#   scripts/reproducible.sh SOURCE_DIR [BUILD_TYPE] [BUILT_DLL]
#
# Only the Tolmar target is built. The copies hold what git tracks plus new
# files it does not ignore (the working tree as it is), or, outside a git
# checkout, everything but build/ and dist/. TOLMAR_REPRO_KEEP=1 keeps the
# temporary folders for a look at what differs.
set -euo pipefail
src=$(cd "$1" && pwd)
build_type=${2:-Release}
built=${3:-}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tolmarrepro.XXXXXX")
if [ -n "${TOLMAR_REPRO_KEEP:-}" ]; then echo "keeping $tmp"; else trap 'rm -rf "$tmp"' EXIT; fi

copy_tree() { # destination
    mkdir -p "$1"
    if git -C "$src" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
        (cd "$src" && git ls-files -z --cached --others --exclude-standard |
            while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
            xargs -0 cp --parents -t "$1")
    else
        tar -C "$src" --exclude=./build --exclude=./dist -cf - . | tar -C "$1" -xf -
    fi
}

build() { # source copy, build folder
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" \
          -DCMAKE_TOOLCHAIN_FILE="$1/cmake/i686-mingw.cmake" >"$2.log" 2>&1 &&
    cmake --build "$2" --target Tolmar >>"$2.log" 2>&1 ||
    { echo "FAIL: build in $2"; cat "$2.log"; return 1; }
}

# One copy built inside itself as `make` does, one built in a folder of its own.
# The folders' names are letters only, so that they are found in the file
# in whatever form a tool would have turned them into a symbol.
one_src=$tmp/a/src
one_bin=$one_src/build/win32
two_src=$tmp/secondsourcetree/Tolmar
two_bin=$tmp/separatebuildfolder
copy_tree "$one_src"
copy_tree "$two_src"
mkdir -p "$one_bin" "$two_bin"

rc=0
build "$one_src" "$one_bin" & one=$!
build "$two_src" "$two_bin" & two=$!
wait $one || rc=1
wait $two || rc=1
[ $rc -eq 0 ] || exit 1

a=$one_bin/bin/Tolmar.dll
b=$two_bin/bin/Tolmar.dll
fail=0
if cmp "$a" "$b"; then
    echo "ok: two clean builds in different folders give identical Tolmar.dll"
else
    echo "FAIL: the two builds differ"
    cmp -l "$a" "$b" | head -20 || true
    fail=1
fi
if [ -n "$built" ]; then
    if cmp "$a" "$built"; then
        echo "ok: $built is identical to the clean builds"
    else
        echo "FAIL: $built differs from the clean builds"
        fail=1
    fi
fi
for name in tolmarrepro secondsourcetree separatebuildfolder; do
    if grep -qai "$name" "$a" "$b"; then
        echo "FAIL: a build names its folder ($name)"
        grep -aoi "[[:print:]]*$name[[:print:]]*" "$a" "$b" | head -5 || true
        fail=1
    fi
done
[ $fail -eq 0 ] && echo "ok: no build folder named in the file"
echo "SHA-256: $(sha256sum "$a" | cut -d' ' -f1)  Tolmar.dll"
exit $fail

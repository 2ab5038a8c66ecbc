#!/usr/bin/env bash
# Installs what the build and the tests need, and nothing that is already there.
# Safe to run on every `make test`: a ready machine returns at once.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

need=()
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686)
command -v g++ >/dev/null || need+=(g++)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v make >/dev/null || need+=(make)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v tmux >/dev/null || need+=(tmux)
command -v zip >/dev/null || need+=(zip)  # the release archive (make dist)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
have_wine32=1
dpkg -s wine32:i386 >/dev/null 2>&1 || have_wine32=0
command -v wine >/dev/null || have_wine32=0

# Where the kernel cannot execute 32-bit x86 code, Wine runs inside a small
# virtual machine (scripts/vm-run.sh), which needs these (and downloads the
# kernel's package itself). They are installed everywhere: the tests boot
# that machine on every build machine, so that its route stays sound where
# nobody needs it today.
vm_packages() {
    command -v qemu-system-x86_64 >/dev/null || echo qemu-system-x86
    # busybox-static brings the shell and tools of the machine's initramfs,
    # cpio included, which a fresh machine lacks.
    /bin/busybox cpio --help >/dev/null 2>&1 || echo busybox-static
}

if [ ${#need[@]} -eq 0 ] && [ $have_wine32 -eq 1 ] && [ -z "$(vm_packages)" ]; then
    exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

if [ $have_wine32 -eq 0 ]; then
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
fi

# The i386 index of the security suite is sometimes missing; the other
# indexes are still usable, so a partial update is not fatal.
$SUDO apt-get update -q || true

if [ ${#need[@]} -gt 0 ]; then
    $SUDO apt-get install -y -q --no-install-recommends "${need[@]}"
fi

if [ $have_wine32 -eq 0 ]; then
    if ! $SUDO apt-get install -y -q --no-install-recommends wine wine32:i386; then
        # amd64 libraries from the security suite and their i386 twins from
        # the main suite cannot be mixed (Multi-Arch needs equal versions).
        # Prefer the main suite for this one install.
        # The preference is a file of its own, given to this one install
        # only: later installs on the machine keep the security suite first.
        pin=$(mktemp)
        trap 'rm -f "$pin"' EXIT
        printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$pin"
        $SUDO apt-get install -y -q --no-install-recommends --allow-downgrades \
            -o Dir::Etc::Preferences="$pin" \
            wine wine32:i386
    fi
fi

vm=$(vm_packages)
if [ -n "$vm" ]; then
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -q --no-install-recommends $vm
fi

#!/usr/bin/env bash
# Runs a command inside a small virtual machine whose kernel executes 32-bit
# x86 code, for build machines whose own kernel has that switched off.
#
#   scripts/vm-run.sh [--check] COMMAND...
#
# The machine is qemu under software emulation, booted with the
# distribution's kernel (unpacked from its package into build/vm) and an
# initramfs made here from busybox and the 9p modules. It sees this machine's
# root file system read-only and the repository read-write at the same path,
# so the command finds the tools and the build trees where they are. /tmp,
# /run and HOME are fresh in-memory file systems.
#
# The command's output comes out on the console, without what the firmware
# and the boot print; its exit status becomes this script's. --check only
# boots and asks scripts/i386-runs.sh whether 32-bit programs run there;
# it exits 0 when they do.
set -u
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
state=$repo/build/vm
mkdir -p "$state"

if ! command -v qemu-system-x86_64 >/dev/null || [ ! -x /bin/busybox ]; then
    echo "vm-run: needs qemu-system-x86 and busybox-static" >&2
    exit 125
fi

# The distribution's kernel, taken from its package into the build tree (the
# boot image and the modules below), without installing it.
kdir=$state/kernel
newest_kernel() { ls "$kdir"/boot/vmlinuz-* 2>/dev/null | sort -V | tail -1; }
kernel=$(newest_kernel)
if [ -z "$kernel" ]; then
    pkg=$(apt-cache depends linux-image-amd64 2>/dev/null |
          sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -1)
    if [ -z "$pkg" ] || ! (cd "$state" && apt-get download -q "$pkg" >/dev/null 2>&1); then
        echo "vm-run: cannot download the package linux-image-amd64" >&2
        exit 125
    fi
    mkdir -p "$kdir"
    dpkg-deb --fsys-tarfile "$state/${pkg}"_*.deb | tar -x -C "$kdir" --wildcards \
        './boot/vmlinuz-*' '*/kernel/drivers/virtio/*' '*/kernel/net/9p/*' \
        '*/kernel/fs/9p/*' '*/kernel/fs/netfs/*' '*/kernel/fs/fscache/*'
    rm -f "$state/${pkg}"_*.deb
    kernel=$(newest_kernel)
    [ -n "$kernel" ] || { echo "vm-run: no kernel in $pkg" >&2; exit 125; }
fi
kver=${kernel##*/vmlinuz-}
moddir=$(ls -d "$kdir"/lib/modules/"$kver" "$kdir"/usr/lib/modules/"$kver" 2>/dev/null | head -1)

# The initramfs: busybox, the modules that mount a 9p root over virtio, and
# an init that mounts everything and runs the job named on the command line.
initrd=$state/initrd-$kver.cpio.gz
if [ ! -f "$initrd" ] || [ "$0" -nt "$initrd" ]; then
    root=$(mktemp -d)
    mkdir -p "$root"/{bin,dev,proc,sys,mods,newroot}
    cp /bin/busybox "$root/bin/busybox"
    for m in virtio virtio_ring virtio_pci_legacy_dev virtio_pci_modern_dev \
             virtio_pci netfs fscache 9pnet 9pnet_virtio 9p; do
        f=$(find "$moddir/kernel" -name "$m.ko*" | head -1)
        [ -n "$f" ] || { echo "vm-run: module $m not found" >&2; exit 125; }
        case $f in
            *.xz) xz -dc "$f" >"$root/mods/$m.ko" ;;
            *.zst) zstd -qdc "$f" >"$root/mods/$m.ko" ;;
            *) cp "$f" "$root/mods/$m.ko" ;;
        esac
        echo "$m" >>"$root/mods/order"
    done
    cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $(cat /mods/order); do insmod /mods/$m.ko; done
opts=trans=virtio,version=9p2000.L,msize=512000,cache=loose
mount -t 9p -o ro,$opts hostroot /newroot
for d in proc sys dev; do mount --bind /$d /newroot/$d; done
mkdir -p /newroot/dev/pts && mount -t devpts devpts /newroot/dev/pts
ln -sf /proc/self/fd /newroot/dev/fd
ln -sf /proc/self/fd/0 /newroot/dev/stdin
ln -sf /proc/self/fd/1 /newroot/dev/stdout
ln -sf /proc/self/fd/2 /newroot/dev/stderr
mkdir -p /newroot/dev/shm && mount -t tmpfs tmpfs /newroot/dev/shm
mount -t tmpfs tmpfs /newroot/tmp
mount -t tmpfs tmpfs /newroot/run
mount -t tmpfs tmpfs /newroot/root
mount -t tmpfs tmpfs /newroot/var/tmp
# The repository last: it may lie under one of the fresh folders.
work=$(sed -n 's/.*vmwork=\([^ ]*\).*/\1/p' /proc/cmdline)
mkdir -p /newroot$work
mount -t 9p -o $opts work /newroot$work
hostname vm
echo "vm: job starts"
# No terminal for the job: a Wine console attached to a terminal would try
# to take it over, and stop when it runs in a background process group.
job=$(sed -n 's/.*vmjob=\([^ ]*\).*/\1/p' /proc/cmdline)
chroot /newroot /bin/bash -c "bash $job; echo \$? >$job.rc" \
    </dev/null 2>&1 | cat
sync
poweroff -f
EOF
    chmod +x "$root/init"
    (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd.tmp"
    mv "$initrd.tmp" "$initrd"
    rm -rf "$root"
fi

if [ "${1:-}" = "--check" ]; then
    set -- "$here/i386-runs.sh"
fi
[ $# -gt 0 ] || { echo "usage: vm-run.sh [--check] COMMAND..." >&2; exit 125; }

# Each run has its own job file, so that runs may overlap.
job=$(mktemp "$state/job.XXXXXX")
trap 'rm -f "$job" "$job.rc"' EXIT
{
    echo "export HOME=/root PATH='$PATH' LANG=C.UTF-8 TERM=dumb"
    [ -n "${CTEST_PARALLEL_LEVEL:-}" ] && echo "export CTEST_PARALLEL_LEVEL=$CTEST_PARALLEL_LEVEL"
    printf 'cd %q || exit 125\n' "$PWD"
    printf '%q ' "$@"
    echo
} >"$job"

# Multi-threaded software emulation, one virtual processor per core, on a
# plain processor model: the emulated protection keys of the newest model
# break the return from Wine's signal handlers.
qemu-system-x86_64 -accel tcg,thread=multi -cpu Nehalem -smp "$(nproc)" \
    -m "${VM_MEMORY:-6G}" -nographic -no-reboot -nodefaults -serial stdio \
    -kernel "$kernel" -initrd "$initrd" \
    -append "console=ttyS0 quiet loglevel=1 panic=-1 vmwork=$repo vmjob=$job" \
    -virtfs local,path=/,mount_tag=hostroot,security_model=passthrough,readonly=on,multidevs=remap \
    -virtfs local,path="$repo",mount_tag=work,security_model=passthrough,multidevs=remap \
    </dev/null 2>&1 | awk '
        { gsub(/\r/, "") }
        job && /reboot: Power down/ { next }
        job { print; fflush(); next }
        /vm: job starts$/ { job = 1; next }
        { boot = boot $0 "\n" }
        END { if (!job) printf "%s", boot }'

if [ ! -s "$job.rc" ]; then
    echo "vm-run: the virtual machine stopped before the command finished" >&2
    exit 125
fi
exit "$(cat "$job.rc")"

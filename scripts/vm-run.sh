#!/usr/bin/env bash
# Runs a command inside a small virtual machine whose kernel executes 32-bit
# x86 code, for build machines whose own kernel has that switched off.
#
#   scripts/vm-run.sh [--check | --tty] COMMAND...
#
# The machine is qemu under software emulation, booted with the
# distribution's kernel (taken from its package into build/vm) and an
# initramfs made here from busybox and the modules that mount this machine's
# root file system over 9p. The command sees that file system read-only and
# the repository read-write, at the same paths. /tmp, /run, /var/tmp and
# the home folder show what they hold here, but what the command writes
# there stays in the virtual machine's memory and is gone when it stops.
#
# Without --tty the command has no terminal: its output comes out on this
# script's standard output, without what the firmware and the boot print.
# With --tty it runs on the machine's serial console, which is this
# terminal, as its controlling terminal, with this terminal's size and TERM.
# Its exit status becomes this script's; 125 means that the machine did not
# run it, with the reason and the tail of the boot log on standard error.
#
# --check only boots and asks scripts/i386-runs.sh whether 32-bit programs
# run there; it exits 0 when they do.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)
state=$repo/build/vm
busybox=/bin/busybox
cleanup=()
trap 'rm -rf "${cleanup[@]}"' EXIT

fail() {
    echo "vm-run: $*" >&2
    exit 125
}

mode=job
case "${1:-}" in
--check) mode=check; shift; set -- "$here/i386-runs.sh" ;;
--tty) mode=tty; shift ;;
esac
[ $# -gt 0 ] || fail "usage: vm-run.sh [--check | --tty] COMMAND..."

command -v qemu-system-x86_64 >/dev/null || fail "qemu-system-x86_64 is not installed (package qemu-system-x86)"
"$busybox" cpio --help >/dev/null 2>&1 || fail "$busybox with cpio is not installed (package busybox-static)"
mkdir -p "$state" || fail "cannot create $state"

# The modules that the initramfs loads: those that mount the 9p root over
# virtio and the overlays, with everything they depend on.
root_modules="virtio_pci 9pnet_virtio 9p overlay"

# The distribution's kernel and the modules it needs, taken from its package
# once: build/vm/kernel/<version>/ holds vmlinuz, mods/*.ko and the order in
# which they load, the order read from each module's own "depends=" entry.
kdir=$state/kernel
prepared_kernel() { ls -d "$kdir"/*/ready 2>/dev/null | sort -V | tail -1; }

module_depends() { # FILE: the names in its modinfo "depends=" entry
    tr '\0' '\n' <"$1" | sed -n 's/^depends=//p' | head -1 | tr ',' ' '
}

prepare_kernel() {
    local pkg tmp mdir kver name f out
    pkg=$(apt-cache depends linux-image-amd64 2>/dev/null |
          sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -1)
    [ -n "$pkg" ] || fail "apt-cache knows no package linux-image-amd64 (run apt-get update)"
    tmp=$(mktemp -d "$state/unpack.XXXXXX") || fail "cannot create a folder in $state"
    cleanup+=("$tmp")
    (cd "$tmp" && apt-get download -q "$pkg" >/dev/null 2>&1) ||
        fail "cannot download the package $pkg"
    dpkg-deb -x "$tmp"/"$pkg"_*.deb "$tmp/pkg" || fail "cannot unpack the package $pkg"
    f=$(ls "$tmp"/pkg/boot/vmlinuz-* 2>/dev/null | head -1)
    [ -n "$f" ] || fail "the package $pkg holds no boot/vmlinuz-*"
    kver=${f##*/vmlinuz-}
    mdir=$(ls -d "$tmp"/pkg/lib/modules/"$kver" "$tmp"/pkg/usr/lib/modules/"$kver" 2>/dev/null | head -1)
    [ -n "$mdir" ] || fail "the package $pkg holds no modules for $kver"
    out=$kdir/$kver
    rm -rf "$out" && mkdir -p "$out/mods" || fail "cannot create $out"
    cp "$f" "$out/vmlinuz" || fail "cannot copy the kernel"

    # Every module of the package by name (modinfo names use "_" for "-").
    declare -A path=() state_of=()
    while IFS= read -r f; do
        name=${f##*/}
        name=${name%%.ko*}
        path[${name//-/_}]=$f
    done < <(find "$mdir" -name '*.ko' -o -name '*.ko.xz' -o -name '*.ko.zst' -o -name '*.ko.gz')
    [ ${#path[@]} -gt 0 ] || fail "no modules in the package $pkg"

    # Depth first: a module is written to the order after its dependencies.
    visit() {
        local m=$1 d
        case ${state_of[$m]:-} in
        done) return 0 ;;
        active) fail "the modules' dependencies form a cycle through $m" ;;
        esac
        if [ -z "${path[$m]:-}" ]; then
            # Built into this kernel: nothing to load.
            grep -q "/${m//_/[-_]}\.ko\$" "$mdir/modules.builtin" 2>/dev/null && { state_of[$m]=done; return 0; }
            fail "the kernel $kver has no module $m"
        fi
        state_of[$m]=active
        f=${path[$m]}
        case $f in
        *.xz) xz -dc "$f" >"$out/mods/$m.ko" ;;
        *.zst) zstd -qdc "$f" >"$out/mods/$m.ko" ;;
        *.gz) gzip -dc "$f" >"$out/mods/$m.ko" ;;
        *) cp "$f" "$out/mods/$m.ko" ;;
        esac
        [ -s "$out/mods/$m.ko" ] || fail "cannot unpack the module $m"
        for d in $(module_depends "$out/mods/$m.ko"); do
            visit "${d//-/_}"
        done
        state_of[$m]=done
        echo "$m" >>"$out/mods/order"
    }
    for name in $root_modules; do visit "$name"; done
    touch "$out/ready"
    rm -rf "$tmp"
}

ready=$(prepared_kernel)
if [ -z "$ready" ]; then
    prepare_kernel
    ready=$(prepared_kernel)
    [ -n "$ready" ] || fail "the kernel could not be prepared"
fi
kver_dir=${ready%/ready}
kver=${kver_dir##*/}
kernel=$kver_dir/vmlinuz

# The initramfs: busybox, the modules, and an init that mounts everything
# and runs the job named on the kernel's command line. Made again when this
# script is newer.
initrd=$state/initrd-$kver.cpio.gz
if [ ! -s "$initrd" ] || [ "$0" -nt "$initrd" ]; then
    root=$(mktemp -d) || fail "cannot create a temporary folder"
    cleanup+=("$root")
    mkdir -p "$root"/{bin,dev,proc,sys,newroot,lower,upper} || fail "cannot lay out the initramfs"
    cp "$busybox" "$root/bin/busybox" && cp -r "$kver_dir/mods" "$root/mods" ||
        fail "cannot copy busybox and the modules into the initramfs"
    cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
arg() { sed -n "s/.*$1=\([^ ]*\).*/\1/p" /proc/cmdline; }
work=$(arg vmwork)
job=$(arg vmjob)
scratch=$(arg vmscratch | tr ':' ' ')
# What init itself says goes to a log, shown only when the job cannot start.
exec 3>&1 >/boot.log 2>&1
stop() {
    echo "vm: $*"
    cat /boot.log >&3
    poweroff -f
}
for m in $(cat /mods/order); do insmod /mods/$m.ko || stop "cannot load the module $m"; done
opts=trans=virtio,version=9p2000.L,msize=512000,cache=loose
mount -t 9p -o ro,$opts hostroot /newroot || stop "cannot mount the root file system"
for d in proc sys dev; do mount --bind /$d /newroot/$d; done
mkdir -p /newroot/dev/pts && mount -t devpts devpts /newroot/dev/pts
ln -sf /proc/self/fd /newroot/dev/fd
ln -sf /proc/self/fd/0 /newroot/dev/stdin
ln -sf /proc/self/fd/1 /newroot/dev/stdout
ln -sf /proc/self/fd/2 /newroot/dev/stderr
mkdir -p /newroot/dev/shm && mount -t tmpfs tmpfs /newroot/dev/shm
# The scratch folders show what this machine's hold, and keep what the job
# writes there in memory: an overlay over a read-only view of each.
mount -t tmpfs tmpfs /upper
for d in $scratch; do
    [ -d "/newroot$d" ] || continue
    n=$(echo "$d" | tr / _)
    mkdir -p "/lower$n" "/upper$n/data" "/upper$n/work"
    mount --bind "/newroot$d" "/lower$n"
    mount -t overlay overlay -o "lowerdir=/lower$n,upperdir=/upper$n/data,workdir=/upper$n/work" "/newroot$d" ||
        stop "cannot lay an overlay over $d"
done
# The repository last: it may lie under one of the scratch folders.
mkdir -p /newroot$work && mount -t 9p -o $opts work /newroot$work || stop "cannot mount $work"
[ -f "/newroot$job" ] || stop "no job file $job"
touch "/newroot$job.started"
hostname vm
if [ "$(arg vmtty)" = 1 ]; then
    # On the console as the job's controlling terminal.
    exec >&3 2>&1 3>&-
    setsid cttyhack chroot /newroot /bin/bash -c "bash $job; echo \$? >$job.rc"
else
    # No terminal: a Wine console attached to a terminal would try to take
    # it over, and stop when it runs in a background process group.
    echo "vm: job starts" >&3
    chroot /newroot /bin/bash -c "bash $job; echo \$? >$job.rc" </dev/null 2>&1 | cat >&3
fi
sync
poweroff -f
EOF
    chmod +x "$root/init"
    (cd "$root" && find . | "$busybox" cpio -o -H newc 2>/dev/null | gzip -1) >"$initrd.tmp" ||
        fail "cannot pack the initramfs"
    # An archive that lost its contents still makes a valid gzip.
    n=$(gzip -dc "$initrd.tmp" | "$busybox" cpio -t 2>/dev/null | grep -c -e '^init$' -e '^bin/busybox$' -e '^mods/order$')
    [ "$n" -eq 3 ] || { rm -f "$initrd.tmp"; fail "the initramfs came out without init, busybox or the modules"; }
    mv "$initrd.tmp" "$initrd" || fail "cannot write $initrd"
    rm -rf "$root"
fi

# Each run has its own job file, so that runs may overlap.
job=$(mktemp "$state/job.XXXXXX") || fail "cannot create a job file in $state"
log=$job.log
cleanup+=("$job" "$job.rc" "$log")
scratch="/tmp:/run:/var/tmp:/root"
case "${HOME:-}" in
/tmp/* | /run/* | /var/tmp/* | /root/* | /root | "") ;;
*) scratch="$scratch:$HOME" ;;
esac
{
    printf 'export HOME=%q PATH=%q LANG=C.UTF-8\n' "${HOME:-/root}" "$PATH"
    [ -n "${CTEST_PARALLEL_LEVEL:-}" ] && echo "export CTEST_PARALLEL_LEVEL=$CTEST_PARALLEL_LEVEL"
    for v in LC_ALL WINEPREFIX; do
        [ -n "${!v:-}" ] && printf 'export %s=%q\n' "$v" "${!v}"
    done
    if [ $mode = tty ]; then
        printf 'export TERM=%q\n' "${TERM:-vt100}"
        size=$(stty size 2>/dev/null </dev/tty) || size="25 80"
        echo "stty rows ${size% *} cols ${size#* } 2>/dev/null"
    else
        echo "export TERM=dumb"
    fi
    printf 'cd %q || exit 125\n' "$PWD"
    printf '%q ' "$@"
    echo
} >"$job" || fail "cannot write the job file"

# Multi-threaded software emulation, one virtual processor per core, on a
# plain processor model: the emulated protection keys of the newest model
# break the return from Wine's signal handlers. The firmware and the kernel
# print nothing on the console (quiet, loglevel=0).
qemu=(qemu-system-x86_64 -accel tcg,thread=multi -cpu Nehalem -smp "$(nproc)"
      -m "${VM_MEMORY:-6G}" -display none -no-reboot -nodefaults
      -kernel "$kernel" -initrd "$initrd"
      -append "console=ttyS0 quiet loglevel=0 panic=-1 vmwork=$repo vmjob=$job vmtty=$([ $mode = tty ] && echo 1 || echo 0) vmscratch=$scratch"
      -virtfs local,path=/,mount_tag=hostroot,security_model=passthrough,readonly=on,multidevs=remap
      -virtfs "local,path=$repo,mount_tag=work,security_model=passthrough,multidevs=remap")

# Until the job starts, a watchdog bounds the boot: a machine that hangs
# there is stopped after VM_BOOT_TIMEOUT seconds (default 300).
boot_limit=${VM_BOOT_TIMEOUT:-300}
# It ends by itself when the machine stops: a signal sent to it before its
# own start-up is through would run this script's exit trap in it.
watchdog() { # PID
    local i
    for ((i = 0; i < boot_limit * 5; i++)); do
        sleep 0.2
        kill -0 "$1" 2>/dev/null || return 0
        [ -e "$job.started" ] && return 0
    done
    touch "$job.timeout"
    kill "$1" 2>/dev/null
    for ((i = 0; i < 25; i++)); do
        sleep 0.2
        kill -0 "$1" 2>/dev/null || return 0
    done
    kill -9 "$1" 2>/dev/null
}
cleanup+=("$job.started" "$job.timeout")

exec 3<&0
case $mode in
tty)
    # The terminal is the serial line: keys reach the job as typed, Ctrl+C
    # included, and qemu restores the terminal when it ends.
    "${qemu[@]}" -chardev stdio,id=con,signal=off,mux=off -serial chardev:con <&3 2>"$log" &
    qpid=$!
    ;;
check | job)
    # Everything the machine prints goes to the log; what comes after the
    # job's start marker is passed on as it comes.
    : >"$log" || fail "cannot write $log"
    "${qemu[@]}" -serial stdio </dev/null >"$log" 2>&1 &
    qpid=$!
    tail -n +1 -s 0.2 -f --pid="$qpid" "$log" |
        sed -u -e 's/\r//g' -e '0,/vm: job starts$/d' &
    apid=$!
    ;;
esac
exec 3<&-
watchdog "$qpid" &
wpid=$!
wait "$qpid"
qrc=$?
wait "$wpid"
[ -n "${apid:-}" ] && wait "$apid"

if [ ! -s "$job.rc" ]; then
    if [ -e "$job.timeout" ]; then
        echo "vm-run: the virtual machine did not start the command within $boot_limit s" >&2
    else
        echo "vm-run: the virtual machine stopped before the command finished (qemu exit status $qrc)" >&2
    fi
    if [ -s "$log" ]; then
        echo "vm-run: the last lines of its boot log:" >&2
        tr -d '\r' <"$log" | tail -20 | sed 's/^/  | /' >&2
    fi
    exit 125
fi
exit "$(cat "$job.rc")"

#!/usr/bin/env bash
# Whether this machine's kernel executes 32-bit x86 programs, asked of Wine's
# 32-bit loader: exit 0 when it runs, 1 when the kernel refuses it (the
# kernel's 32-bit emulation is off), 2 when Wine is not installed.
loader=/usr/lib/wine/wine
[ -x "$loader" ] || exit 2
"$loader" --version >/dev/null 2>&1
case $? in
126) exit 1 ;;
127) exit 2 ;;
*) exit 0 ;;
esac

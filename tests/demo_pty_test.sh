#!/usr/bin/env bash
# `make demo` in a real terminal (tmux, 80 x 25): open the command, type the
# dates, mark two documents, confirm, see the rows; Ctrl+C on the way does
# not end it, and F10 does and leaves the terminal as it found it. The
# database lies under /tmp. With "dos" the host runs under the DOS extender
# and lacks entry 52064: the plug-in's report comes up after the dates, R
# (Retry) shows it again and I (Ignore) goes on. TOLMAR_WINE_ROUTE=vm drives
# the route through the virtual machine's serial console, where nothing of
# its boot may show.
#   demo_pty_test.sh <tolmar_host.exe> <shop.json> [windows|dos]
set -u
here=$(cd "$(dirname "$0")" && pwd)
exe=$1 env=${3:-windows}
build=$(cd "$(dirname "$exe")/.." && pwd)
demo=$here/../scripts/demo.sh

command -v tmux >/dev/null || { echo "FAIL: tmux is not installed"; exit 1; }

work=$(mktemp -d /tmp/demo-pty.XXXXXX)
db=$work/shop.json
cp "$2" "$db"
# Under software emulation each key takes seconds.
steps=600
[ "${TOLMAR_WINE_ROUTE:-}" = vm ] && steps=3000
sock=tolmar-demo-$$
# UTF-8 throughout: Wine writes the Polish letters as UTF-8 only in a UTF-8
# locale, and tmux passes them on only when it knows the terminal takes it.
export LC_ALL=C.UTF-8
tmux_() { tmux -u -L "$sock" -f /dev/null "$@"; }
trap 'tmux_ kill-server >/dev/null 2>&1; rm -rf "$work"' EXIT

tmux_ new-session -d -s demo -x 80 -y 25 \
    "stty -g >'$work/stty.before'; env LC_ALL=C.UTF-8 '$demo' '$build' '$db' --env '$env'; echo \$? >'$work/rc'; stty -g >'$work/stty.after'"

pane() { tmux_ capture-pane -p -t demo 2>/dev/null; }
# Waits until the screen shows the text; gives up after a generous while so
# that a broken program fails the test instead of hanging it.
wait_for() {
    for _ in $(seq $steps); do
        pane | grep -qF -- "$1" && return 0
        [ -f "$work/rc" ] && break
        sleep 0.1
    done
    echo "FAIL: the screen never showed: $1"
    echo "---- screen ----"
    pane
    exit 1
}
keys() { tmux_ send-keys -t demo "$@"; }

wait_for "F8/Ctrl+8 Dok. sprzedaży z MM"
wait_for "· wolny ·"
# Wine's console takes the terminal over only when the first key arrives,
# and drops that key; until then Ctrl+C is a signal, not a key. So a key the
# editor ignores goes first, alone.
keys x
sleep 2
keys C-c
keys F8
wait_for "Podaj daty (wystawienia) graniczne dla dok. MM"
keys -l "01.10.26"
keys F4
keys -l "31.10.26"
wait_for "31.10.26"
keys F12
if [ "$env" = dos ]; then
    wait_for "POWAŻNY BŁĄD WTYCZKI"
    wait_for "brak wpisu 52064"
    wait_for "A Przerwij   R Ponów   I Ignoruj"
    keys r
    sleep 1
    wait_for "brak wpisu 52064"
    keys i
fi
wait_for "Wybierz dokumenty MM"
wait_for "MM/0003/10/26"
keys IC
keys IC
wait_for "*  │MM/0003/10/26"
keys F12
wait_for "Papa podkładowa 10 m²"
screen=$(pane)
for row in "  3│Kolano PCV 110/45°" "  6│Gniazdo podwójne z uziemieniem" "  7│Profil stalowy CD 60 3 m" \
           "  9│Zaprawa murarska M10 25 kg" " 10│Rura kanalizacyjna PCV 110 mm" \
           " 11│Papa podkładowa 10 m²" " 12│Wkręty do drewna 4x40 ocynk" "wolne: 0"; do
    if ! grep -qF -- "$row" <<<"$screen"; then
        echo "FAIL: no row \"$row\""
        echo "$screen"
        exit 1
    fi
done
# Nothing that the firmware or the kernel of a virtual machine prints.
for noise in SeaBIOS "Power down" "reboot:" "vm:" "Linux version" "Kernel panic"; do
    if grep -qF -- "$noise" <<<"$screen"; then
        echo "FAIL: the screen shows \"$noise\""
        echo "$screen"
        exit 1
    fi
done
keys F10
for _ in $(seq $steps); do
    [ -f "$work/stty.after" ] && break
    sleep 0.1
done
rc=$(cat "$work/rc" 2>/dev/null)
if [ "$rc" != 0 ]; then
    echo "FAIL: F10 did not end the program with exit code 0 (${rc:-still running})"
    pane
    exit 1
fi
if ! cmp -s "$work/stty.before" "$work/stty.after"; then
    echo "FAIL: the terminal's settings after the program differ from before it"
    echo "before: $(cat "$work/stty.before")"
    echo "after:  $(cat "$work/stty.after")"
    exit 1
fi
screen=$(pane)
for noise in "Power down" "reboot:" "vm-run:"; do
    if grep -qF -- "$noise" <<<"$screen"; then
        echo "FAIL: after the program the screen shows \"$noise\""
        echo "$screen"
        exit 1
    fi
done
echo "ok: the demonstration in a terminal (route: ${TOLMAR_WINE_ROUTE:-as this machine takes it})"

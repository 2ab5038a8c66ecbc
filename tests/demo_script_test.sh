#!/usr/bin/env bash
# The demonstration program without a terminal: it plays its scripted
# session on the sample database and prints the screens it passed through.
#   demo_script_test.sh <tolmar_host.exe> <shop.json>
set -u
here=$(cd "$(dirname "$0")" && pwd)
exe=$1 db=$2
. "$here/demo_screens.sh"
demo_run "$exe" --script --db "$db"

check "exit code 0 (was $rc)" test $rc -eq 0
check "started" grep -qx "start: 0" <<<"$out"
check "hooked" grep -qx "table 45 handler: plug-in's handler" <<<"$out"

check "editor: status line names both keys" has 1 "F8/Ctrl+8 Dok. sprzedaży z MM (Ctrl+8 dok.spr.)"
check "editor: free rows marked" has 1 "  3│· wolny ·"
check "editor: used row" has 1 "  1│Cement portlandzki CEM II 32,5 R"
check "dialog: title" has 2 "Podaj daty (wystawienia) graniczne dla dok. MM"
check "dialog: labels" has 2 "F3 Okres Od"
check "dialog: second label" has 2 "F4 Okres Do"
check "dialog: button" has 2 "F12 OK"
check "dialog: dates typed" has 3 "01.10.26"
check "dialog: second date typed" has 3 "31.10.26"
check "list: title" has 4 "Wybierz dokumenty MM"
check "list: headings" has 4 "Wartość zak.br."
check "list: first October document" has 4 "MM/0002/10/26"
check "list: a document that may not be listed is not" lacks 4 "MM/0001/10/26"
check "list: September is outside the range" lacks 4 "/09/26"
check "list: Insert button" has 4 "INSERT Zaznacz/Odznacz"
check "list: first marked" grep -qF "*  │MM/0002/10/26" <<<"$(line_with 5 MM/0002/10/26)"
check "list: second not marked" grep -qF "   │MM/0003/10/26" <<<"$(line_with 5 MM/0003/10/26)"
check "list: third marked" grep -qF "*  │MM/0004/10/26" <<<"$(line_with 5 MM/0004/10/26)"
check "rows: first item in the first free row" has 6 "  3│Kolano PCV 110/45°"
check "rows: warehouse of the first document" grep -qF "│M1" <<<"$(line_with 6 Kolano)"
check "rows: second document's item" has 6 "│Żarówka LED E27 9 W ciepła"
check "rows: price by the even flag" grep -qF "11.90" <<<"$(line_with 6 Żarówka)"
check "rows: the used rows stay" has 6 "  4│Łata drewniana 4x5 cm 3 m"
check "rows: two free left" has 6 "wolne: 2"
check "September: both documents of one day" test "$(grep -c 23.09.2026 <<<"$(screen 7)")" -ge 2
check "September: 18.09 marked" grep -qF "*  │MM/0006/09/26" <<<"$(line_with 8 MM/0006/09/26)"
check "Blokada: title" has 9 "Blokada"
check "Blokada: text" has 9 "Więcej pozycji nie zmieści się w tym dokumencie !"
check "full: last free rows filled" has 10 " 11│Grunt uniwersalny głęboko"
check "full: second item" has 10 " 12│Klej do płytek elastyczny C2TE"
check "full: an item not present is not taken" lacks 10 "Farba emulsyjna"
check "full: the item with no room is dropped" lacks 10 "Wkręty do drewna"
check "full: none free" has 10 "wolne: 0"
check "messages: Blokada listed" grep -qF "message [Blokada] style 1:" <<<"$out"
check "stopped" grep -qx "stop: 0" <<<"$out"
check "unhooked" grep -qx "table 45 handler: host's own handler" <<<"$out"

demo_done

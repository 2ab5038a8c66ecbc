#!/usr/bin/env bash
# The demonstration program's scripted session under the DOS extender
# (--env dos): the host lacks entry 52064, the plug-in reports it through
# the extender's message box, drawn by the host in Mazovia with its
# highlights; Retry shows it again, Ignore goes on, and the command then
# runs as under Windows.
#   demo_dos_script_test.sh <tolmar_host.exe> <shop.json>
set -u
here=$(cd "$(dirname "$0")" && pwd)
exe=$1 db=$2
. "$here/demo_screens.sh"
demo_run "$exe" --script --db "$db"
windows=$out windows_rc=$rc
demo_run "$exe" --script --env dos --db "$db"

check "the run under Windows: exit code 0 (was $windows_rc)" test "$windows_rc" -eq 0
check "exit code 0 (was $rc)" test $rc -eq 0
check "started" grep -qx "start: 0" <<<"$out"
check "environment named" grep -qF "environment: DOS extender" <<<"$out"
check "report: caption" has 4 "POWAŻNY BŁĄD WTYCZKI"
check "report: the program" has 4 "W module "
check "report: the entry" has 4 "brak wpisu 52064"
check "report: the plug-in" has 4 "Wywołano z wtyczki Dok. sprzedaży z MM (Ctrl+8 dok.spr.)."
check "report: the warning" has 4 "Konieczna jest aktualizacja programu!"
check "report: the three answers" has 4 "A Przerwij   R Ponów   I Ignoruj"
check "report: the number highlighted" has 4 "highlighted: 52064"
check "report: the title highlighted" has 4 "highlighted: Dok. sprzedaży z MM (Ctrl+8 dok.spr.)"
check "report: the path highlighted" grep -qE '^highlighted: .*tolmar_host\.exe$' <<<"$(screen 4)"
check "report: no spaces in place of the highlight bytes" lacks 4 "brak wpisu  52064"
check "Retry: the same report" test "$(screen 5)" = "$(screen 4)"
check "Ignore: the list follows" has 6 "Wybierz dokumenty MM"
check "the box as the plug-in passed it" grep -qF "brak wpisu {52064}" <<<"$out"
check "shown twice" test "$(grep -c '^extender.s box \[POWAŻNY BŁĄD WTYCZKI\] style 0x2012' <<<"$out")" -eq 2
# The command as under Windows: screens 6 to 12 here are 4 to 10 there.
for n in 4 5 6 7 8 9 10; do
    check "screen $((n + 2)) as Windows' screen $n" \
        test "$(screen $((n + 2)) | grep -v '^highlighted:')" = "$(screen_of "$windows" $n)"
done
check "rows: first item in the first free row" has 8 "  3│Kolano PCV 110/45°"
check "full: none free" has 12 "wolne: 0"
check "stopped" grep -qx "stop: 0" <<<"$out"

demo_done

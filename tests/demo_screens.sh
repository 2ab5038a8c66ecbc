# What the scripted-session tests of the demonstration share, sourced by
# them: one run of the program, and checks on the screens it printed.
#   demo_run <tolmar_host.exe> <args...>   sets out and rc
#   check <description> <command...>       counts a failure in fail
#   screen N / screen_of <output> N        the lines of screen N
#   has N <text>, lacks N <text>, line_with N <text>

fail=0
demo_run() { # exe, arguments...
    out=$("$here/../scripts/wine-run.sh" "$@" </dev/null 2>&1)
    rc=$?
    [ $rc -eq 77 ] && exit 77
    out=${out//$'\r'/} # the program's C runtime ends lines with CR LF
}
check() { # description, command...
    local what=$1; shift
    if ! "$@"; then echo "FAIL: $what"; fail=1; fi
}
# The lines of screen N of a run's output, frame and highlights included.
screen_of() { awk -v n="[screen $2]" 'index($0, n) == 1 {on = 1; next} /^$/ {on = 0} on' <<<"$1"; }
screen() { screen_of "$out" "$1"; }
has() { grep -qF -- "$2" <<<"$(screen "$1")"; }
lacks() { ! has "$@"; }
line_with() { grep -F -- "$2" <<<"$(screen "$1")"; }
# Ends the test: its status, and the whole output when anything failed.
demo_done() {
    [ $fail -eq 0 ] || { echo "---- output ----"; echo "$out"; }
    exit $fail
}

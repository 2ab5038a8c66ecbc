#!/usr/bin/env bash
# Checks, on the built Tolmar.dll without running it, the binding layer as it
# lies in the file: the catalogue of host entries (its two series, the runs
# of the consecutive series, the argument bytes of the hundred series), the
# first and last entry thunk and fallback stub as code, where the slots lie,
# and the delay-import descriptors with their tables.
#
# usage: check-catalogue.sh Tolmar.dll [objdump] [nm]
set -u
dll=$1
objdump=${2:-i686-w64-mingw32-objdump}
nm=${3:-${objdump%objdump}nm}
fail=0
ok() { echo "ok: $1"; }
bad() { echo "FAIL: $1"; fail=1; }
expect() { # description, actual, expected
    if [ "$2" = "$3" ]; then ok "$1"; else bad "$1: got '$2', expected '$3'"; fi
}

symbols=$("$nm" "$dll") || { echo "nm failed"; exit 1; }
headers=$("$objdump" -h "$dll") || { echo "objdump failed"; exit 1; }
sym() { awk -v s="$1" '$3 == s { print $1; exit }' <<<"$symbols"; }

# The section (name, vma, size, file offset) holding a virtual address, and
# on a second line its flags.
section_of() {
    local a=$(( $1 )) idx name size vma lma off flags
    while read -r idx name size vma lma off _; do
        [[ $idx =~ ^[0-9]+$ ]] || continue
        read -r flags
        if (( a >= 0x$vma && a < 0x$vma + 0x$size )); then
            echo "$name $(( 0x$vma )) $(( 0x$size )) $(( 0x$off ))"
            echo "$flags"
            return
        fi
    done <<<"$headers"
}
# Words (unsigned 32-bit, decimal) at a virtual address.
words() { # address, count
    local info off
    info=$(section_of "$1" | head -1) || return
    read -r _ vma _ off <<<"$info"
    od -An -v -tu4 -j $(( $1 - vma + off )) -N $(( 4 * $2 )) "$dll" | tr -s ' ' '\n' | sed '/^$/d'
}
cstring() { # the zero-terminated text at a virtual address
    local info off
    info=$(section_of "$1" | head -1)
    read -r _ vma _ off <<<"$info"
    dd if="$dll" bs=1 skip=$(( $1 - vma + off )) count=64 status=none | tr '\0' '\n' | head -1
}
hex() { printf '0x%x' "$1"; }

# --- The catalogue -----------------------------------------------------------
entries=$(grep -oE ' _HostEntry_[0-9]+(_2)?$' <<<"$symbols" | sed 's/ _HostEntry_//')
expect "entry thunks" "$(wc -l <<<"$entries")" 2070
expect "numbers with a second entry" "$(grep '_2$' <<<"$entries" | sort -n | tr '\n' ' ')" "21283_2 21294_2 "
slots=$(sym _EntrySlotTable); slotsEnd=$(sym _EntrySlotTableEnd)
expect "slot table bytes" $(( 0x$slotsEnd - 0x$slots )) 8280
expect "slot table in writable data" "$(section_of 0x$slots | tail -1 | grep -c READONLY)" 0
expect "numbers in range 20000..52503" \
    "$(sed 's/_2$//' <<<"$entries" | awk '$1 < 20000 || $1 > 52503' | wc -l)" 0

hundredStart=$(sym _HundredSeriesTable); hundredEnd=$(sym _HundredSeriesTableEnd)
hundred=$(words 0x$hundredStart $(( (0x$hundredEnd - 0x$hundredStart) / 4 )))
expect "hundred series entries" "$(wc -l <<<"$hundred")" 104
expect "hundred series: one number in each hundred" "$(awk '{ print int($1 / 100) }' <<<"$hundred" | sort -u | wc -l)" 104
expect "hundreds 301..378 without 318, 400..415, 501..513 without 504 and 505" \
    "$(awk '{ print int($1 / 100) }' <<<"$hundred" | sort -n | tr '\n' ' ')" \
    "$( (seq 301 378 | grep -vx 318; seq 400 415; seq 501 513 | grep -vxE '504|505') | tr '\n' ' ')"
histogram=$(awk '{ print $1 % 100 }' <<<"$hundred" | sort -n | uniq -c | awk '{ printf "%s:%s ", $2, $1 }')
expect "argument bytes of the hundred series" "$histogram" "0:20 4:26 8:18 12:14 16:8 20:5 24:2 28:1 44:1 48:1 76:1 99:7 "
every=$(sed 's/_2$//' <<<"$entries" | sort -n)
missingHundred=$(comm -13 <(sort <<<"$every") <(sort <<<"$hundred") | wc -l)
expect "every hundred-series number has its thunk" "$missingHundred" 0
consecutive=$(grep -vxFf <(cat <<<"$hundred") <<<"$every")
expect "consecutive series entries" "$(wc -l <<<"$consecutive")" 1966
runs=$(sort -nu <<<"$consecutive" | awk 'NR == 1 { first = $1; last = $1; next }
    $1 == last + 1 { last = $1; next }
    { printf "%d-%d ", first, last; first = $1; last = $1 }
    END { printf "%d-%d ", first, last }')
expect "runs of the consecutive series" "$runs" "20000-20009 20011-20042 20101-20163 20201-20219 \
20231-20239 20251-20268 20281-20288 20301-20314 20321-20330 20351-20358 20401-20409 20421-20430 \
20451-20455 20466-20476 20484-20499 20521-20575 20601-20614 20631-20645 20701-20721 20731-20745 \
20761-20782 20791-20807 20821-20828 20835-20845 20901-20968 20971-20978 20981-21007 21011-21028 \
21100-21109 21111-21147 21201-21260 21283-21291 21293-21299 21301-21332 21341-21368 21381-21406 \
21411-21414 21416-21446 21451-21457 21461-21479 21481-21489 21491-21493 21601-21607 21621-21628 \
21630-21644 21661-21669 21691-21701 37900-37967 38001-38327 38338-38347 38349-38399 38403-38440 \
41600-41606 50516-50521 51424-51504 52001-52503 "

# --- First and last thunk, as code ------------------------------------------
# Jump piece: jmp *slot. First-call piece: push $jump; pusha; push $slot;
# push $number; call BindEntry; popa; ret. The slot holds the first-call piece.
bind=$(sym _BindEntry@8)
check_thunk() { # label, number, slot address
    local jump first text expected
    jump=$(sym "_HostEntry_$1"); first=$(sym "FirstCall_$1")
    text=$("$objdump" -d --no-show-raw-insn --start-address=0x$jump --stop-address=$(( 0x$first + 23 )) "$dll" |
           grep -E '^ *[0-9a-f]+:' | sed -E 's/^ *[0-9a-f]+:\s+//; s/ +/ /g; s/ <[^>]*>//')
    expected="jmp *$(hex $3)
push \$0x$jump
pusha
push \$$(hex $3)
push \$$(hex $2)
call $bind
popa
ret"
    expect "thunk $1 disassembles as jump piece and first-call piece" "$text" "$(sed 's/0x0*/0x/g' <<<"$expected")"
    expect "slot of $1 holds its first-call piece at load" "$(hex "$(words $3 1)")" "$(hex 0x$first)"
}
check_thunk 20000 20000 $(( 0x$slots ))
check_thunk 51300 51300 $(( 0x$slotsEnd - 4 ))

# --- Fallback stubs --------------------------------------------------------
stubs=$(words 0x$(sym _FallbackStubTable) 15)
expect "fallback stub table" "$(wc -l <<<"$stubs")" 15
for k in 0 1 2 14; do
    addr=$(sed -n "$((k + 1))p" <<<"$stubs")
    want="xor %eax,%eax
ret"; [ $k -gt 0 ] && want="xor %eax,%eax
ret \$$(hex $((4 * k)))"
    got=$("$objdump" -d --no-show-raw-insn --start-address=$addr --stop-address=$(( addr + 5 - (k == 0 ? 2 : 0) )) "$dll" |
          grep -E '^ *[0-9a-f]+:' | sed -E 's/^ *[0-9a-f]+:\s+//; s/ +/ /g')
    expect "fallback stub $k returns 0 and removes $((4 * k)) bytes" "$got" "$want"
done

addr=0x$(sym _FallbackStubReal3)
got=$("$objdump" -d --no-show-raw-insn --start-address=$addr --stop-address=$(( addr + 7 )) "$dll" |
      grep -E '^ *[0-9a-f]+:' | sed -E 's/^ *[0-9a-f]+:\s+//; s/ +/ /g')
expect "fallback for a double result leaves 0.0 on the x87 stack and removes 12 bytes" "$got" "fldz
xor %eax,%eax
ret \$0xc"

# --- Delay imports -------------------------------------------------------------
base=$(( 0x$("$objdump" -p "$dll" | awk '$1 == "ImageBase" { print $2 }') ))
read -r dirRva dirSize < <("$objdump" -p "$dll" | awk '$1 == "Entry" && $2 == "d" { print $3, $4 }')
dirRva=$(( 0x$dirRva )); dirSize=$(( 0x$dirSize ))
expect "delay-import directory points at the descriptors" "$(hex $(( base + dirRva )))" "$(hex 0x$(sym _DelayImportDirectory))"
expect "delay-import directory size: two descriptors and the zero one" "$dirSize" 96
"$objdump" -s -j .didat "$dll" | sed -n '1,12p'
expect "delay-import tables in writable data" "$(section_of $(( base + dirRva )) | tail -1 | grep -c READONLY)" 0

zunda="lstrlenW ExitThread GetUserDefaultLCID GetLocaleInfoA GetLocaleInfoW IsValidCodePage IsValidLocale
EnumSystemLocalesA GetVersionExA LCMapStringA LCMapStringW CompareStringA CompareStringW GetCPInfo
FreeEnvironmentStringsA FreeEnvironmentStringsW GetEnvironmentStringsW GetStringTypeA GetStringTypeW
InterlockedIncrement InterlockedDecrement IsBadCodePtr IsBadWritePtr IsBadReadPtr FatalAppExitA HeapValidate
DisableThreadLibraryCalls SetErrorMode QueryPerformanceFrequency QueryPerformanceCounter BuildCommDCBAndTimeoutsA
PurgeComm SetCommState SetCommMask SetupComm SetCommTimeouts GetCommModemStatus EscapeCommFunction CreateEventA
SetEvent ResetEvent GetOverlappedResult GetShortPathNameA GetComputerNameA SearchPathA PeekNamedPipe
TransmitCommChar TryEnterCriticalSection GetConsoleWindow GetSystemTimeAsFileTime FlushInstructionCache
AreFileApisANSI GetCommTimeouts GetCommState GetSystemPowerStatus OpenFileMappingA OpenProcess
FindFirstChangeNotificationA FindNextChangeNotification ConvertDefaultLocale"
user="wsprintfA MessageBoxA"
read -r _ textVma textSize _ < <(section_of 0x$(sym _BindEntry@8) | head -1)

check_descriptor() { # index, library, function names
    local at fields names=() i n entry cell
    at=$(( 0x$(sym _DelayImportDirectory) + 32 * $1 ))
    mapfile -t fields < <(words $at 8)
    expect "$2: attributes 0 (absolute addresses)" "${fields[0]}" 0
    expect "$2: library name" "$(cstring ${fields[1]})" "$2"
    expect "$2: module-handle cell empty at load" "$(words ${fields[2]} 1)" 0
    [ "${fields[5]}" != 0 ]; expect "$2: bound-address table present" $? 0
    expect "$2: no unload table" "${fields[6]}" 0
    expect "$2: time stamp 0" "${fields[7]}" 0
    n=$(wc -w <<<"$3")
    mapfile -t entry < <(words ${fields[4]} $(( n + 1 )))
    mapfile -t cell < <(words ${fields[3]} $(( n + 1 )))
    for (( i = 0; i < n; ++i )); do
        names+=("$(cstring $(( entry[i] + 2 )))")
        if (( cell[i] < textVma || cell[i] >= textVma + textSize )); then bad "$2: cell $i holds no binding stub"; fi
    done
    expect "$2: name table, hint and name per function, in order" "${names[*]}" "$(echo $3)"
    expect "$2: name and address tables end with zero" "${entry[n]} ${cell[n]}" "0 0"
}
check_descriptor 0 ZUNDA.dll "$zunda"
check_descriptor 1 USER32.dll "$user"
expect "the zero descriptor ends the list" "$(words $(( 0x$(sym _DelayImportDirectory) + 64 )) 8 | sort -u)" 0

expect "the notification hook is in place from load on (static data)" \
    "$(hex "$(words 0x$(sym ___pfnDliNotifyHook2) 1)")" "$(hex 0x$(sym _DelayNotifyHook@8))"

imports=$("$objdump" -p "$dll" | sed -n '/The Import Tables/,/^The Export/p')
for dll_name in ZUNDA.dll USER32.dll; do
    expect "$dll_name is no regular import" "$(grep -c "DLL Name: $dll_name" <<<"$imports")" 0
done
regular=$(awk 'NF == 3 && $1 ~ /^[0-9a-f]+$/ { print $3 }' <<<"$imports")
expect "none of the delay-loaded functions is also a regular import" \
    "$(grep -xFf <(tr ' \n' '\n\n' <<<"$zunda $user" | sed '/^$/d') <<<"$regular" | tr '\n' ' ')" ""
expect "InterlockedExchange comes from PAKTO.dll" \
    "$(awk '/DLL Name:/ { dll = $3 } NF == 3 && $3 == "InterlockedExchange" { print dll }' <<<"$imports")" PAKTO.dll

exit $fail

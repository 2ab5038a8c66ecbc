#!/usr/bin/env python3
"""Host entries the host lacks, with the real Tolmar.dll on an emulated i386.

For machines that cannot execute 32-bit code and so cannot run the binding
tests under Wine: the DLL runs in the emulator of scripts/emu. A missing
entry is reported through MessageBoxA (reached through the delay import of
USER32.dll) with the answers scripted: Retry shows the report again, Ignore
leaves a stub that removes the caller's arguments and returns 0 (0.0 for a
service with a floating-point result), Abort leaves the entry empty.

Usage: emulate-binding.py TOLMAR_DLL
Exits 77 (skipped) when the emulator is not installed.
"""
import os
import sys

sys.dont_write_bytecode = True  # no caches beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from emu.host import NUMBERS, SERVICES, SalesHost  # noqa: E402
from emu.kernel import PROGRAM_PATH  # noqa: E402
from emu.mm import MmHost, SALES_ROW, field, item  # noqa: E402
from emu.pe import CDECL, Failure  # noqa: E402
from emu.scenario import finish, run  # noqa: E402

DLL = sys.argv[1]
IDABORT, IDRETRY, IDIGNORE = 3, 4, 5
REPORT_STYLE = 0x2012  # abort/retry/ignore, error icon, task-modal
TITLE = b'Dok. sprzeda\xA7y z MM (Ctrl+8 dok.spr.)'
CAPTION = b'POWA\xA1NY B\x9C\x8FD WTYCZKI'
REPORT = (b'W module \x02%s\x01\nbrak wpisu \x02%s\x01\nWywo\x92ano z wtyczki \x02%s\x01.\n\n'
          b'B\x92\x86d ten mo\xA7na zignorowa\x8D lecz dalsza praca\n'
          b'programu w tych warunkach mo\xA7e by\x8D niebezpieczna.\n\n'
          b'Konieczna jest aktualizacja programu!')
# HostConvertText from the host's text (1) to the system's message box (3):
# Mazovia's Polish letters to their places in code page 1250.
MAZOVIA = bytes.maketrans(b'\x86\x8D\x91\x92\xA4\xA2\x9E\xA6\xA7\x8F\x95\x90\x9C\xA5\xA3\x98\xA0\xA1',
                          b'\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF')


def report(number, path=PROGRAM_PATH, converted=True):
    """The report's text and caption as MessageBoxA gets them under Windows:
    highlights as spaces, converted when the host can convert."""
    text = REPORT.replace(b'%s', b'{}').decode('latin-1').format(
        path.decode('latin-1'), number, TITLE.decode('latin-1')).encode('latin-1')
    text = text.replace(b'\x02', b' ').replace(b'\x01', b' ')
    if converted:
        return (text.translate(MAZOVIA), CAPTION.translate(MAZOVIA), REPORT_STYLE)
    return (text, CAPTION, REPORT_STYLE)


def converter(h):
    def convert(dst, src, from_set, to_set):
        if (from_set, to_set) != (1, 3):
            raise Failure(f'HostConvertText from {from_set} to {to_set}')
        h.m.write(dst, h.m.cstr(src).translate(MAZOVIA) + b'\0')
        return dst
    return convert


def prepare(h, case):
    h.lacks.update(case['lacks'])
    h.services[NUMBERS['HostConvertText']] = converter(h)
    answers = list(case['answers'])
    h.kernel.message_box = lambda text, caption, style: answers.pop(0)
    if 'path' in case:
        h.kernel.program_path = case['path']
    return answers


def at_start(case, check):
    h = SalesHost(DLL)
    h.profile['Tolmar/Pytaj'] = '1'
    answers = prepare(h, case)
    try:
        result = h.start()
    except Failure as e:
        result = str(e)
    check.equal('start', result, case['result'])
    check.equal('reports', h.kernel.message_boxes, case['reports'])
    check.equal('every answer used', answers, [])
    asked = [a for code, a in h.queries if code == 2 and a < 0x10000]
    check.equal('each entry asked for once', sorted(asked), sorted(set(asked)))
    check.equal('install notices', len(h.notices), case.get('notices', 0))
    if case['result'] == 0xFFFFFFFF:
        check.equal('not hooked', h.handler(), h.own_handler)


def in_command(case, check):
    docs = [(1, b'20231231', 2, [item(b'old', even=500)]),
            (2, b'20240105', 3, [item(b'new', even=700)])]
    h = MmHost(DLL, docs, ['free', 'free', 'free'], marks=[0, 1])
    answers = prepare(h, case)
    h.handler_result = 7
    check.equal('result', h.raise_event(), 7)
    check.equal('reports', h.kernel.message_boxes, case['reports'])
    check.equal('every answer used', answers, [])
    rows = [(field(r, SALES_ROW, 'longText'), field(r, SALES_ROW, 'price'))
            for r in map(h.row, range(3))]
    if case.get('any_order'):
        rows.sort()
    check.equal('rows', rows, case['rows'])
    check.equal('heap blocks left', h.heap.blocks, {})


def kernel_function(case, check):
    """GetCPInfo, which the runtime's start calls through the delay import
    of ZUNDA.dll, from wherever the case offers it."""
    h = SalesHost(DLL)
    h.profile['Tolmar/Pytaj'] = '1'
    h.kernel.lacking.add('GetCPInfo')
    h.kernel.message_box = lambda text, caption, style: 1
    offered = h.m.stub('GetCPInfo', lambda page, info: 1, 2, 8)
    if case['from'] == 'program':
        h.kernel.program_exports['GetCPInfo'] = offered
    elif case['from'] == 'host':
        h.named['GetCPInfo'] = offered
    try:
        result = h.start()
    except Failure as e:
        result = str(e)
    check.equal('start', result, case['result'])
    check.equal('messages', h.kernel.message_boxes, case['reports'])
    if case['from']:
        check.equal('called once', [n for n, _ in h.m.log].count('GetCPInfo'), 1)


def fallback(case, check):
    """PickFallback's stub for the entry, called as the host's own service
    would be: it must remove the same bytes (and, for a double result,
    leave 0.0 on the x87 stack)."""
    h = SalesHost(DLL)
    number = case['number']
    name, words, clean = SERVICES[number]
    slot = h.m.new_data(4)
    h.m.call(h.dll_symbol('_PickFallback'), [number, slot], CDECL)
    stub = h.m.u32(slot)
    if number in LEFT_EMPTY:
        check.equal('slot left empty', stub, 0)
        return
    top, _ = h.m.x87()
    check.equal('result', h.m.call(stub, [0xA5A5A5A5] * words, clean), 0)
    if number in REAL_RESULT:
        after, significand = h.m.x87()
        check.equal('one value pushed on the x87 stack', (top - after) & 7, 1)
        check.equal('the value 0.0', significand, 0)


# HostCreateProcess stands behind CreateProcessA: no stub pretends to start
# a process. HostScaleAmount returns a double.
LEFT_EMPTY, REAL_RESULT = {52005}, {52179}

LONG_PATH = b'C:\\' + b'D' * 280 + b'\\PROGRAM\\HOST.EXE'  # 300 characters with its tail
assert len(LONG_PATH) == 300

CASES = [dict(c, body=at_start) for c in [
    {'name': 'HostGetTable missing, Ignore: the stub answers 0, the start fails',
     'lacks': [52256], 'answers': [IDIGNORE], 'result': 0xFFFFFFFF,
     'reports': [report(52256)]},
    {'name': 'Retry shows the report again until Ignore',
     'lacks': [52256], 'answers': [IDRETRY, IDRETRY, IDIGNORE], 'result': 0xFFFFFFFF,
     'reports': [report(52256)] * 3},
    {'name': 'Abort leaves the entry empty: the call faults',
     'lacks': [52256], 'answers': [IDABORT],
     'result': 'emulation stopped at 0x0: Invalid memory fetch (UC_ERR_FETCH_UNMAPPED)',
     'reports': [report(52256)]},
    {'name': 'the converter missing too: its own report first, both unconverted',
     'lacks': [52256, 52158], 'answers': [IDIGNORE, IDIGNORE], 'result': 0xFFFFFFFF,
     'reports': [report(52158, converted=False), report(52256, converted=False)]},
    {'name': 'HostProfile missing, Ignore: read as 0, so the notice shows; the start goes on',
     'lacks': [52225], 'answers': [IDIGNORE], 'result': 0, 'notices': 1,
     'reports': [report(52225)]},
    {'name': 'a long program path: "..." and its tail',
     'lacks': [52256], 'answers': [IDIGNORE], 'result': 0xFFFFFFFF, 'path': LONG_PATH,
     'reports': [report(52256, path=b'...' + LONG_PATH[-(511 - 182 - 5 - 37 - 3):])]},
]] + [dict(c, body=in_command) for c in [
    {'name': 'HostScaleAmount missing, Ignore: prices 0.0 from the x87 stack',
     'lacks': [52179], 'answers': [IDIGNORE], 'reports': [report(52179)],
     'rows': [(b'new', 0.0), (b'', 0.0), (b'', 0.0)]},
    # Every date compares equal: in range, and in no particular order.
    {'name': 'HostCompareDates missing, Ignore: every date counts as in range',
     'lacks': [30908], 'answers': [IDIGNORE], 'reports': [report(30908)], 'any_order': True,
     'rows': [(b'', 0.0), (b'new', 7.0), (b'old', 5.0)]},
]] + [dict(c, body=kernel_function) for c in [
    {'name': 'a kernel function the kernel lacks, from the program', 'from': 'program',
     'result': 0, 'reports': []},
    {'name': 'a kernel function the kernel lacks, from the host', 'from': 'host',
     'result': 0, 'reports': []},
    {'name': 'a kernel function nobody has: message, then the delay-load exception', 'from': None,
     'result': 'RaiseException(0xc06d007f) from the DLL',
     'reports': [(b'Nie znaleziono\nGetCPInfo\nfrom ZUNDA.dll', b'Blad wtyczki', 0x40)]},
]] + [{'name': f'the stub an ignored {name} gets', 'number': number, 'body': fallback}
      for number, (name, _, _) in sorted(SERVICES.items())]

finish(run(CASES, lambda case, check: case['body'](case, check)))

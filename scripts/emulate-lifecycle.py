#!/usr/bin/env python3
"""Start, stop and attachment of the real Tolmar.dll, on an emulated i386.

The same behaviour as tests/lifecycle_test.cpp, for machines that cannot
execute 32-bit code and so cannot run that program under Wine: the DLL runs
in the emulator of scripts/emu with a host made of Python stand-ins.

Usage: emulate-lifecycle.py TOLMAR_DLL
Exits 77 (skipped) when the emulator is not installed.
"""
import os
import struct
import sys

sys.dont_write_bytecode = True  # no caches beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from emu.host import (HANDLER_AT, HANDLER_ARGS, RECORD_LENGTH_AT, SALES_DOC_TABLE,  # noqa: E402
                      SALES_DOC_VERSION, SalesHost, handler_args, signed)
from emu.scenario import finish, run  # noqa: E402

DLL = sys.argv[1]
DLL_PROCESS_DETACH = 0
TITLE = b'Dok. sprzeda\xA7y z MM (Ctrl+8 dok.spr.)'
assert len(TITLE) + 1 == 38


def LifecycleHost(**options):
    return SalesHost(DLL, **options)


def version_message(found):
    return (b'Wersje tabeli \x02tabTspr_dok\x01 w programie i we wtyczce\n'
            b'nie pasuj\x86 do siebie (WT:298, ZQ:' + str(found).encode() + b')!\n\n\n'
            b'Wtyczka \x02' + TITLE + b'\x01\nNIE zostanie za\x92adowana!')


def start_stop(case, check):
    h = LifecycleHost()
    title = h.m.new_data(b'\x7F' * 64)
    check.equal('start', h.start(title), 0)
    check.equal('the title and its zero', h.m.read(title, 38), TITLE + b'\0')
    check.equal('nothing past the 38 bytes', h.m.read(title + 38, 26), b'\x7F' * 26)
    check('hooked', h.handler() not in (h.own_handler, 0), hex(h.handler()))
    check.equal('stop', h.stop(), 0)
    check.equal('the host\'s own handler back', h.handler(), h.own_handler)


def null_title(case, check):
    h = LifecycleHost()
    check.equal('start', h.start(0), 0)
    check.equal('stop', h.stop(), 0)


def stop_before_start(case, check):
    h = LifecycleHost()
    junk = h.m.new_data(b'\x01\x02\x03\x04')
    check.equal('stop', h.stop(junk), 0)
    check.equal('junk untouched', h.m.read(junk, 4), b'\x01\x02\x03\x04')
    check.equal('handler', h.handler(), h.own_handler)
    check.equal('no service called', h.service_calls(), [])


def second_start(case, check):
    h = LifecycleHost()
    check.equal('first start', h.start(), 0)
    hooked = h.handler()
    check.equal('second start', h.start(), 0)
    check.equal('still hooked once', h.handler(), hooked)
    check.equal('stop', h.stop(), 0)
    check.equal('the host\'s own handler back', h.handler(), h.own_handler)


def start_after_stop(case, check):
    h = LifecycleHost()
    h.profile['Tolmar/Pytaj'] = '1'
    for round in ('first', 'second'):
        check.equal(f'{round} start', h.start(), 0)
        check(f'{round} start hooks', h.handler() != h.own_handler)
        check.equal(f'{round} stop', h.stop(), 0)
        check.equal(f'{round} stop restores', h.handler(), h.own_handler)


def unload(case, check):
    h = LifecycleHost()
    h.profile['Tolmar/Pytaj'] = '1'
    check.equal('start', h.start(), 0)
    check.equal('stop', h.stop(), 0)
    h.m.log.clear()
    check.equal('DllMain(process detach)', h.m.call(h.dll.base + h.dll.entry,
                                                    [h.dll.base, DLL_PROCESS_DETACH, 0], 12), 1)
    names = [n for n, _ in h.m.log]
    check('the runtime ends: thread data slot freed, heap destroyed',
          'TlsFree' in names and names[-1] == 'HeapDestroy', str(names))


def replaced_meanwhile(case, check):
    h = LifecycleHost()
    check.equal('start', h.start(), 0)
    h.m.w32(h.sales_doc + HANDLER_AT, 0x12345678)
    check.equal('stop', h.stop(), 0)
    check.equal('the host\'s own handler back', h.handler(), h.own_handler)


def record_length(case, check):
    length = case['length']
    h = LifecycleHost(record_length=length)
    expected = 0 if length == SALES_DOC_VERSION else -1
    check.equal('start', signed(h.start()), expected)
    if expected == -1:
        check.equal('not hooked', h.handler(), h.own_handler)
        check.equal('the one message', h.messages, [(b'STOP!', version_message(length), 1)])
        check.equal('no notice', h.notices, [])
    else:
        check('hooked', h.handler() != h.own_handler)
        check.equal('no message', h.messages, [])
    check.equal('stop', h.stop(), 0)
    check.equal('handler after stop', h.handler(), h.own_handler)


def length_bytes_only(case, check):
    h = LifecycleHost()
    h.m.write(h.sales_doc, b'\xFF' * RECORD_LENGTH_AT)
    record = h.m.u32(h.sales_doc + 8)
    check.equal('start', h.start(), 0)
    check.equal('record pointer kept', h.m.u32(h.sales_doc + 8), record)
    check.equal('stop', h.stop(), 0)


def no_descriptor(case, check):
    h = LifecycleHost()
    del h.tables[SALES_DOC_TABLE]
    check.equal('start', h.start(), 0xFFFFFFFF)
    check.equal('no message', h.messages, [])
    check.equal('no notice', h.notices, [])
    check.equal('handler', h.handler(), h.own_handler)


def pytaj(case, check):
    h = LifecycleHost()
    if case['stored'] is not None:
        h.profile['Tolmar/Pytaj'] = case['stored']
    h.profile_unreadable = case.get('unreadable', False)
    h.notice_answer = case.get('answer', 0)
    check.equal('start', h.start(), 0)
    profile_calls = [(a[0], h.m.cstr(a[1]), h.m.cstr(a[2]), h.m.cstr(a[3]))
                     for a in h.calls('HostProfile')]
    read = (1, b'Tolmar', b'Pytaj', b'%d')
    if case['shown']:
        check.equal('notice', [(n, z, t) for n, _, z, t in h.notices],
                    [(1194, 0, b'Zainstalowano: ' + TITLE)])
        check.equal('answer the notice starts with', [a for _, a, _, _ in h.notices], [0])
        check.equal('profile calls', profile_calls, [read, (2, b'Tolmar', b'Pytaj', b'%d')])
        check.equal('written', h.profile.get('Tolmar/Pytaj'), case['written'])
    else:
        check.equal('no notice', h.notices, [])
        check.equal('profile calls', profile_calls, [read])
    check.equal('stop', h.stop(), 0)


def pass_through(case, check):
    h = LifecycleHost()
    check.equal('start', h.start(), 0)
    row_count = h.m.new_data(struct.pack('<i', 3))
    rows = h.m.new_data(4)
    args = [a if a != 'table' else h.sales_doc for a in case['args']]
    args = [{'rowCount': row_count, 'rows': rows}.get(a, a) for a in args]
    h.handler_result = case['result']
    result = h.m.call(h.handler(), args, 4 * HANDLER_ARGS)
    check.equal('result', result, case['result'] & 0xFFFFFFFF)
    check.equal('the host\'s handler got the eleven arguments once', h.handler_calls,
                [handler_args(args)])
    check.equal('row count untouched', h.m.s32(row_count), 3)
    check.equal('stop', h.stop(), 0)


PASS_THROUGH = [
    {'name': 'event 1 passes through', 'result': 2,
     'args': [1, 0, 'rowCount', 'rows', 5, 'table', 7, 8, 9, 10, 11]},
    {'name': 'event 233, high bits set, passes through', 'result': 698,
     'args': [233, 0xFFFF, 0, 0, 0xFFFFFFFF, 'table', 0x80000000, 0, 1, 0x8000, 0xDEADBEEF]},
    {'name': 'event -5 passes through', 'result': -16,
     'args': [-5, 0x7FFF, 'rowCount', 'rows', 0, 0, 0, 0, 0, 0x7FFF, 0]},
]

PYTAJ = [
    {'name': 'Pytaj absent: notice shown, 0 written', 'stored': None, 'shown': True,
     'written': '0'},
    {'name': 'Pytaj 0: notice shown', 'stored': '0', 'shown': True, 'written': '0'},
    {'name': 'Pytaj nonzero: no notice', 'stored': '1', 'shown': False},
    {'name': 'Pytaj unreadable: notice shown', 'stored': '5', 'unreadable': True,
     'shown': True, 'written': '0'},
    {'name': 'Pytaj: the answer written back sign-extended', 'stored': None, 'answer': -2,
     'shown': True, 'written': '-2'},
    {'name': 'Pytaj: only the low 16 bits count', 'stored': '65536', 'shown': True,
     'written': '0'},
]

CASES = ([{'name': 'start copies the title and hooks, stop restores', 'body': start_stop},
          {'name': 'null title', 'body': null_title},
          {'name': 'stop before start changes nothing', 'body': stop_before_start},
          {'name': 'a second start hooks once', 'body': second_start},
          {'name': 'a start after a stop hooks again', 'body': start_after_stop},
          {'name': 'unloading after the stop ends the runtime', 'body': unload},
          {'name': 'stop restores after another replacement', 'body': replaced_meanwhile}]
         + [{'name': f'record length {n}', 'body': record_length, 'length': n}
            for n in (297, 298, 299, -298)]
         + [{'name': 'only the 16-bit length counts', 'body': length_bytes_only},
            {'name': 'no descriptor refuses the start', 'body': no_descriptor}]
         + [dict(c, body=pytaj) for c in PYTAJ]
         + [dict(c, body=pass_through) for c in PASS_THROUGH])

finish(run(CASES, lambda case, check: case['body'](case, check)))

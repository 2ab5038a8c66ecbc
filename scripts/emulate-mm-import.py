#!/usr/bin/env python3
"""The MM-to-sales command (event 234) of the real Tolmar.dll end to end, on
an emulated i386.

Machines that cannot execute 32-bit code cannot run tests/mm_import_test.cpp
under Wine; here the DLL runs in the emulator of scripts/emu, with the host
of scripts/emu/mm.py.

Usage: emulate-mm-import.py TOLMAR_DLL
Exits 77 (skipped) when the emulator is not installed.
"""
import os
import sys

sys.dont_write_bytecode = True  # no caches beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from emu.host import (CURSOR_ROW_AT, FIRST_ROW_SHOWN_AT, SALES_DOC_TABLE,  # noqa: E402
                      handler_args)
from emu.mm import (EDITOR_VALUE, SALES_HEADER_TABLE, SALES_ROW, MmHost,  # noqa: E402
                    field, item)
from emu.scenario import finish, run  # noqa: E402

DLL = sys.argv[1]

BLAD = b'B\x92\x86d'
ITEM_TABLES_ERROR = b'B\x92\x86d operacji dyskowej w PobierzPozDokumentu!'
LIST_GROW_ERROR = b'B\x92\x86d podczas alokowania pami\x91ci w WybierzMM!\nOperacja niekompletna!'
ITEM_GROW_ERROR = (b'B\x92\x86d podczas alokowania pami\x91ci w PobierzPozDokumentu!\n'
                   b'Operacja niekompletna!')
SEEK_ERROR = b'B\x92\x86d w od_fseek w PobierzPozDokumentu'
DOC_ENTRY_SIZE, ITEM_SIZE = 176, 168  # MmDocEntry and MmItem as the compiler lays them out
NOTHING_TO_MARK = b'Brak dokument\xA2w do zaznaczenia!'
NO_ROOM = b'Wi\x91cej pozycji nie zmie\x9Eci si\x91 w tym dokumencie !'
WAIT = b'Prosz\x91 czeka\x8D!'
WAITING = (b'Uwaga', WAIT, 0x200)

MANY_DATES = [b'2023%02d%02d' % (1 + k // 28, 1 + k % 28) for k in range(65)]
TWO_DOCS = [(2, b'20240110', -2, [item(b'second', even=250)]),
            (1, b'20240105', 3, [item(b'first', even=12345)])]

CASES = [
    {'name': 'two marked documents fill free rows 0 and 2 around used row 1',
     'docs': TWO_DOCS, 'rows': ['free', 'used', 'free', 'free'], 'marks': [0, 1],
     'filled': {0: (b'first', b'M3', 3, 0, 123.45), 2: (b'second', b'M-2', -2, 1, 2.5)},
     'list': [b' \rMM/1\rOpis 1\r12345.00\r20240105', b' \rMM/2\rOpis 2\r24690.00\r20240110'],
     'messages': [WAITING]},
    {'name': 'no free row left: "Blokada" once, the rest not taken',
     'docs': [(1, b'20240105', 4, [item(b'a', even=100), item(b'b'), item(b'c')])],
     'rows': ['used', 'free', 'used'], 'marks': [0],
     'filled': {1: (b'a', b'M4', 4, 0, 1.0)}, 'prepared': 2,  # b prepared, then no room
     'messages': [WAITING, (b'Blokada', NO_ROOM, 1)]},
    {'name': 'items not present are not taken',
     'docs': [(1, b'20240105', 1, [item(b'gone', presence=0), item(b'here', even=1)])],
     'rows': ['free', 'free'], 'marks': [0], 'filled': {0: (b'here', b'M1', 1, 0, 0.01)}},
    {'name': 'documents outside the dates are not listed',
     'docs': [(1, b'20231231', 1, [item(b'x')]), (2, b'20240201', 1, [item(b'y')]),
              (3, b'20240131', 1, [item(b'z', even=300)])],
     'rows': ['free'], 'marks': [0], 'filled': {0: (b'z', b'M1', 1, 0, 3.0)},
     'list': [b' \rMM/3\rOpis 3\r37035.00\r20240131']},
] + [
    {'name': f'price flag {flag}: the price at offset {172 if flag & 1 else 176}',
     'docs': [(1, b'20240105', 1, [item(b'p', odd=1111, even=2222)])], 'rows': ['free'],
     'marks': [0], 'price_flag': flag,
     'filled': {0: (b'p', b'M1', 1, 0, 11.11 if flag & 1 else 22.22)}}
    for flag in (0, 1, 2, -1)
] + [
    {'name': 'the list grows by 30 entries and comes sorted by date',
     'docs': [(k + 1, MANY_DATES[(37 * k) % 65], 1, [item(b'x')]) for k in range(65)],
     'dates': (b'20230101', b'20241231'), 'rows': ['free'], 'filled': {},
     'list_dates': sorted(MANY_DATES),
     'reallocs': [30 * DOC_ENTRY_SIZE, 60 * DOC_ENTRY_SIZE, 90 * DOC_ENTRY_SIZE]},
    {'name': 'the selection grows by 500 items',
     'docs': [(1, b'20240105', 1, [item(b'i%d' % k, even=k) for k in range(501)])],
     'rows': ['free', 'used', 'free'], 'marks': [0],
     'filled': {0: (b'i0', b'M1', 1, 0, 0.0), 2: (b'i1', b'M1', 1, 1, 0.01)}, 'prepared': 3,
     'reallocs': [30 * DOC_ENTRY_SIZE, 500 * ITEM_SIZE, 1000 * ITEM_SIZE],
     'messages': [WAITING, (b'Blokada', NO_ROOM, 1)]},
    {'name': 'the list cannot grow: message, nothing listed',
     'docs': TWO_DOCS, 'rows': ['free'], 'realloc_fails': [1], 'filled': {}, 'list': None,
     'messages': [(BLAD, LIST_GROW_ERROR, 1)]},
    {'name': 'the selection cannot grow: message, nothing taken',
     'docs': TWO_DOCS, 'rows': ['free'], 'marks': [0], 'realloc_fails': [2], 'filled': {},
     'messages': [WAITING, (BLAD, ITEM_GROW_ERROR, 1)]},
    {'name': 'a failing read ends the document with the items read so far',
     'docs': [(1, b'20240105', 2, [item(b'a', even=100), item(b'b'), item(b'c')])],
     'rows': ['free', 'free', 'free'], 'marks': [0], 'failing_reads': [(1, 1)],
     'filled': {0: (b'a', b'M2', 2, 0, 1.0)}, 'messages': [WAITING, (b'uwaga', SEEK_ERROR, 1)]},
    {'name': 'texts without terminators are cut to the fields they go to',
     'docs': [(1, b'20240105', 1, [item(b'L' * 121, shortText=b'S' * 17,
                                        smallText=b'T' * 28)])],
     'rows': ['free'], 'marks': [0], 'filled': {0: (b'L' * 120, b'M1', 1, 0, 0.0)},
     'fields': {'shortText': b'S' * 16, 'smallText': b'T' * 5}},
    {'name': 'Insert on an empty list: "nothing to mark", nothing written',
     'docs': [(1, b'20240201', 1, [item(b'x')])], 'rows': ['free'], 'marks': [0],
     'list': [], 'filled': {}, 'messages': [(b'Uwaga', NOTHING_TO_MARK, 1)]},
    {'name': 'Insert on a row the list does not hold marks nothing',
     'docs': TWO_DOCS, 'rows': ['free'], 'marks': [5], 'filled': {}, 'cursor': 5},
    {'name': 'rows counted from the first row shown: the cursor relative to it',
     'docs': TWO_DOCS, 'rows': ['used', 'free', 'free'], 'marks': [0, 1], 'first_row_shown': 1,
     'filled': {1: (b'first', b'M3', 3, 0, 123.45), 2: (b'second', b'M-2', -2, 1, 2.5)}},
    {'name': 'Insert on the last row takes the cursor to the first',
     'docs': TWO_DOCS, 'rows': ['free', 'free'], 'marks': [1], 'cursor': 0,
     'filled': {0: (b'second', b'M-2', -2, 0, 2.5)}},
    {'name': 'date dialog cancelled: nothing listed, nothing written',
     'docs': TWO_DOCS, 'rows': ['free', 'free'], 'dates': None, 'list': None, 'filled': {}},
    {'name': 'Esc on the list: nothing written, the list released',
     'docs': TWO_DOCS, 'rows': ['free', 'free'], 'marks': [0, 1], 'list_confirmed': False,
     'filled': {}, 'released': 1, 'messages': [WAITING]},
    {'name': 'table 44 unavailable: message, result 0, event not passed on',
     'docs': TWO_DOCS, 'rows': ['free', 'free'], 'marks': [0], 'lacking': [SALES_HEADER_TABLE],
     'filled': {}, 'passed_on': False, 'released': 1,
     'messages': [WAITING, (BLAD, ITEM_TABLES_ERROR, 1),
                  (BLAD, ITEM_TABLES_ERROR, 1)]},
]


def mm_import(case, check):
    options = {k: case[k] for k in ('dates', 'marks', 'list_confirmed', 'price_flag', 'lacking',
                                    'realloc_fails', 'failing_reads', 'first_row_shown')
               if k in case}
    filled = case['filled']
    h = MmHost(DLL, case['docs'], case['rows'], **options)
    h.handler_result = 0x1234
    top, _ = h.m.x87()
    result = h.raise_event()
    check.equal('the x87 stack as it was', h.m.x87()[0], top)
    passed_on = case.get('passed_on', True)
    check.equal('result', result, 0x1234 if passed_on else 0)
    check.equal('passed on to the host\'s handler', h.handler_calls,
                [handler_args(h.event_args)] if passed_on else [])
    if 'list' in case:
        check.equal('list rows', h.list_texts, case['list'])
    if 'list_dates' in case:
        check.equal('list dates', [t.split(b'\r')[-1] for t in h.list_texts], case['list_dates'])
    if 'reallocs' in case:
        check.equal('HostRealloc sizes', h.reallocs, case['reallocs'])
    if 'cursor' in case:
        check.equal('list cursor after the last Insert', h.m.s16(h.list_row), case['cursor'])
    check.equal('messages', h.messages,
                case.get('messages', [] if case.get('dates', True) is None else [WAITING]))
    for r, image in enumerate(h.row_images):
        got = h.row(r)
        if r not in case['filled']:
            check.equal(f'row {r} untouched', got, image)
            continue
        text, warehouse_text, warehouse, position, price = case['filled'][r]
        expected = {'longText': text, 'shortText': b'S' + text, 'intValue': 7,
                    'smallText': b'small', 'shortValue': -5, 'warehouseText': warehouse_text,
                    'rowState': 0, 'warehouseNo': warehouse, 'presence': 1,
                    'position': position}
        expected.update(case.get('fields', {}))
        check.equal(f'row {r}', {k: field(got, SALES_ROW, k) for k in expected}, expected)
        check(f'row {r} price', abs(field(got, SALES_ROW, 'price') - price) < 1e-9,
              repr(field(got, SALES_ROW, 'price')))
    if case['filled']:
        last = max(case['filled'])
        check.equal('cursor row', h.m.s32(h.sales_doc + CURSOR_ROW_AT)
                    + h.m.s32(h.sales_doc + FIRST_ROW_SHOWN_AT), last)
    check.equal('heap blocks left', h.heap.blocks, {})
    check.equal('scans left open', h.scans, {})
    check.equal('found sets left', h.found_sets, {})
    if 'released' in case:
        check.equal('blocks freed', len(h.calls('HostFree')), case['released'])
    check.equal('the lists emptied', h.m.read(h.dll_symbol('_MmDocList'), 12)
                + h.m.read(h.dll_symbol('_MmSelection'), 12), bytes(24))
    if passed_on:
        header = h.record(SALES_HEADER_TABLE)
        check.equal('rows prepared', h.calls('HostPrepareRow'),
                    [[0, h.record(SALES_DOC_TABLE), header, 1]] * case.get('prepared', len(filled)))
        check.equal('rows done', h.calls('HostRowsDone'),
                    [[h.row_table, len(h.rows), header, 0, 0]])
        check.equal('editor refreshed', h.calls('HostEditorRefresh'),
                    [[EDITOR_VALUE & 0xFFFFFFFF, h.sales_doc, h.row_table, h.row_count, 8, 0x4100,
                      0, 1, 0, 0, 0, 0]])


finish(run(CASES, mm_import))

#!/usr/bin/env python3
"""The MM-to-sales command (event 234) of the real Tolmar.dll end to end, on
an emulated i386.

Machines that cannot execute 32-bit code cannot run tests/mm_import_test.cpp
under Wine; here the DLL runs in the emulator of scripts/emu, and the host
is made of Python: the tables 44, 45, 58 and 67 with their record buffers,
the scan of index 124, the found sets of index 125, a heap that tracks its
blocks, and scripted forms (the date dialog, and the MM list that asks the
plug-in for its rows and marks them through its key callback).

Usage: emulate-mm-import.py TOLMAR_DLL
Exits 77 (skipped) when the emulator is not installed.
"""
import os
import struct
import sys

sys.dont_write_bytecode = True  # no caches beside the sources
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from emu.host import (CURSOR_ROW_AT, FIRST_ROW_SHOWN_AT, HANDLER_ARGS, NUMBERS,  # noqa: E402
                      SalesHost, handler_args, signed)
from emu.pe import CDECL, Call, Double, Failure, Heap, HOST, HOST_SIZE  # noqa: E402
from emu.scenario import finish, run  # noqa: E402

DLL = sys.argv[1]

MM_MARK = 234
SALES_HEADER_TABLE, MM_HEADER_TABLE, MM_ITEM_TABLE = 44, 58, 67
MM_HEADER_INDEX, MM_ITEM_INDEX = 124, 125
DATE_FORM, LIST_FORM = 1003, 1002
FORM_CONFIRMED, ESC = 0x5001, 0x011B
LIST_ELEMENT, INSERT_KEY = 0x4001, 0x5200
EDITOR_VALUE = -3

# Record layouts of mmimport/records.h: field -> (offset, struct format or
# text room).
MM_HEADER = dict(size=468, number=(2, 51), issueDate=(53, 9), description=(62, 223),
                 grossPurchaseValue=(285, '<d'), warehouseNo=(454, '<h'),
                 listable=(460, '<i'), docKey=(464, '<i'))
MM_ITEM = dict(size=348, longText=(2, 121), shortText=(123, 17), intValue=(140, '<i'),
               smallText=(144, 28), priceOddFlag=(172, '<i'), priceEvenFlag=(176, '<i'),
               shortValue=(180, '<h'), presence=(346, '<h'))
SALES_HEADER = dict(size=221, priceFlag=(219, '<h'))
SALES_ROW = dict(size=298, longText=(2, 121), shortText=(123, 17), intValue=(140, '<i'),
                 smallText=(144, 22), shortValue=(166, '<h'), warehouseText=(188, 12),
                 rowState=(200, '<h'), price=(202, '<d'), warehouseNo=(292, '<h'),
                 presence=(294, '<h'), position=(296, '<h'))


def pack(layout, **fields):
    """A record's bytes: zeros but for the fields given."""
    out = bytearray(layout['size'])
    for name, value in fields.items():
        offset, kind = layout[name]
        if isinstance(kind, int):
            out[offset:offset + min(len(value), kind)] = value[:kind]
        else:
            struct.pack_into(kind, out, offset, value)
    return bytes(out)


def field(data, layout, name):
    offset, kind = layout[name]
    if isinstance(kind, int):
        return data[offset:offset + kind].split(b'\0')[0]
    return struct.unpack_from(kind, data, offset)[0]


class MmHost(SalesHost):
    """The host of the command. docs: (docKey, date, warehouse, items) with
    items as dicts of MM_ITEM fields; rows: the sales document's rows as
    'free' or 'used'; dates: what the date dialog is left with, or None for
    Esc; marks: the list rows Insert is pressed on; list_confirmed: F12 or
    Esc on the list."""

    def __init__(self, docs, rows, dates=(b'20240101', b'20240131'), marks=(),
                 list_confirmed=True, price_flag=0, lacking=()):
        super().__init__(DLL)
        self.profile['Tolmar/Pytaj'] = '1'  # no installation notice
        m = self.m
        self.heap = Heap(m, HOST + HOST_SIZE // 2, HOST_SIZE // 2)
        self.headers = [pack(MM_HEADER, number=f'MM/{key}'.encode(), issueDate=date,
                             description=f'Opis {key}'.encode(),
                             grossPurchaseValue=123450000.0 * key, warehouseNo=warehouse,
                             listable=1, docKey=key)
                        for key, date, warehouse, _ in docs]
        self.items = {key: [pack(MM_ITEM, **item) for item in items]
                      for key, _, _, items in docs}
        self.tables.update({
            SALES_HEADER_TABLE: self.descriptor(0, SALES_HEADER['size']),
            MM_HEADER_TABLE: self.descriptor(0, MM_HEADER['size']),
            MM_ITEM_TABLE: self.descriptor(0, MM_ITEM['size']),
        })
        for t in lacking:
            del self.tables[t]
        if SALES_HEADER_TABLE in self.tables:
            m.write(self.record(SALES_HEADER_TABLE), pack(SALES_HEADER, priceFlag=price_flag))
        self.row_images = [pack(SALES_ROW, rowState=1 if r == 'used' else 0,
                                longText=b'used' if r == 'used' else b'') for r in rows]
        self.rows = [m.new_data(image) for image in self.row_images]
        self.row_table = m.new_data(struct.pack(f'<{len(rows)}I', *self.rows) or b'\0' * 4)
        self.row_count = m.new_data(struct.pack('<i', len(rows)))
        self.dates, self.marks, self.list_confirmed = dates, marks, list_confirmed
        self.list_row = m.new_data(2)  # the list's current row, HostFormValue(0x4001)
        self.list_texts = None
        self.scans, self.found_sets = {}, {}
        self.services.update({NUMBERS[name]: behaviour for name, behaviour in {
            'HostRealloc': lambda block, size: self.heap.realloc(block, size),
            'HostFree': lambda block: self.heap.free(block),
            'HostRunForm': self.run_form,
            'HostFormValue': lambda element: self.list_row if element == LIST_ELEMENT else 0,
            'HostCloseMessage': lambda: 0,
            'HostOpenTable': lambda table, mode: 1,
            'HostMakeKey': self.make_key,
            'HostScanFirst': self.scan_first,
            'HostScanNext': self.scan_next,
            'HostScanEnd': self.scan_end,
            'HostFindAll': self.find_all,
            'HostReadFound': self.read_found,
            'HostFreeFound': self.free_found,
            'HostCompareDates': lambda a, b: (m.cstr(a) > m.cstr(b)) - (m.cstr(a) < m.cstr(b)),
            'HostFormatDate': lambda dst, stored: m.write(dst, m.cstr(stored, 8) + b'\0') or dst,
            'HostScaleAmount': lambda low, high, divisor: Double(
                struct.unpack('<d', struct.pack('<II', low, high))[0] / signed(divisor)),
            'HostPrepareRow': lambda zero, row, header, one: 1,
            'HostRowsDone': lambda rows, count, header, zero, zero2: 1,
            'HostEditorRefresh': lambda *args: 1,
        }.items()})
        if self.start() != 0:
            raise Failure('the plug-in did not start')
        self.m.log.clear()
        self.messages.clear()

    def record(self, table):
        return self.m.u32(self.tables[table] + 8)

    # -- forms -------------------------------------------------------------
    def run_form(self, form_table, form, data, on_key, row_text):
        if form == DATE_FORM:
            if self.dates is None:
                return ESC
            self.m.write(data, self.dates[0][:8] + b'\0')
            self.m.write(data + 9, self.dates[1][:8] + b'\0')
            return FORM_CONFIRMED
        if form != LIST_FORM:
            raise Failure(f'HostRunForm of form {form}')
        return self.list_form(on_key, row_text)

    def list_form(self, on_key, row_text):
        """A generator: the host's list calls back into the plug-in."""
        count = signed((yield Call(row_text, [0xFFFFFFFF, 0], 8)))
        self.list_texts = []
        for r in range(count):
            self.list_texts.append(self.m.cstr((yield Call(row_text, [r, 0], 8))))
        for r in self.marks:
            self.m.w16(self.list_row, r)
            answer = (yield Call(on_key, [INSERT_KEY, 0], 8)) & 0xFFFF
            if answer != LIST_ELEMENT:
                raise Failure(f'OnListKey answered {answer:#x}')
        return FORM_CONFIRMED if self.list_confirmed else ESC

    # -- keys, scans and found sets ----------------------------------------------
    def make_key(self, index, table_cell, key, value):
        self.m.write(key, struct.pack('<ii', index, value))
        return 1

    def scan_first(self, cursor, table, index, key, zero, zero2):
        if table != self.tables[MM_HEADER_TABLE] or index != MM_HEADER_INDEX:
            raise Failure(f'HostScanFirst on table {table:#x}, index {index}')
        self.scans[cursor] = iter(self.headers)
        return 1

    def scan_next(self, cursor):
        header = next(self.scans[cursor], None)
        if header is None:
            return 0
        self.m.write(self.record(MM_HEADER_TABLE), header)
        return 1

    def scan_end(self, cursor):
        del self.scans[cursor]

    def find_all(self, index, key, table, count):
        made_index, doc = struct.unpack('<ii', self.m.read(key, 8))
        if (index, made_index, table) != (MM_ITEM_INDEX, MM_ITEM_INDEX,
                                           self.tables[MM_ITEM_TABLE]):
            raise Failure(f'HostFindAll({index}, key of {made_index}, {table:#x})')
        if not self.items.get(doc):
            return 0
        found = self.m.new_data(4)
        self.found_sets[found] = doc
        self.m.w32(count, len(self.items[doc]))
        return found

    def read_found(self, zero, position, table, zero2, found):
        doc = self.found_sets[found]
        self.m.write(self.record(MM_ITEM_TABLE), self.items[doc][position])
        header = next(h for h in self.headers if field(h, MM_HEADER, 'docKey') == doc)
        self.m.write(self.record(MM_HEADER_TABLE), header)
        return 1

    def free_found(self, cell):
        del self.found_sets[self.m.u32(cell)]
        self.m.w32(cell, 0)

    # -- the event -----------------------------------------------------------
    def raise_event(self):
        args = [MM_MARK, EDITOR_VALUE & 0xFFFF, self.row_count, self.row_table, 5,
                self.sales_doc, 6, 8, 9, 10, 11]
        self.event_args = args
        return self.m.call(self.handler(), args, 4 * HANDLER_ARGS)

    def row(self, r):
        return self.m.read(self.rows[r], SALES_ROW['size'])


def item(text, odd=0, even=0, presence=1, **more):
    return dict(longText=text, shortText=b'S' + text, intValue=7, smallText=b'small',
                priceOddFlag=odd, priceEvenFlag=even, shortValue=-5, presence=presence, **more)


BLAD = b'B\x92\x86d'
ITEM_TABLES_ERROR = b'B\x92\x86d operacji dyskowej w PobierzPozDokumentu!'
NO_ROOM = b'Wi\x91cej pozycji nie zmie\x9Eci si\x91 w tym dokumencie !'
WAIT = b'Prosz\x91 czeka\x8D!'
WAITING = (b'Uwaga', WAIT, 0x200)

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
     'filled': {1: (b'a', b'M4', 4, 0, 1.0)},
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
    options = {k: case[k] for k in ('dates', 'marks', 'list_confirmed', 'price_flag', 'lacking')
               if k in case}
    h = MmHost(case['docs'], case['rows'], **options)
    h.handler_result = 0x1234
    result = h.raise_event()
    passed_on = case.get('passed_on', True)
    check.equal('result', result, 0x1234 if passed_on else 0)
    check.equal('passed on to the host\'s handler', h.handler_calls,
                [handler_args(h.event_args)] if passed_on else [])
    if 'list' in case:
        check.equal('list rows', h.list_texts, case['list'])
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
        refresh = h.calls('HostEditorRefresh')
        check.equal('editor refreshed once', [signed(a[0]) for a in refresh], [EDITOR_VALUE])


finish(run(CASES, mm_import))

"""The host of the MM-to-sales command, in Python: the tables 44, 45, 58
and 67 with their record buffers (laid out as hostapi/records.h states),
the scan of index 124, the found sets of index 125, a heap that tracks its
blocks, and scripted forms: the date dialog, and the MM list that asks the
plug-in for its rows and marks them through its key callback."""
import struct

from .host import FIRST_ROW_SHOWN_AT, HANDLER_ARGS, NUMBERS, SalesHost, signed
from .pe import Call, Double, Failure, Heap, HOST, HOST_SIZE

MM_MARK = 234
SALES_HEADER_TABLE, MM_HEADER_TABLE, MM_ITEM_TABLE = 44, 58, 67
MM_HEADER_INDEX, MM_ITEM_INDEX = 124, 125
DATE_FORM, LIST_FORM = 1003, 1002
FORM_CONFIRMED, ESC = 0x5001, 0x011B
LIST_ELEMENT, INSERT_KEY = 0x4001, 0x5200
EDITOR_VALUE = -3

# Record layouts of hostapi/records.h: field -> (offset, struct format or
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

    def __init__(self, dll, docs, rows, dates=(b'20240101', b'20240131'), marks=(),
                 list_confirmed=True, price_flag=0, lacking=(), lacks=(), realloc_fails=(),
                 failing_reads=(), first_row_shown=0):
        super().__init__(dll)
        self.lacks.update(lacks)
        self.realloc_fails = set(realloc_fails)  # numbers (from 1) of the HostRealloc calls
        self.reallocs = []                       # sizes asked for
        self.failing_reads = set(failing_reads)  # (docKey, position)
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
        m.w32(self.sales_doc + FIRST_ROW_SHOWN_AT, first_row_shown)
        self.list_texts = None
        self.scans, self.found_sets = {}, {}
        self.services.update({NUMBERS[name]: behaviour for name, behaviour in {
            'HostRealloc': self.realloc,
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

    def realloc(self, block, size):
        self.reallocs.append(size)
        if len(self.reallocs) in self.realloc_fails:
            return 0
        return self.heap.realloc(block, size)

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
        if (doc, position) in self.failing_reads:
            return 0
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
    """An MM item whose texts derive from text; prices in hundredths."""
    return dict(dict(longText=text, shortText=b'S' + text, intValue=7, smallText=b'small',
                     priceOddFlag=odd, priceEvenFlag=even, shortValue=-5, presence=presence),
                **more)

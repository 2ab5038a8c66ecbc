"""The host as the plug-in sees it: HostQuery, the numbered services with
their calling conventions, table descriptors, and the plug-in's way in."""
import re
import struct

from .kernel import Kernel
from .pe import CDECL, Failure, Machine

# The services of plugin/host_services.h: number -> (name, 32-bit argument
# words read, bytes the service removes; CDECL where the caller removes them).
# A variadic service reads as many words as its fullest call passes.
SERVICES = {
    21286: ('HostRealloc', 2, CDECL),
    21287: ('HostFree', 1, CDECL),
    52023: ('HostNoticeBox', 4, CDECL),
    52026: ('HostRunForm', 5, CDECL),
    52028: ('HostMessageBox', 3, 12),
    52029: ('HostMessageBoxF', 8, CDECL),
    52033: ('HostFormValue', 1, 4),
    52064: ('HostCloseMessage', 0, 0),
    52158: ('HostConvertText', 4, 16),
    52179: ('HostScaleAmount', 3, 12),  # a double and a 32-bit value; result on the x87 stack
    52225: ('HostProfile', 5, CDECL),
    52256: ('HostGetTable', 1, 4),
    52465: ('HostOpenTable', 2, 8),
    51425: ('HostMakeKey', 4, 16),
    50516: ('HostFindAll', 4, 16),
    52286: ('HostReadFound', 5, 20),
    50704: ('HostFreeFound', 1, 4),
    52278: ('HostScanFirst', 6, 24),
    52279: ('HostScanNext', 1, 4),
    52281: ('HostScanEnd', 1, 4),
    30908: ('HostCompareDates', 2, 8),
    32008: ('HostFormatDate', 2, 8),
    52332: ('HostPrepareRow', 4, 16),
    52330: ('HostRowsDone', 5, 20),
    52470: ('HostEditorRefresh', 12, 48),
    52005: ('HostCreateProcess', 10, 40),
}
NUMBERS = {name: number for number, (name, _, _) in SERVICES.items()}

HOST_QUERY_PROCEDURE = 2
DLL_PROCESS_ATTACH = 1
PLUGIN_ENTRY_ORDINAL = 30001

# TableDescriptor (hostapi/records.h).
DESCRIPTOR_SIZE, RECORD_LENGTH_AT, RECORD_AT, HANDLER_AT = 108, 6, 8, 104
FIRST_ROW_SHOWN_AT, CURSOR_ROW_AT = 84, 88
HANDLER_ARGS = 11
HANDLER_SHORT_ARGS = (1, 9)  # editorValue and arg10 are 16-bit: only their low halves count


def handler_args(args):
    """The table handler's arguments as declared: 16-bit ones cut to 16 bits."""
    return [a & (0xFFFF if k in HANDLER_SHORT_ARGS else 0xFFFFFFFF) for k, a in enumerate(args)]


def printf(m, format, words):
    """The host's formatter over the argument words that follow format."""
    words = iter(words)
    out = bytearray()
    for piece in re.split(rb'(%[-+ 0#]*\d*(?:\.\d+)?[sdcuxf%])', format):
        if not piece.startswith(b'%') or len(piece) < 2:
            out += piece
        elif piece == b'%%':
            out += b'%'
        elif piece.endswith(b's'):
            out += m.cstr(next(words))
        elif piece.endswith(b'f'):
            low, high = next(words), next(words)
            value = struct.unpack('<d', struct.pack('<II', low, high))[0]
            out += (piece.decode() % value).encode()
        else:
            value = next(words)
            if piece.endswith((b'd', b'c')):
                value = struct.unpack('<i', struct.pack('<I', value))[0]
            out += (piece.decode() % value).encode('latin-1')
    return bytes(out)


class Host:
    """One emulated process: the kernel, Tolmar.dll loaded and attached,
    the host's services by number. services[number] is the behaviour
    (taking the argument words) of each service the host offers; a number
    in `lacks` is answered with 0."""

    def __init__(self, dll):
        self.m = m = Machine()
        self.kernel = Kernel(m)
        self.dll = m.load(dll)
        self.kernel.bind(self.dll)
        self.services = {}
        self.lacks = set()
        self.queries = []
        self.named = {}  # name -> address HostQuery gives for a procedure asked by name
        self.addresses = {}
        self.messages = []  # (title, text, style) of HostMessageBox and HostMessageBoxF
        self.query = m.stub('HostQuery', self.host_query, 2, CDECL)
        self.services[NUMBERS['HostMessageBoxF']] = self.message_box_f
        self.services[NUMBERS['HostMessageBox']] = self.message_box
        result = m.call(self.dll.base + self.dll.entry, [self.dll.base, DLL_PROCESS_ATTACH, 0], 12)
        if result != 1:
            raise Failure(f'DllMain(process attach) returned {result}')

    # -- HostQuery and the services --------------------------------------
    def host_query(self, code, argument):
        self.queries.append((code, argument))
        if code != HOST_QUERY_PROCEDURE:
            return 0
        if argument >= 0x10000:
            return self.named.get(self.m.cstr(argument).decode('latin-1'), 0)
        if argument in self.lacks or argument not in self.services:
            if argument not in self.lacks:
                raise Failure(f'the plug-in asked for host entry {argument}, '
                              'which this scenario does not provide')
            return 0
        if argument not in self.addresses:
            name, count, clean = SERVICES[argument]
            self.addresses[argument] = self.m.stub(name, self.services[argument], count, clean,
                                                   check_caller=True)
        return self.addresses[argument]

    def message_box(self, title, text, style):
        self.messages.append((self.m.cstr(title), self.m.cstr(text), style))
        return 1

    def message_box_f(self, title, format, style, *rest):
        self.messages.append((self.m.cstr(title), printf(self.m, self.m.cstr(format), rest),
                              style))
        return 1

    def dll_symbol(self, name):
        if not hasattr(self, '_symbols'):
            self._symbols = self.dll.symbols()
        if name not in self._symbols:
            raise Failure(f'no symbol {name} in {self.dll.path}')
        return self._symbols[name]

    def calls(self, name=None):
        """The arguments of each call of a service (or every stand-in)."""
        return [args for n, args in self.m.log if name is None or n == name]

    # -- descriptors -------------------------------------------------------
    def descriptor(self, record_length, record_size, handler=0):
        """A table descriptor with a record buffer of its own."""
        d = self.m.new_data(DESCRIPTOR_SIZE)
        self.m.w16(d + RECORD_LENGTH_AT, record_length)
        self.m.w32(d + RECORD_AT, self.m.new_data(record_size))
        self.m.w32(d + HANDLER_AT, handler)
        return d

    # -- the plug-in's way in ----------------------------------------------
    def plugin_entry(self, callback, title):
        return self.m.call(self.dll.exports[PLUGIN_ENTRY_ORDINAL], [callback, title], 8)

    def start(self, title=0):
        return self.plugin_entry(self.query, title)

    def stop(self, title=0):
        return self.plugin_entry(0, title)


SALES_DOC_TABLE, SALES_DOC_VERSION, SALES_ROW_SIZE = 45, 298, 298


class SalesHost(Host):
    """A host with the sales-document table (its own event handler records
    its calls), the profile and the installation notice. tables maps the
    ids HostGetTable answers to their descriptors."""

    def __init__(self, dll, record_length=SALES_DOC_VERSION):
        super().__init__(dll)
        self.handler_calls = []
        self.handler_result = 0
        self.own_handler = self.m.stub('OwnSalesDocHandler', self.own, HANDLER_ARGS,
                                       4 * HANDLER_ARGS)
        self.sales_doc = self.descriptor(record_length, SALES_ROW_SIZE, self.own_handler)
        self.tables = {SALES_DOC_TABLE: self.sales_doc}
        self.profile = {}
        self.profile_unreadable = False
        self.notice_answer = 0
        self.notices = []
        self.services.update({
            NUMBERS['HostGetTable']: lambda table: self.tables.get(table, 0),
            NUMBERS['HostProfile']: self.host_profile,
            NUMBERS['HostNoticeBox']: self.notice_box,
        })

    def own(self, *args):
        self.handler_calls.append(handler_args(args))
        return self.handler_result

    def host_profile(self, mode, section, key, format, value):
        name = (self.m.cstr(section) + b'/' + self.m.cstr(key)).decode('latin-1')
        if self.m.cstr(format) != b'%d':
            raise Failure(f'HostProfile format {self.m.cstr(format)!r}')
        if mode == 1:
            if self.profile_unreadable or name not in self.profile:
                return 1
            self.m.w32(value, int(self.profile[name]))
            return 0
        self.profile[name] = str(signed(value))
        return 0

    def notice_box(self, notice, answer, zero, text):
        self.notices.append((notice, self.m.s16(answer), zero, self.m.cstr(text)))
        self.m.w16(answer, self.notice_answer)
        return 0

    def handler(self):
        return self.m.u32(self.sales_doc + HANDLER_AT)

    def service_calls(self):
        return [n for n, _ in self.m.log if n.startswith('Host') and n != 'HostQuery']


def signed(value, bits=32):
    value &= (1 << bits) - 1
    return value - (1 << bits) if value >> (bits - 1) else value

"""Stand-ins for the kernel (and user-interface) functions that Tolmar.dll
calls, bound into its import slots and served to its delay-load binding.

A call of a function not listed here fails the scenario with its name.
"""
from .pe import Failure, Heap, HEAP, HEAP_SIZE

KERNEL_MODULE, USER_MODULE, PROGRAM_MODULE = 0x0B000000, 0x0B100000, 0x00400000
PROGRAM_PATH = b'C:\\PROGRAM\\HOST.EXE'


def _compare(a, b):
    return (a > b) - (a < b)


class Kernel:
    """The kernel of one emulated process: heaps, thread-local slots and the
    functions by name. message_box(text, caption, style) answers
    MessageBoxA (default: fail, as nothing should show one)."""

    def __init__(self, machine):
        self.m = m = machine
        self.heap = Heap(m, HEAP, HEAP_SIZE)
        self.heaps = set()
        self.tls = {}
        self.message_box = None
        self.message_boxes = []  # (text, caption, style) as shown
        self.program_path = PROGRAM_PATH
        self.lacking = {'Borland32'}  # names the kernel does not export
        self.program_exports = {}     # name -> address the host's program exports
        self.exchanges = []
        s = m.cstr
        # name: (argument count, behaviour); all of them remove their arguments.
        self.functions = {
            'GetVersion': (0, lambda: 0x0A280105),                    # an NT version
            'GetVersionExA': (1, self.version_ex),
            'GetModuleHandleA': (1, self.module_handle),
            'GetProcAddress': (2, self.proc_address),
            'LoadLibraryA': (1, self.load_library),
            'FreeLibrary': (1, lambda module: 1),
            'DisableThreadLibraryCalls': (1, lambda module: 1),
            'GetModuleFileNameA': (3, self.module_file_name),
            'GetLastError': (0, lambda: 0),
            'SetLastError': (1, lambda e: 0),
            'GetEnvironmentStringsW': (0, lambda: 0),
            'FreeEnvironmentStringsW': (1, lambda block: 1),
            'GetCPInfo': (2, lambda page, info: 1),
            'HeapCreate': (3, self.heap_create),
            'HeapDestroy': (1, lambda heap: 1),
            'HeapAlloc': (3, lambda heap, flags, size: self.heap.alloc(size)),
            'HeapReAlloc': (4, lambda heap, flags, block, size: self.heap.realloc(block, size)),
            'HeapFree': (3, lambda heap, flags, block: self.heap.free(block) or 1),
            'HeapSize': (3, lambda heap, flags, block: self.heap.blocks[block]),
            'TlsAlloc': (0, self.tls_alloc),
            'TlsFree': (1, lambda index: self.tls.pop(index, None) is not None or 1),
            'TlsGetValue': (1, lambda index: self.tls.get(index, 0)),
            'TlsSetValue': (2, lambda index, value: self.tls.__setitem__(index, value) or 1),
            'GetCurrentThreadId': (0, lambda: 0x100),
            'GetStdHandle': (1, lambda which: 0x7),
            'WriteFile': (5, self.write_file),
            'lstrcpyA': (2, self.lstrcpy),
            'lstrcmpA': (2, lambda a, b: _compare(s(a), s(b))),
            'lstrcmpiA': (2, lambda a, b: _compare(s(a).lower(), s(b).lower())),
            'RaiseException': (4, self.raise_exception),
            'InterlockedExchange': (2, self.exchange),  # PAKTO.dll's
            'MessageBoxA': (4, self.show_message_box),  # USER32.dll's
        }
        self.addresses = {}
        self.written = b''

    def address(self, name):
        """The stand-in of the function, made on first use."""
        if name not in self.addresses:
            if name in self.functions:
                count, behaviour = self.functions[name]
                self.addresses[name] = self.m.stub(name, behaviour, count, 4 * count)
            else:
                self.addresses[name] = self.m.failing_stub(name)
        return self.addresses[name]

    def bind(self, image):
        """Fills the image's import slots."""
        for (library, function), slot in image.imports.items():
            self.m.w32(slot, self.address(function))

    # -- behaviours ---------------------------------------------------------
    def version_ex(self, info):
        self.m.w32(info + 4, 5)
        self.m.w32(info + 8, 1)
        self.m.w32(info + 16, 2)
        return 1

    def module_handle(self, name):
        if not name:
            return PROGRAM_MODULE
        return KERNEL_MODULE if self.m.cstr(name).lower() in (b'kernel32', b'kernel32.dll') else 0

    def load_library(self, name):
        return {b'kernel32.dll': KERNEL_MODULE, b'user32.dll': USER_MODULE}.get(
            self.m.cstr(name).lower(), 0)

    def proc_address(self, module, name):
        if name < 0x10000:
            raise Failure(f'GetProcAddress by ordinal {name}')
        function = self.m.cstr(name).decode('latin-1')
        if module == KERNEL_MODULE and function != 'MessageBoxA':
            # The kernel exports everything else; a function not stood in for
            # fails when it is called, with its name.
            return 0 if function in self.lacking else self.address(function)
        if module == USER_MODULE and function == 'MessageBoxA':
            return self.address(function)
        if module == PROGRAM_MODULE:
            return self.program_exports.get(function, 0)
        return 0

    def module_file_name(self, module, buffer, size):
        # As the system does: cut to size characters, without a zero then.
        n = min(len(self.program_path), size)
        self.m.write(buffer, self.program_path[:n] + (b'\0' if n < size else b''))
        return n

    def heap_create(self, options, initial, maximum):
        handle = 0x0A000000 + 0x1000 * len(self.heaps)
        self.heaps.add(handle)
        return handle

    def tls_alloc(self):
        index = len(self.tls) + 3
        self.tls[index] = 0
        return index

    def write_file(self, handle, data, size, written, overlapped):
        self.written += self.m.read(data, size)
        if written:
            self.m.w32(written, size)
        return 1

    def lstrcpy(self, dst, src):
        self.m.write(dst, self.m.cstr(src) + b'\0')
        return dst

    def raise_exception(self, code, flags, count, args):
        raise Failure(f'RaiseException({code:#x}) from the DLL')

    def exchange(self, cell, value):
        old = self.m.u32(cell)
        self.m.w32(cell, value)
        self.exchanges.append((cell, value))
        return old

    def show_message_box(self, window, text, caption, style):
        shown = (self.m.cstr(text), self.m.cstr(caption), style)
        self.message_boxes.append(shown)
        if not self.message_box:
            raise Failure(f'unexpected MessageBoxA: {shown!r}')
        return self.message_box(*shown)

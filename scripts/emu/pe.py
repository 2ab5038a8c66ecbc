"""The emulated i386: memory, a loaded PE image, stand-in functions and calls
into the image, including calls back into it from a stand-in."""
import inspect
import os
import re
import struct
import sys

try:
    from unicorn import Uc, UcError, UC_ARCH_X86, UC_MODE_32, UC_HOOK_CODE
    from unicorn import x86_const as X
except ImportError:
    # Debian's python3-unicorn is installed for the system interpreter only.
    system = '/usr/bin/python3'
    if os.path.realpath(sys.executable) != os.path.realpath(system) and os.path.exists(system):
        os.execv(system, [system] + sys.argv)
    print('SKIP: the i386 emulator (python3-unicorn) is not installed')
    sys.exit(77)

# Regions of the address space (the image goes to its preferred base).
STACK, STACK_SIZE = 0x00100000, 0x00100000
STUBS, STUBS_SIZE = 0x0C000000, 0x00010000     # stand-in entry points, one per 16 bytes
SNIPPETS = 0x0C100000                           # real code the stand-ins return through
TEB, GDT = 0x0C200000, 0x0C210000
HEAP, HEAP_SIZE = 0x20000000, 0x01000000        # the kernel's heaps
HOST, HOST_SIZE = 0x30000000, 0x01000000        # the host's heap and its own data
RETURN = STUBS + STUBS_SIZE - 16                # where a call from the script returns to
TRAMPOLINE = STUBS + STUBS_SIZE - 32            # where a call from a stand-in returns to
SCRATCH = SNIPPETS + 0xF000                     # a stand-in's double result

SAVED = (X.UC_X86_REG_EBX, X.UC_X86_REG_ESI, X.UC_X86_REG_EDI, X.UC_X86_REG_EBP)
CDECL = None  # the callee-clean byte count of a function whose caller cleans


class Failure(Exception):
    """What a scenario reports as FAIL."""


class Call:
    """A function the code under test calls back, as a stand-in's generator
    yields it: target, arguments, and the bytes the callee removes."""

    def __init__(self, target, args, clean):
        self.target, self.args, self.clean = target, list(args), clean


class Double(float):
    """A stand-in's result returned on the x87 stack rather than in eax."""


class Image:
    """A PE image's layout as its file states it."""

    def __init__(self, path):
        self.path = path
        self.data = data = open(path, 'rb').read()
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        self.sections_count = struct.unpack_from('<H', data, pe + 6)[0]
        self.optional = pe + 24
        self.section_table = self.optional + struct.unpack_from('<H', data, pe + 20)[0]
        self.entry = struct.unpack_from('<I', data, self.optional + 16)[0]
        self.base = struct.unpack_from('<I', data, self.optional + 28)[0]
        self.size = (struct.unpack_from('<I', data, self.optional + 56)[0] + 0xFFF) & ~0xFFF

    def symbols(self):
        """The COFF symbol table the linker leaves in the file: name ->
        address, for the symbols defined in a section."""
        pe = struct.unpack_from('<I', self.data, 0x3C)[0]
        table, count = struct.unpack_from('<II', self.data, pe + 12)
        strings = table + 18 * count
        section_va = [va for va, _ in self.sections()]
        out = {}
        k = 0
        while k < count:
            raw, value, section, _, _, aux = struct.unpack_from('<8sIhHBB', self.data,
                                                                table + 18 * k)
            if raw[:4] == b'\0\0\0\0':
                at = strings + struct.unpack_from('<I', raw, 4)[0]
                raw = self.data[at:self.data.index(b'\0', at)]
            if section > 0:
                out[raw.rstrip(b'\0').decode('latin-1')] = (self.base + section_va[section - 1]
                                                            + value)
            k += 1 + aux
        return out

    def directory(self, k):
        return struct.unpack_from('<II', self.data, self.optional + 96 + 8 * k)

    def sections(self):
        for i in range(self.sections_count):
            h = self.section_table + 40 * i
            vsize, va, rawsize, rawptr = struct.unpack_from('<IIII', self.data, h + 8)
            yield va, self.data[rawptr:rawptr + min(rawsize, vsize or rawsize)]


class Heap:
    """Blocks in a region, tracked: what is allocated, what is left."""

    def __init__(self, machine, start, size):
        self.m, self.next, self.end = machine, start, start + size
        self.blocks = {}  # address -> size

    def alloc(self, size, zero=True):
        address = self.next
        self.next = (self.next + max(size, 1) + 15) & ~15
        if self.next > self.end:
            raise Failure('emulated heap exhausted')
        self.blocks[address] = size
        if zero:
            self.m.write(address, bytes(size))
        return address

    def free(self, address):
        if address not in self.blocks:
            raise Failure(f'free of {address:#x}, which is no block of this heap')
        del self.blocks[address]

    def realloc(self, address, size):
        if not address:
            return self.alloc(size)
        old = self.blocks.get(address)
        if old is None:
            raise Failure(f'realloc of {address:#x}, which is no block of this heap')
        new = self.alloc(size)
        self.m.write(new, self.m.read(address, min(old, size)))
        self.free(address)
        return new


class Machine:
    """An i386 with a stack, a thread block, stand-in functions and images."""

    def __init__(self):
        self.mu = mu = Uc(UC_ARCH_X86, UC_MODE_32)
        for start, size in ((STACK, STACK_SIZE), (STUBS, STUBS_SIZE), (SNIPPETS, 0x10000),
                            (TEB, 0x1000), (GDT, 0x1000), (HEAP, HEAP_SIZE), (HOST, HOST_SIZE)):
            mu.mem_map(start, size)
        mu.mem_write(STUBS, b'\xC3' * STUBS_SIZE)
        self.stubs = {}      # address -> (name, argument count, callee-clean bytes, behaviour)
        self.checked = set() # stand-ins whose callers' conventions are checked
        self.code = []       # (base, size, bytes) of each loaded image
        self.styles = {}     # image base -> whether its code stores arguments
        self.frames = []     # stand-ins waiting for a call back to return
        self.error = None
        self.log = []        # (name, arguments) of every stand-in call
        self.snippet_next = SNIPPETS
        self.double_return = {}  # callee-clean bytes -> snippet
        self.host_data = Heap(self, HOST, HOST_SIZE)
        self.setup_thread_block()
        mu.hook_add(UC_HOOK_CODE, self.on_stub, begin=STUBS, end=STUBS + STUBS_SIZE - 1)

    # -- memory ---------------------------------------------------------
    def read(self, a, n):
        return bytes(self.mu.mem_read(a, n))

    def write(self, a, data):
        self.mu.mem_write(a, bytes(data))

    def u32(self, a):
        return struct.unpack('<I', self.read(a, 4))[0]

    def s32(self, a):
        return struct.unpack('<i', self.read(a, 4))[0]

    def s16(self, a):
        return struct.unpack('<h', self.read(a, 2))[0]

    def f64(self, a):
        return struct.unpack('<d', self.read(a, 8))[0]

    def w32(self, a, v):
        self.write(a, struct.pack('<I', v & 0xFFFFFFFF))

    def w16(self, a, v):
        self.write(a, struct.pack('<H', v & 0xFFFF))

    def wf64(self, a, v):
        self.write(a, struct.pack('<d', v))

    def cstr(self, a, limit=4096):
        out = bytearray()
        while len(out) < limit and (c := self.read(a + len(out), 1)) != b'\0':
            out += c
        return bytes(out)

    def new_data(self, data):
        """The bytes (or a size of zeros) at a fresh address of the host's
        own data."""
        if isinstance(data, int):
            return self.host_data.alloc(data)
        a = self.host_data.alloc(len(data))
        self.write(a, data)
        return a

    def new_cstr(self, text):
        return self.new_data((text.encode('latin-1') if isinstance(text, str) else text) + b'\0')

    # -- the thread block: fs:[0] ends the exception handler chain ------
    def setup_thread_block(self):
        self.w32(TEB, 0xFFFFFFFF)
        self.w32(TEB + 0x18, TEB)  # the block's own address

        def segment(base, limit, flags):  # present, writable data, ring 0
            return struct.pack('<Q', limit & 0xFFFF | (base & 0xFFFFFF) << 16 | 0x92 << 40
                               | ((limit >> 16) & 0xF) << 48 | flags << 52
                               | ((base >> 24) & 0xFF) << 56)
        self.write(GDT + 8, segment(TEB, 0xFFF, 0x4))        # fs: the thread block
        self.write(GDT + 16, segment(0, 0xFFFFF, 0xC))       # ss, ds, es: flat, 4 GiB
        self.mu.reg_write(X.UC_X86_REG_GDTR, (0, GDT, 0x18, 0))
        for register in (X.UC_X86_REG_SS, X.UC_X86_REG_DS, X.UC_X86_REG_ES):
            self.mu.reg_write(register, 2 << 3)
        self.mu.reg_write(X.UC_X86_REG_FS, 1 << 3)

    # -- images ----------------------------------------------------------
    def load(self, path):
        """Maps the image at its preferred base; returns it with its imports
        ((library, function) -> slot) and exports (ordinal -> address)."""
        image = Image(path)
        self.mu.mem_map(image.base, image.size)
        self.write(image.base, image.data[:0x400])
        for va, raw in image.sections():
            self.write(image.base + va, raw)
        self.code.append((image.base, image.size, self.read(image.base, image.size)))
        image.imports = {}
        d = image.base + image.directory(1)[0]
        while self.u32(d + 12):
            library = self.cstr(image.base + self.u32(d + 12)).decode()
            names = image.base + (self.u32(d) or self.u32(d + 16))
            slots = image.base + self.u32(d + 16)
            j = 0
            while entry := self.u32(names + 4 * j):
                image.imports[(library, self.cstr(image.base + entry + 2).decode())] = slots + 4 * j
                j += 1
            d += 20
        image.exports = {}
        rva, _ = image.directory(0)
        if rva:
            e = image.base + rva
            ordinal_base, count, functions = self.u32(e + 16), self.u32(e + 20), self.u32(e + 28)
            for k in range(count):
                if address := self.u32(image.base + functions + 4 * k):
                    image.exports[ordinal_base + k] = image.base + address
        return image

    # -- stand-ins -------------------------------------------------------
    def stub(self, name, behaviour, args=0, clean=0, check_caller=False):
        """A stand-in at a fresh address. behaviour(*args) returns eax, a
        Double for the x87 stack, or a generator that yields Calls (each
        resumed with the call's eax) and returns the result. clean is what
        the stand-in removes from the stack (CDECL: nothing). With
        check_caller, each call site must agree (see caller_expects)."""
        address = STUBS + 16 * len(self.stubs)
        assert address < TRAMPOLINE
        self.stubs[address] = (name, args, clean or 0, behaviour)
        if check_caller:
            self.checked.add(address)
        return address

    def caller_expects(self, back, clean):
        """The bytes the code at the return address takes the callee to have
        removed, when they differ from clean; else None. The compiler
        readjusts esp by what a __stdcall callee removed (sub $n, %esp)
        where it stores arguments into a fixed area below the frame, and
        removes pushed arguments of a __cdecl callee itself (add $n, %esp).
        Storing code that does not readjust by clean within a few
        instructions (optimised code schedules the readjustment a little
        later) expects nothing removed; pushing code that does not pop
        expects the callee to clean (left unchecked). A wrong convention in
        a declaration thus shows at the call site, which a check of esp when
        the outer call returns misses: frame pointers restore it."""
        code = self.read(back, 6)
        if code[:2] in (b'\x83\xC4', b'\x81\xC4'):
            expected = 0
        elif (n := self.readjustment(code)) is not None:
            expected = n
        elif not self.stores_arguments(back) or clean == 0:
            return None
        else:
            window = self.read(back, 32)
            found = any(self.readjustment(window[at:at + 6]) == clean
                        for at in range(len(window) - 6))
            expected = clean if found else 0
        return None if expected == clean else expected

    @staticmethod
    def readjustment(code):
        """n for code starting with sub $n, %esp; else None."""
        if code[:2] == b'\x83\xEC':
            return code[2]
        if code[:2] == b'\x81\xEC':
            return struct.unpack_from('<I', code, 2)[0]
        return None

    def stores_arguments(self, address):
        """Whether the image holding address passes arguments by storing
        them (calls followed by esp readjustments outnumber calls followed
        by pops), as GCC does with -maccumulate-outgoing-args."""
        for base, size, text in self.code:
            if base <= address < base + size:
                if base not in self.styles:
                    readjusts = len(re.findall(rb'\xE8....\x83\xEC', text, re.S))
                    pops = len(re.findall(rb'\xE8....\x83\xC4', text, re.S))
                    self.styles[base] = readjusts > pops
                return self.styles[base]
        return False

    def failing_stub(self, name):
        def fail(*_):
            raise Failure(f'call of {name}, which the emulator does not provide')
        return self.stub(name, fail)

    def on_stub(self, mu, address, size, user):
        try:
            if address == RETURN:
                return
            if address == TRAMPOLINE:
                self.returned_from_call()
                return
            name, count, clean, behaviour = self.stubs[address]
            esp = mu.reg_read(X.UC_X86_REG_ESP)
            args = [self.u32(esp + 4 + 4 * k) for k in range(count)]
            self.log.append((name, args))
            if address in self.checked:
                expected = self.caller_expects(self.u32(esp), clean)
                if expected is not None:
                    raise Failure(f'{name} removes {clean} bytes of arguments, but its caller '
                                  f'at {self.u32(esp):#x} takes it to remove {expected}')
            result = behaviour(*args)
            if inspect.isgenerator(result):
                self.frames.append({'gen': result, 'esp': esp, 'clean': clean, 'name': name})
                self.resume(None)
            else:
                self.leave(esp, clean, result)
        except Exception as e:  # reported once the emulation has stopped
            self.error = self.error or e
            mu.emu_stop()

    def leave(self, esp, clean, result):
        """Returns from a stand-in whose return address is at esp."""
        mu = self.mu
        if isinstance(result, Double):
            # fld qword [SCRATCH]; ret clean
            self.write(SCRATCH, struct.pack('<d', result))
            if clean not in self.double_return:
                self.double_return[clean] = self.snippet_next
                self.write(self.snippet_next, b'\xDD\x05' + struct.pack('<I', SCRATCH)
                           + b'\xC2' + struct.pack('<H', clean))
                self.snippet_next += 16
            mu.reg_write(X.UC_X86_REG_ESP, esp)
            mu.reg_write(X.UC_X86_REG_EIP, self.double_return[clean])
            return
        if not isinstance(result, (int, type(None))):
            raise Failure(f'a stand-in returned {result!r}')
        mu.reg_write(X.UC_X86_REG_EAX, (result or 0) & 0xFFFFFFFF)
        mu.reg_write(X.UC_X86_REG_ECX, 0x0BAD0C0C)  # a function may change ecx and edx
        mu.reg_write(X.UC_X86_REG_EDX, 0x0BAD0D0D)
        mu.reg_write(X.UC_X86_REG_ESP, esp + 4 + clean)
        mu.reg_write(X.UC_X86_REG_EIP, self.u32(esp))

    def resume(self, value):
        """Runs the innermost waiting stand-in to its next call or its end."""
        frame = self.frames[-1]
        try:
            call = frame['gen'].send(value)
        except StopIteration as done:
            self.frames.pop()
            self.leave(frame['esp'], frame['clean'], done.value)
            return
        esp = frame['esp'] - 64  # below the stand-in's own return address
        for a in reversed(call.args):
            esp -= 4
            self.w32(esp, a)
        frame['expect'] = esp + (call.clean if call.clean is not CDECL else 0)
        frame['callee'] = call.target
        esp -= 4
        self.w32(esp, TRAMPOLINE)
        self.mu.reg_write(X.UC_X86_REG_ESP, esp)
        self.mu.reg_write(X.UC_X86_REG_EIP, call.target)

    def returned_from_call(self):
        frame = self.frames[-1]
        esp = self.mu.reg_read(X.UC_X86_REG_ESP)
        if esp != frame['expect']:
            raise Failure(f'{frame["name"]}: the function at {frame["callee"]:#x} it called '
                          f'left esp {esp - frame["expect"]:+d} bytes off')
        self.resume(self.mu.reg_read(X.UC_X86_REG_EAX))

    def x87(self):
        """The x87 stack's top index and st(0)'s 64-bit significand (0 for
        a zero)."""
        top = (self.mu.reg_read(X.UC_X86_REG_FPSW) >> 11) & 7
        return top, self.mu.reg_read(X.UC_X86_REG_ST0)

    # -- calls from the script -------------------------------------------
    def call(self, target, args, clean, limit=20_000_000):
        """Calls target with args; clean is the byte count the function
        removes (CDECL: none). Checks that it left esp and the registers it
        must keep as they were; returns eax."""
        top = STACK + STACK_SIZE - 0x1000
        esp = top
        for a in reversed(args):
            esp -= 4
            self.w32(esp, a)
        after = esp + (clean if clean is not CDECL else 0)
        esp -= 4
        self.w32(esp, RETURN)
        kept = [0x0B0B0001, 0x05050002, 0x0D0D0003, 0x0E0E0004]
        for r, v in zip(SAVED, kept):
            self.mu.reg_write(r, v)
        self.mu.reg_write(X.UC_X86_REG_ESP, esp)
        self.error = None
        self.frames.clear()
        try:
            self.mu.emu_start(target, RETURN, count=limit)
        except UcError as e:
            eip = self.mu.reg_read(X.UC_X86_REG_EIP)
            raise Failure(f'emulation stopped at {eip:#x}: {e}') from None
        if self.error:
            raise self.error
        eip = self.mu.reg_read(X.UC_X86_REG_EIP)
        if eip != RETURN:
            raise Failure(f'the call of {target:#x} did not return (stopped at {eip:#x})')
        if self.frames:
            raise Failure('returned while a stand-in still waited for its call back')
        esp = self.mu.reg_read(X.UC_X86_REG_ESP)
        if esp != after:
            raise Failure(f'the call of {target:#x} left esp {esp - after:+d} bytes off')
        regs = [self.mu.reg_read(r) for r in SAVED]
        if regs != kept:
            raise Failure(f'the call of {target:#x} changed ebx, esi, edi or ebp')
        return self.mu.reg_read(X.UC_X86_REG_EAX)

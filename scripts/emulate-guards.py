#!/usr/bin/env python3
"""Runs the system call guards of the built files on an emulated i386.

Machines that cannot execute 32-bit code cannot run the Wine tests, but the
guards need nothing from Windows: this maps the built images at their
preferred bases into an i386 emulator (the Unicorn engine, Debian package
python3-unicorn), stands in for the few kernel functions involved, and runs
the real instructions:

  - the guard macro, as the guard test program generates it for 0 to 8 and
    10 arguments, through that program's CallWithRegisters;
  - InstallApiGuards of Tolmar.dll: every slot, every row, the CreateProcessA
    slot, and a second call that writes nothing;
  - guarded calls through the DLL's import slots; GetCPInfo's first call
    through its guard into the delay-load binding and its second call
    straight to the function; CreateProcessA into host service 52005.

Usage: emulate-guards.py TEST_EXE DLL NM
Exits 77 (skipped) when the emulator is not installed.
"""
import os
import struct
import subprocess
import sys

try:
    from unicorn import Uc, UcError, UC_ARCH_X86, UC_MODE_32, UC_HOOK_CODE
    from unicorn import x86_const as X
except ImportError:
    system = '/usr/bin/python3'
    if os.path.realpath(sys.executable) != os.path.realpath(system) and os.path.exists(system):
        os.execv(system, [system] + sys.argv)
    print('SKIP: the i386 emulator (python3-unicorn) is not installed')
    sys.exit(77)

EXE, DLL, NM = sys.argv[1:4]

STACK, RETURN, STANDINS, DATA = 0x00100000, 0x0DEAD000, 0x0C000000, 0x00200000
REGS = [X.UC_X86_REG_EAX, X.UC_X86_REG_ECX, X.UC_X86_REG_EDX, X.UC_X86_REG_EBX,
        X.UC_X86_REG_ESI, X.UC_X86_REG_EDI, X.UC_X86_REG_EBP]
# What every call starts with in eax ecx edx ebx esi edi ebp.
LOADED = [0xEAEA0001, 0xC1C10002, 0xD1D10003, 0xB1B10004, 0x51510005, 0xD1D10006, 0xBBBB0007]
# What a system function leaves in ecx and edx, as it may.
CLOBBERED = [0x0BAD0C0C, 0x0BAD0D0D]

failures = 0


def ok(what):
    """Says what passed, when nothing has failed so far."""
    if not failures:
        print(what)


def check(what, passed, detail=''):
    global failures
    if not passed:
        failures += 1
        print(f'FAIL: {what} {detail}')
    return passed


def symbols(path):
    table = {}
    for line in subprocess.check_output([NM, path], text=True).splitlines():
        parts = line.split()
        if len(parts) == 3:
            table[parts[2]] = int(parts[0], 16)
    return table


class Machine:
    """An i386 with one image mapped, a stack, and stand-in functions."""

    def __init__(self, path):
        self.mu = Uc(UC_ARCH_X86, UC_MODE_32)
        for region in (STACK, RETURN, STANDINS, DATA):
            self.mu.mem_map(region, 0x10000)
        self.base, self.size, self.imports = self.load(path)
        self.sym = symbols(path)
        self.standins = {}
        self.calls = []
        self.mu.hook_add(UC_HOOK_CODE, self.enter_standin, begin=STANDINS, end=STANDINS + 0xFFFF)

    def load(self, path):
        data = open(path, 'rb').read()
        pe = self.le(data, 0x3C)
        sections = struct.unpack_from('<H', data, pe + 6)[0]
        optional = pe + 24
        table = optional + struct.unpack_from('<H', data, pe + 20)[0]
        base, size = self.le(data, optional + 28), self.le(data, optional + 56)
        size = (size + 0xFFF) & ~0xFFF
        self.mu.mem_map(base, size)
        self.mu.mem_write(base, data[:0x400])
        for i in range(sections):
            h = table + 40 * i
            vsize, va, rawsize, rawptr = struct.unpack_from('<IIII', data, h + 8)
            self.mu.mem_write(base + va, data[rawptr:rawptr + min(rawsize, vsize or rawsize)])
        imports = {}  # (library, function) -> regular import slot
        d = base + self.le(data, optional + 96 + 8)
        while self.u32(d + 12):
            library = self.cstr(base + self.u32(d + 12))
            names = base + (self.u32(d) or self.u32(d + 16))
            slots = base + self.u32(d + 16)
            j = 0
            while self.u32(names + 4 * j):
                imports[(library, self.cstr(base + self.u32(names + 4 * j) + 2))] = slots + 4 * j
                j += 1
            d += 20
        return base, size, imports

    @staticmethod
    def le(data, offset):
        return struct.unpack_from('<I', data, offset)[0]

    def u32(self, a):
        return struct.unpack('<I', self.mu.mem_read(a, 4))[0]

    def w32(self, a, v):
        self.mu.mem_write(a, struct.pack('<I', v & 0xFFFFFFFF))

    def cstr(self, a):
        out = b''
        while (c := self.mu.mem_read(a, 1)) != b'\0':
            out += c
            a += 1
        return out.decode('latin-1')

    def standin(self, name, args, behaviour, cdecl=False):
        """A function at a fresh address: records its arguments, runs
        behaviour(args) for eax, changes ecx and edx, removes its arguments
        unless cdecl."""
        address = STANDINS + 16 * len(self.standins)
        self.standins[address] = (name, args, behaviour, cdecl)
        return address

    def enter_standin(self, mu, address, size, user):
        name, count, behaviour, cdecl = self.standins[address]
        esp = mu.reg_read(X.UC_X86_REG_ESP)
        args = [self.u32(esp + 4 + 4 * k) for k in range(count)]
        self.calls.append((name, args))
        mu.reg_write(X.UC_X86_REG_EAX, behaviour(args) & 0xFFFFFFFF)
        mu.reg_write(X.UC_X86_REG_ECX, CLOBBERED[0])
        mu.reg_write(X.UC_X86_REG_EDX, CLOBBERED[1])
        mu.reg_write(X.UC_X86_REG_ESP, esp + 4 + (0 if cdecl else 4 * count))
        mu.reg_write(X.UC_X86_REG_EIP, self.u32(esp))

    def call(self, target, args, registers=None):
        """Calls target with args (callee cleans) and the registers loaded;
        returns the registers after it and how far esp ended up from where it
        was before the arguments."""
        top = STACK + 0x8000
        esp = top
        for a in reversed(args):
            esp -= 4
            self.w32(esp, a)
        esp -= 4
        self.w32(esp, RETURN)
        for r, v in zip(REGS, registers or LOADED):
            self.mu.reg_write(r, v)
        self.mu.reg_write(X.UC_X86_REG_ESP, esp)
        self.mu.emu_start(target, RETURN, count=5_000_000)
        return [self.mu.reg_read(r) for r in REGS], self.mu.reg_read(X.UC_X86_REG_ESP) - top


def kept(registers, delta):
    """Everything but eax as loaded, and the stack as before the call."""
    return registers[1:] == LOADED[1:] and delta == 0


def hexes(values):
    return '[' + ', '.join(f'{v:#x}' for v in values) + ']'


def guard_macro():
    """The test program's guards, through its own CallWithRegisters."""
    m = Machine(EXE)
    seen = {}
    fake = {}

    def behaviour_for(n):
        def behaviour(args):
            seen['args'] = args
            return 0xC0DE0000 + n
        return behaviour

    for n in list(range(9)) + [10]:
        fake[n] = m.standin(f'fake{n}', n, behaviour_for(n))
    count = m.u32(m.sym['_TestGuardCount'])
    regs_at, args_at = DATA, DATA + 0x100
    for k in range(count):
        n, guard, row = struct.unpack('<III', m.mu.mem_read(m.sym['_TestGuards'] + 12 * k, 12))
        m.w32(row, m.sym['_ClobberOnReturn'])
        m.w32(m.sym['_FakeTarget'], fake[n])
        args = [0xA0000000 + (n << 8) + i + 1 for i in range(n)]
        for i, a in enumerate(args):
            m.w32(args_at + 4 * i, a)
        for i, v in enumerate(LOADED):
            m.w32(regs_at + 4 * i, v)
        seen.clear()
        regs, delta = m.call(m.sym['_CallWithRegisters'], [guard, args_at, n, regs_at])
        # CallWithRegisters is cdecl: its four arguments are still there.
        check(f'{n} arguments: CallWithRegisters returns 0', regs[0] == 0 and delta == -16,
              f'{regs[0]:#x} {delta}')
        after = [m.u32(regs_at + 4 * i) for i in range(8)]
        check(f'{n} arguments: in order', seen.get('args') == args, hexes(seen.get('args', [])))
        check(f'{n} arguments: result', after[0] == 0xC0DE0000 + n, hex(after[0]))
        check(f'{n} arguments: registers and stack kept',
              after[1:7] == LOADED[1:7] and after[7] == 0, hexes(after))
    ok(f'ok: the guard macro for {count} argument counts')


def dll():
    m = Machine(DLL)
    s = m.sym
    rows = [m.u32(s['_ApiGuardTable'] + 4 * k) for k in range(129)]
    guards = [m.u32(s['_ApiGuardCode'] + 4 * k) for k in range(129)]
    create = s['__imp__CreateProcessA@40']
    cpinfo = s['__imp__GetCPInfo@8']

    # The kernel as far as the guards and the delay-load binding need it.
    kernel_module, cpinfo_function = 0x0B000000, STANDINS + 0xF000
    exchange_calls = []

    def exchange(args):
        old = m.u32(args[0])
        m.w32(args[0], args[1])
        exchange_calls.append(args)
        return old

    behaviours = {
        'GetLastError': (0, lambda a: 0x2A),
        'CreateFileA': (7, lambda a: 0x55),
        'WideCharToMultiByte': (8, lambda a: 0x66),
        'LoadLibraryA': (1, lambda a: kernel_module if m.cstr(a[0]) == 'KERNEL32.dll' else 0),
        'GetProcAddress': (2, lambda a: cpinfo_function
                           if a[0] == kernel_module and m.cstr(a[1]) == 'GetCPInfo' else 0),
        'FreeLibrary': (1, lambda a: 1),
        'lstrcmpA': (2, lambda a: (m.cstr(a[0]) > m.cstr(a[1])) - (m.cstr(a[0]) < m.cstr(a[1]))),
        'lstrcmpiA': (2, lambda a: (m.cstr(a[0]).lower() > m.cstr(a[1]).lower())
                      - (m.cstr(a[0]).lower() < m.cstr(a[1]).lower())),
        'InterlockedExchange': (2, exchange),  # from PAKTO.dll
    }
    slots_at_load = {}
    for (library, function), slot in m.imports.items():
        args, behaviour = behaviours.get(function, (0, None))
        if behaviour is None:
            def behaviour(a, f=function):
                raise RuntimeError(f'unexpected call of {f}')
        m.w32(slot, m.standin(function, args, behaviour))
        slots_at_load[slot] = m.u32(slot)
    m.standins[cpinfo_function] = ('GetCPInfo', 2, lambda a: 1, False)

    # Installation.
    before = [m.u32(r) for r in rows]
    m.call(s['__Z16InstallApiGuardsv'], [])
    check('GuardsInstalled is set', m.mu.mem_read(s['_GuardsInstalled'], 1)[0] == 1)
    bad = [k for k in range(129)
           if m.u32(rows[k]) != (s['_HostEntry_52005'] if rows[k] == create else guards[k])
           or m.u32(s['_ApiGuardTable'] + 4 * k) != before[k]]
    check('every slot holds its guard and every row what its slot held', not bad, str(bad))
    check('the CreateProcessA slot enters the thunk of 52005',
          m.u32(create) == s['_HostEntry_52005'])
    image = bytes(m.mu.mem_read(m.base, m.size))
    m.call(s['__Z16InstallApiGuardsv'], [])
    check('a second installation writes nothing', bytes(m.mu.mem_read(m.base, m.size)) == image)
    ok('ok: InstallApiGuards')

    # Guarded regular imports.
    for name, args, result in (('__imp__GetLastError@0', [], 0x2A),
                               ('__imp__CreateFileA@28', list(range(0x100, 0x107)), 0x55),
                               ('__imp__WideCharToMultiByte@32', list(range(0x200, 0x208)), 0x66)):
        m.calls.clear()
        regs, delta = m.call(m.u32(s[name]), args)
        check(f'{name}: reaches the function once, arguments in order',
              [c[1] for c in m.calls] == [args])
        check(f'{name}: result', regs[0] == result, hex(regs[0]))
        check(f'{name}: registers and stack kept', kept(regs, delta), hexes(regs))
    ok('ok: guarded calls through the import slots')

    # GetCPInfo: its guard, the binding, then the function itself.
    m.calls.clear()
    regs, delta = m.call(m.u32(cpinfo), [0, DATA])
    names = [c[0] for c in m.calls]
    check('GetCPInfo first call: loads the kernel library, binds, calls',
          names[0] == 'LoadLibraryA' and 'GetProcAddress' in names and names[-1] == 'GetCPInfo'
          and m.calls[-1][1] == [0, DATA], str(names))
    check('GetCPInfo first call: result, registers and stack kept',
          regs[0] == 1 and kept(regs, delta), hexes(regs))
    check('GetCPInfo: the cell now holds the function', m.u32(cpinfo) == cpinfo_function)
    m.calls.clear()
    regs, delta = m.call(m.u32(cpinfo), [0, DATA])
    check('GetCPInfo second call: straight to the function',
          [c[0] for c in m.calls] == ['GetCPInfo'] and regs[0] == 1 and delta == 0
          and regs[1:3] == CLOBBERED, str(m.calls))
    ok('ok: GetCPInfo through its guard once, then directly')

    # CreateProcessA: HostQuery(2, 52005) on the first call, then the service.
    service = m.standin('HostCreateProcess', 10, lambda a: 1)
    query = m.standin('HostQuery', 2, lambda a: service if a == [2, 52005] else 0, cdecl=True)
    m.w32(s['_HostQuery'], query)
    args = list(range(0x300, 0x30A))
    m.calls.clear()
    for _ in range(2):
        regs, delta = m.call(m.u32(create), args)
        check('CreateProcessA: result and stack', regs[0] == 1 and delta == 0, hexes(regs))
    check('CreateProcessA: asks for 52005 once and reaches it twice with its ten arguments',
          m.calls == [('HostQuery', [2, 52005]), ('HostCreateProcess', args),
                      ('HostCreateProcess', args)], str(m.calls))
    ok('ok: CreateProcessA reaches host service 52005')


try:
    guard_macro()
    dll()
except (UcError, RuntimeError, KeyError) as e:
    check('emulation', False, repr(e))
sys.exit(1 if failures else 0)

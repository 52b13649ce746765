#!/usr/bin/python3
"""Checks a Windows module as a file: a DLL of the given machine (32-bit x86
or x86-64) that exports exactly its two entries, imports only from KERNEL32
and the libraries it is given (exactly the names of their export lists), carries no
time stamp, symbol table, debug data or resources, and whose start-up
structures (constructor list, the runtime's initialiser and TLS callback
tables, thread-local data) are those of an empty DLL linked the same way,
while none of its own objects contributes to them. It has no thread-local
storage and its entry point switches thread notifications off. With
--shipped-tclbridge, the imports of the shipped tclbridge are pinned: Tcl/Tk
8.5's DLLs, the 52 names, the version texts.

Usage: check_pe.py --objdump OBJDUMP --machine MACHINE --name NAME
                   --module DLL --empty DLL
                   [--library DLLNAME=EXPORTS.def ...] [--objects OBJ ...]
                   [--shipped-tclbridge]
"""
import argparse
import re
import struct
import subprocess
import sys

RUNTIME_DLLS = {"kernel32.dll"}

# What follows from the PE machine field: the optional header's magic, the
# machine word of import thunks, TLS directory and start-up tables, and where
# the image base and the data directories are in the optional header.
MACHINES = {
    0x14C: ("32-bit x86 PE32", 0x10B, "I", 28, 92),
    0x8664: ("x86-64 PE32+", 0x20B, "Q", 24, 108),
}
START_UP_SECTION = re.compile(r"^(\.ctors|\.dtors|\.init_array|\.fini_array|"
                              r"\.CRT\$|\.tls)")


class PE:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        assert d[pe:pe + 4] == b"PE\0\0", path
        (self.machine, nsections, self.timestamp, self.symtab, self.nsyms,
         opt_size, self.characteristics) = struct.unpack_from("<HHIIIHH", d, pe + 4)
        if self.machine not in MACHINES:
            raise SystemExit("%s: PE machine %#x is not one of %s" % (
                path, self.machine, ", ".join("%#x" % m for m in MACHINES)))
        _, _, self.fmt, base_at, dirs_at = MACHINES[self.machine]
        self.word_size = struct.calcsize("<" + self.fmt)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", d, opt)[0]
        self.image_base = struct.unpack_from("<" + self.fmt, d, opt + base_at)[0]
        ndirs = struct.unpack_from("<I", d, opt + dirs_at)[0]
        self.dirs = [struct.unpack_from("<II", d, opt + dirs_at + 4 + 8 * i)
                     for i in range(ndirs)]
        self.sections = []
        for i in range(nsections):
            name, vsize, va, rawsize, rawptr = struct.unpack_from(
                "<8sIIII", d, opt + opt_size + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), va, vsize, rawptr, rawsize))

    def section(self, name):
        return next((s for s in self.sections if s[0] == name), None)

    def offset(self, rva):
        for _, va, vsize, rawptr, rawsize in self.sections:
            if va <= rva < va + max(vsize, rawsize):
                return rawptr + rva - va
        raise ValueError("RVA %#x is in no section" % rva)

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def word(self, rva):
        return struct.unpack_from("<" + self.fmt, self.data, self.offset(rva))[0]

    def words(self, offset, size):
        n = size // self.word_size
        return struct.unpack_from("<%d%s" % (n, self.fmt), self.data, offset)

    def cstr(self, rva):
        o = self.offset(rva)
        return self.data[o:self.data.index(b"\0", o)].decode("ascii")

    def exports(self):
        rva, size = self.dirs[0]
        if not size:
            return 0, []
        stamp = self.u32(rva + 4)
        count, names = self.u32(rva + 24), self.u32(rva + 32)
        return stamp, [self.cstr(self.u32(names + 4 * i)) for i in range(count)]

    def imports(self):
        rva, size = self.dirs[1]
        result = {}
        while size and self.u32(rva + 12):
            lookup = self.u32(rva) or self.u32(rva + 16)
            names = []
            while self.word(lookup):
                entry = self.word(lookup)
                by_ordinal = entry >> (8 * self.word_size - 1)
                names.append("#%d" % (entry & 0xFFFF) if by_ordinal
                             else self.cstr((entry & 0x7FFFFFFF) + 2))
                lookup += self.word_size
            result[self.cstr(self.u32(rva + 12))] = names
            rva += 20
        return result

    def tls(self):
        """(size of the thread-local data template, number of TLS callbacks)"""
        rva, size = self.dirs[9] if len(self.dirs) > 9 else (0, 0)
        if not size:
            return 0, 0
        start, end, _index, callbacks = struct.unpack_from(
            "<4" + self.fmt, self.data, self.offset(rva))
        count = 0
        if callbacks:
            va = callbacks - self.image_base
            while self.word(va + self.word_size * count):
                count += 1
        return end - start, count

    def crt_initialisers(self):
        """Non-null entries of the runtime's initialiser and TLS tables."""
        s = self.section(".CRT")
        if s is None:
            return 0
        return sum(1 for w in self.words(s[3], s[2]) if w)

    def constructor_lists(self):
        """Lengths of the constructor and destructor lists in .text: each is
        -1, the entries (addresses in .text), then 0, the two back to back."""
        _, va, vsize, rawptr, _ = self.section(".text")
        lo, hi = self.image_base + va, self.image_base + va + vsize
        ones = (1 << 8 * self.word_size) - 1
        words = self.words(rawptr, vsize)
        found = []
        for i, w in enumerate(words):
            if w != ones:
                continue
            lists, j = [], i
            for _ in range(2):
                if j >= len(words) or words[j] != ones:
                    break
                k = j + 1
                while k < len(words) and lo <= words[k] < hi:
                    k += 1
                if k >= len(words) or words[k] != 0:
                    break
                lists.append(k - j - 1)
                j = k + 1
            if len(lists) == 2:
                found.append(tuple(lists))
        return found


class Checks:
    def __init__(self):
        self.passed = self.failed = 0

    def __call__(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print("FAILED:", what)


def objdump_exports(objdump, path):
    text = subprocess.run([objdump, "-p", path], check=True, capture_output=True,
                          text=True).stdout
    table = text.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) < 2:
        return []
    return re.findall(r"^\s*\[\s*\d+\]\s+(\S+)\s*$", table[1].split("\n\n", 1)[0], re.M)


def def_names(path):
    with open(path) as f:
        lines = [l.split(";")[0].strip() for l in f]
    body = lines[lines.index("EXPORTS") + 1:] if "EXPORTS" in lines else lines
    return sorted(l.split()[0] for l in body if l and not l.startswith("LIBRARY"))


def check_shipped_tclbridge(check, m, imports):
    """The shipped tclbridge binds Tcl/Tk 8.5 and says so."""
    tcl, tk = imports.get("tcl85.dll", []), imports.get("tk85.dll", [])
    check(set(imports) == {"kernel32.dll", "tcl85.dll", "tk85.dll"},
          "imports from %s, want KERNEL32.dll, tcl85.dll and tk85.dll" % sorted(imports))
    check(len(tcl) == 50 and len(set(tcl)) == 50, "50 names from tcl85.dll: %d" % len(tcl))
    check(sorted(tk) == ["Tk_GetNumMainWindows", "Tk_Init"], "tk85.dll names: %s" % tk)
    for name in ("Tcl_GetVar", "Tcl_SetVar", "Tcl_NewBooleanObj", "TclFreeObj",
                 "Tcl_NewDoubleObj", "Tcl_NewWideIntObj", "Tcl_CreateInterp", "Tcl_Free"):
        check(name in tcl, "%s imported from tcl85.dll" % name)
    done_in_module = {"Tcl_IncrRefCount", "Tcl_DecrRefCount", "get_tcl_version",
                      "get_tk_version"}
    check(not done_in_module & set(tcl + tk), "imports of the module's own entries: %s"
          % sorted(done_in_module & set(tcl + tk)))
    check(m.data.count(b"\x008.5\x00") >= 1 and b"\x008.6\x00" not in m.data,
          'the version text "8.5" and no "8.6"')


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--objdump", required=True)
    ap.add_argument("--machine", required=True, type=lambda v: int(v, 0),
                    choices=sorted(MACHINES))
    ap.add_argument("--name", required=True)
    ap.add_argument("--module", required=True)
    ap.add_argument("--empty", required=True)
    ap.add_argument("--library", action="append", default=[])
    ap.add_argument("--objects", nargs="*", default=[])
    ap.add_argument("--shipped-tclbridge", action="store_true")
    args = ap.parse_args()
    check = Checks()
    m, empty = PE(args.module), PE(args.empty)

    kind, magic = MACHINES[args.machine][:2]
    check(m.machine == args.machine and m.magic == magic,
          "an image for %s: machine %#x, magic %#x" % (kind, m.machine, m.magic))
    check(m.characteristics & 0x2000, "a DLL")
    check(m.timestamp == 0, "no time stamp in the header")
    check(m.symtab == 0 and m.nsyms == 0, "no symbol table")
    # Imports are bound when the DLL is loaded: nothing is loaded later.
    for index, what in ((2, "resources"), (6, "debug data"), (13, "delay-loaded imports"),
                        (14, "managed code")):
        check(len(m.dirs) <= index or m.dirs[index][1] == 0, "no " + what)

    want = sorted(["_cffi_kivoinit_" + args.name, "PyInit_" + args.name])
    stamp, exports = m.exports()
    check(sorted(exports) == want, "exports %s, want %s" % (exports, want))
    check(stamp == 0, "no time stamp in the export table")
    listed = objdump_exports(args.objdump, args.module)
    check(sorted(listed) == want, "objdump lists the exports %s" % listed)

    libraries = {}
    for pair in args.library:
        dll, _, def_file = pair.partition("=")
        libraries[dll.lower()] = def_names(def_file)
    imports = {dll.lower(): names for dll, names in m.imports().items()}
    by_ordinal = sorted("%s!%s" % (dll, n) for dll, names in imports.items()
                        for n in names if n.startswith("#"))
    check(not by_ordinal, "imports by ordinal: %s" % by_ordinal)
    extra = set(imports) - RUNTIME_DLLS
    check(extra == set(libraries), "imports from %s beyond the runtime, want %s"
          % (sorted(extra), sorted(libraries)))
    for dll, names in libraries.items():
        got = sorted(imports.get(dll, []))
        check(got == names, "imports from %s: %s beyond %s; %s missing" % (
            dll, sorted(set(got) - set(names)), dll, sorted(set(names) - set(got))))

    # The standard attach routine: thread notifications off, no TLS.
    check(len(m.dirs) > 9 and m.dirs[9] == (0, 0), "no TLS directory: %s" % (m.dirs[9:10],))
    check(m.tls() == (0, 0), "no thread-local data or TLS callbacks: %s" % (m.tls(),))
    check("DisableThreadLibraryCalls" in imports.get("kernel32.dll", []),
          "DisableThreadLibraryCalls imported from KERNEL32.dll")
    check(m.crt_initialisers() == empty.crt_initialisers(),
          "runtime initialiser tables: %d entries, the empty DLL %d"
          % (m.crt_initialisers(), empty.crt_initialisers()))
    lists, empty_lists = m.constructor_lists(), empty.constructor_lists()
    check(len(empty_lists) == 1, "one constructor list in the empty DLL: %s" % empty_lists)
    check(lists == empty_lists, "constructor and destructor lists %s as in the empty DLL %s"
          % (lists, empty_lists))
    for obj in args.objects:
        headers = subprocess.run([args.objdump, "-h", obj], check=True,
                                 capture_output=True, text=True).stdout
        names = re.findall(r"^\s*\d+\s+(\S+)", headers, re.M)
        own = [n for n in names if START_UP_SECTION.match(n)]
        check(not own, "%s brings start-up sections %s" % (obj, own))

    if args.shipped_tclbridge:
        check_shipped_tclbridge(check, m, imports)

    print("check_pe %s: %d passed, %d failed" % (args.name, check.passed, check.failed))
    return 1 if check.failed else 0


if __name__ == "__main__":
    sys.exit(main())

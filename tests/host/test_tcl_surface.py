"""The declaration surface of tclbridge as the host reads it from the raw
type context: constants through their getters, the order and kinds of the
globals, the struct, field and typename entries, and the version texts."""
import os
import re

import pytest

import kivohost
from cffi import cffi_opcode as op

CONSTANTS = {
    "HAVE_LIBTOMMATH": 0, "HAVE_WIDE_INT_TYPE": 1, "TCL_DONT_WAIT": 2,
    "TCL_ERROR": 1, "TCL_EVAL_DIRECT": 0x40000, "TCL_EVAL_GLOBAL": 0x20000,
    "TCL_EXCEPTION": 8, "TCL_GLOBAL_ONLY": 1, "TCL_LEAVE_ERR_MSG": 0x200,
    "TCL_OK": 0, "TCL_READABLE": 2, "TCL_WRITABLE": 4,
}


def names(tclbridge):
    return [n.decode() for n, _ in tclbridge.globals()]


def test_constant_getters_store_the_value_and_the_sign_flag(tclbridge):
    r = kivohost.records()
    found = {}
    for name, g in tclbridge.globals():
        if kivohost.word(g.type_op)[0] != op.OP_CONSTANT_INT:
            continue
        getter = r.cast("int(*)(unsigned long long *)", g.address)
        for fill in (0, 2 ** 64 - 1):          # every bit is written
            out = r.new("unsigned long long *", fill)
            flag = getter(out)
            found[name.decode()] = out[0]
            assert flag == (1 if out[0] == 0 else 0), name
    assert found == CONSTANTS
    # and the backend reads the same values
    assert {n: getattr(tclbridge.lib, n) for n in CONSTANTS} == CONSTANTS


def test_globals_order_and_kinds(tclbridge):
    order = names(tclbridge)
    assert len(order) == 67
    assert order[:12] == sorted(CONSTANTS)
    assert order[order.index("TCL_WRITABLE") + 1] == "Tcl_CreateCommand"
    assert order[order.index("Tk_Init") + 1] == "get_tcl_version"
    assert order[-2:] == ["get_tcl_version", "get_tk_version"]
    assert sum(n.startswith("Tcl_") for n in order) == 51
    assert sum(n.startswith("Tk_") for n in order) == 2
    kinds = {}
    for name, g in tclbridge.globals():
        code = kivohost.word(g.type_op)[0]
        kinds.setdefault(code, set()).add(name.decode())
    assert kinds[op.OP_CPYTHON_BLTN_N] == {
        "Tcl_CreateInterp", "Tcl_GetCurrentThread", "Tk_GetNumMainWindows",
        "get_tcl_version", "get_tk_version"}
    assert len(kinds[op.OP_CPYTHON_BLTN_O]) == 18
    assert len(kinds[op.OP_CPYTHON_BLTN_V]) == 32


def mapping(address):
    """(permissions, file) of the mapping that holds the address."""
    with open("/proc/self/maps") as f:
        for line in f:
            parts = line.split()
            lo, hi = (int(x, 16) for x in parts[0].split("-"))
            if lo <= address < hi:
                return parts[1], (parts[5] if len(parts) > 5 else "")
    raise AssertionError("%#x is not mapped" % address)


def test_every_entry_is_the_modules_own(tclbridge):
    # forwards included: the host never gets Tcl's or Tk's addresses
    r = kivohost.records()
    for name, g in tclbridge.globals():
        _, where = mapping(int(r.cast("uintptr_t", g.address)))
        assert os.path.samefile(where, tclbridge.path), name


def word_of(tclbridge, index):
    return kivohost.word(tclbridge.words[index])


def test_struct_union_entries(tclbridge):
    ffi = tclbridge.ffi
    unknown, computed = 2 ** (8 * ffi.sizeof("size_t")) - 1, 2 ** (8 * ffi.sizeof("size_t")) - 2
    got = {n.decode(): (s.flags, s.size, s.alignment, s.first_field_index, s.num_fields)
           for n, s in tclbridge.struct_unions()}
    assert got == {
        "$$Tcl_Command": (16, unknown, -1, -1, 0),
        "$$Tcl_ThreadId": (16, unknown, -1, -1, 0),
        "$1": (3, computed, -2, 5, 3),
        "$2": (2, computed, -2, 8, 2),
        "$Tcl_Interp": (16, unknown, -1, -1, 0),
        "Tcl_Obj": (0, ffi.sizeof("Tcl_Obj"), ffi.alignof("Tcl_Obj"), 0, 4),
        "Tcl_ObjType": (0, ffi.sizeof("Tcl_ObjType"), ffi.alignof("Tcl_ObjType"), 4, 1),
    }
    # each entry's slot says STRUCT_UNION with the entry's own index
    for i, (name, s) in enumerate(tclbridge.struct_unions()):
        assert word_of(tclbridge, s.type_index) == (op.OP_STRUCT_UNION, i), name


def test_field_entries(tclbridge):
    ffi, r, c = tclbridge.ffi, kivohost.records(), tclbridge.context
    unknown = 2 ** (8 * ffi.sizeof("size_t")) - 1
    fields = [(r.string(c.fields[i].name).decode(), c.fields[i].field_offset,
               c.fields[i].field_size) for i in range(10)]
    named = [("Tcl_Obj", f) for f in ("bytes", "length", "typePtr", "internalRep")]
    named.append(("Tcl_ObjType", "name"))
    assert fields[:5] == [(f, ffi.offsetof(s, f),
                           ffi.sizeof(dict(ffi.typeof(s).fields)[f].type))
                          for s, f in named]
    assert fields[5:] == [(f, unknown, unknown) for f in
                          ("longValue", "doubleValue", "twoPtrValue", "ptr1", "ptr2")]


def test_typenames(tclbridge):
    tn = {n.decode(): i for n, i in tclbridge.typenames()}
    assert list(tn) == ["ClientData", "Tcl_CmdDeleteProc", "Tcl_CmdProc",
                        "Tcl_Command", "Tcl_Interp", "Tcl_Obj", "Tcl_ObjType",
                        "Tcl_ThreadId", "Tcl_UniChar", "Tcl_WideInt"]
    assert word_of(tclbridge, tn["Tcl_UniChar"]) == (op.OP_PRIMITIVE, op.PRIM_USHORT)
    assert word_of(tclbridge, tn["Tcl_WideInt"]) == (op.OP_PRIMITIVE, op.PRIM_INT64)
    code, target = word_of(tclbridge, tn["ClientData"])
    assert code == op.OP_POINTER
    assert word_of(tclbridge, target) == (op.OP_PRIMITIVE, op.PRIM_VOID)
    # function types, not pointers to them
    for name in ("Tcl_CmdProc", "Tcl_CmdDeleteProc"):
        assert word_of(tclbridge, tn[name])[0] == op.OP_FUNCTION
    # handles: pointers to the opaque entries named after them
    structs = [n.decode() for n, _ in tclbridge.struct_unions()]
    for name in ("Tcl_Command", "Tcl_ThreadId"):
        code, pointee = word_of(tclbridge, tn[name])
        assert code == op.OP_POINTER
        assert word_of(tclbridge, pointee) == (op.OP_STRUCT_UNION,
                                               structs.index("$$" + name))
    assert word_of(tclbridge, tn["Tcl_Interp"]) == (
        op.OP_STRUCT_UNION, structs.index("$Tcl_Interp"))


def test_the_two_unichar_pointers_are_distinct_slots(tclbridge):
    # one of them points to const: equal words, separate slots
    ffi = tclbridge.ffi
    arg = ffi.typeof(tclbridge.function("Tcl_NewUnicodeObj")).args[0]
    result = ffi.typeof(tclbridge.function("Tcl_GetUnicode")).result
    assert arg is result is ffi.typeof("Tcl_UniChar *")
    ushort = [i for i, w in enumerate(tclbridge.words)
              if kivohost.word(w) == (op.OP_PRIMITIVE, op.PRIM_USHORT)]
    pointers = [i for i, w in enumerate(tclbridge.words)
                if kivohost.word(w)[0] == op.OP_POINTER and kivohost.word(w)[1] in ushort]
    assert len(pointers) == 2


def loaded_library_version(stem):
    with open("/proc/self/maps") as f:
        found = set(re.findall(r"/lib%s(\d+\.\d+)\.so" % stem, f.read()))
    assert len(found) == 1, found
    return found.pop()


@pytest.mark.parametrize("getter, library", [("get_tcl_version", "tcl"),
                                             ("get_tk_version", "tk")])
def test_version_texts(tcl, getter, library):
    fn = getattr(tcl, getter)
    first = fn()
    assert all(fn() == first for _ in range(3))        # the same pointer
    perms, where = mapping(int(tcl.ffi.cast("uintptr_t", first)))
    assert "w" not in perms and os.path.samefile(where, tcl.module.path)
    text = tcl.ffi.string(first).decode()
    # the headers of the build and the library the module loaded agree
    assert text == loaded_library_version(library)


def test_tcl_version_is_the_interpreters(tcl, interp):
    assert tcl.ffi.string(tcl.get_tcl_version()).decode() == \
        tcl.ok(interp, "info tclversion")

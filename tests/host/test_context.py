"""The type context as the host reads it, for every module built."""
import ctypes

import pytest

import cffi_decls
import kivohost
from cffi import cffi_opcode as op

# What each module declares, counted by kind.
EXPECTED = {
    "_samplekit": dict(num_types=44, runs=6, num_globals=9, num_struct_unions=0,
                       num_typenames=1, fields=False),
    "tclbridge": dict(num_types=206, runs=46, num_globals=67, num_struct_unions=7,
                      num_typenames=10, fields=True),
}
MODULES = [name for name in EXPECTED if kivohost.find_module(name)]
INDEXED_OPS = {op.OP_POINTER, op.OP_ARRAY, op.OP_OPEN_ARRAY, op.OP_FUNCTION,
               op.OP_NOOP, op.OP_TYPENAME}


@pytest.fixture(scope="module", params=MODULES)
def module(request):
    return kivohost.Module(request.param)


def declarations(name):
    return cffi_decls.read(kivohost.declarations_path(name))


def declared_names(name):
    decls = declarations(name)
    return sorted(list(decls.functions) + list(decls.constants))


def test_init_stores_version_and_context_whatever_the_slots_held(module):
    for fill in (0, 0xDEADBEEF, 2**64 - 1):
        slots = (ctypes.c_uint64 * 2)(fill, fill)
        result = kivohost.call_init(module.cdll, module.name, slots)
        assert result is None
        assert slots[0] == 0x2601
        assert slots[1] == module.context_address


def test_init_touches_only_two_slots(module):
    slots = (ctypes.c_uint64 * 4)(1, 2, 3, 4)
    kivohost.call_init(module.cdll, module.name, slots)
    assert list(slots[2:]) == [3, 4]


def test_pyinit_returns_null(module):
    pyinit = getattr(module.cdll, "PyInit_" + module.name)
    pyinit.restype = ctypes.c_void_p
    pyinit.argtypes = []
    assert pyinit() is None


def test_counts_and_unused_arrays(module):
    c, want = module.context, EXPECTED[module.name]
    r = kivohost.records()
    assert c.num_types == want["num_types"]
    assert c.num_globals == want["num_globals"] == len(declared_names(module.name))
    assert c.num_struct_unions == want["num_struct_unions"]
    assert c.num_typenames == want["num_typenames"]
    assert c.num_enums == 0 and c.enums == r.NULL
    assert c.includes == r.NULL
    assert c.flags == 0
    assert (c.fields != r.NULL) == want["fields"]
    assert (c.struct_unions != r.NULL) == bool(want["num_struct_unions"])


def test_names_are_strictly_ascending_bytes(module):
    for names in ([n for n, _ in module.globals()],
                  [n for n, _ in module.typenames()],
                  [n for n, _ in module.struct_unions()]):
        assert all(a < b for a, b in zip(names, names[1:])), names
    assert [n.decode() for n, _ in module.globals()] == declared_names(module.name)


def params_of_run(words, index):
    assert kivohost.word(words[index])[0] == op.OP_FUNCTION
    count = 0
    while kivohost.word(words[index + 1 + count])[0] != op.OP_FUNCTION_END:
        count += 1
    return count


def test_function_runs_come_first_then_the_other_types(module):
    words = module.words
    i, runs = 0, 0
    while i < len(words) and kivohost.word(words[i])[0] == op.OP_FUNCTION:
        end = i + 1 + params_of_run(words, i)
        assert kivohost.word(words[end]) == (op.OP_FUNCTION_END, 0)
        i, runs = end + 1, runs + 1
    assert runs == EXPECTED[module.name]["runs"]
    for w in words[i:]:
        assert kivohost.word(w)[0] not in (op.OP_FUNCTION, op.OP_FUNCTION_END)


def test_globals_entries(module):
    r = kivohost.records()
    decls = declarations(module.name)
    for name, g in module.globals():
        code, arg = kivohost.word(g.type_op)
        if name.decode() in decls.constants:
            assert int(r.cast("uintptr_t", g.type_op)) == (
                2 ** (8 * r.sizeof("void *")) - 0xE1)   # CONSTANT_INT, arg -1
            assert g.size_or_direct_fn == r.NULL
            assert g.address != r.NULL
            continue
        tp = decls.functions[name.decode()]
        nparams = params_of_run(module.words, arg)
        assert nparams == len(tp.args)
        assert code == {0: op.OP_CPYTHON_BLTN_N, 1: op.OP_CPYTHON_BLTN_O}.get(
            nparams, op.OP_CPYTHON_BLTN_V), name
        assert g.address == g.size_or_direct_fn != r.NULL


def test_every_slot_index_is_in_range(module):
    c = module.context
    for i, w in enumerate(module.words):
        code, arg = kivohost.word(w)
        if code in INDEXED_OPS:
            assert 0 <= arg < c.num_types, i
        elif code == op.OP_STRUCT_UNION:
            assert 0 <= arg < c.num_struct_unions, i
    for name, index in module.typenames():
        assert 0 <= index < c.num_types, name
    for name, s in module.struct_unions():
        assert 0 <= s.type_index < c.num_types, name
        assert kivohost.word(module.words[s.type_index])[0] == op.OP_STRUCT_UNION
    for name, g in module.globals():
        code, arg = kivohost.word(g.type_op)
        if code != op.OP_CONSTANT_INT:
            assert 0 <= arg < c.num_types, name
    for i in range(sum(s.num_fields for _, s in module.struct_unions())):
        code, arg = kivohost.word(c.fields[i].field_type_op)
        assert code == op.OP_NOOP and 0 <= arg < c.num_types


def mapping_of(address):
    with open("/proc/self/maps") as f:
        for line in f:
            span, perms = line.split()[:2]
            lo, hi = (int(x, 16) for x in span.split("-"))
            if lo <= address < hi:
                return perms
    raise AssertionError("address %#x is not mapped" % address)


def test_tables_are_read_only_and_types_writable(module):
    r, c = kivohost.records(), module.context
    address = lambda p: int(r.cast("uintptr_t", p))
    assert "w" not in mapping_of(module.context_address)
    for table in (c.globals, c.typenames, c.fields, c.struct_unions):
        if table != r.NULL:
            assert "w" not in mapping_of(address(table))
    assert "w" in mapping_of(address(c.types))


def test_every_declared_name_is_visible_with_its_declared_type(module):
    decls = declarations(module.name)
    assert sorted(dir(module.lib)) == declared_names(module.name)
    for name, tp in decls.functions.items():
        got = module.ffi.typeof(module.function(name))
        assert got.kind == "function"
        # The declared type, spelled as declared (typedef names, const,
        # `int...` types) and read by the host against the module's own
        # typedefs and structs, is the very type the entry has.
        assert got is module.ffi.typeof(tp._get_c_name()), name

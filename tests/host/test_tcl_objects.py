"""Tcl objects through tclbridge: every constructor with a round trip, the
declared fields of Tcl_Obj and Tcl_ObjType read where the host reads them,
lists, Tcl_Merge and Tcl_SplitList."""
import math

import pytest

OK, ERROR = 0, 1


@pytest.fixture
def held(tcl):
    """held(obj) takes a reference that is dropped after the test."""
    objects = []

    def hold(obj):
        assert obj != tcl.ffi.NULL
        tcl.Tcl_IncrRefCount(obj)
        objects.append(obj)
        return obj
    yield hold
    for obj in reversed(objects):
        tcl.Tcl_DecrRefCount(obj)


def type_name(tcl, obj):
    if obj.typePtr == tcl.ffi.NULL:
        return None
    return tcl.ffi.string(obj.typePtr.name).decode()


# -- layout ----------------------------------------------------------------------

def test_layout_is_the_headers(tcl):
    # Tcl's Tcl_Obj: int refCount, char *bytes, int length, a type pointer
    # and a two-pointer union; Tcl_ObjType: a name and four function
    # pointers. In the natural layout of this target that is:
    ffi = tcl.ffi
    p = ffi.sizeof("void *")
    assert ffi.sizeof("Tcl_Obj") == 6 * p and ffi.alignof("Tcl_Obj") == 8
    assert [ffi.offsetof("Tcl_Obj", f) for f in
            ("bytes", "length", "typePtr", "internalRep")] == [p, 2 * p, 3 * p, 4 * p]
    assert ffi.sizeof("Tcl_ObjType") == 5 * p
    assert ffi.offsetof("Tcl_ObjType", "name") == 0
    assert ffi.typeof("Tcl_WideInt") is ffi.typeof("int64_t")
    assert ffi.typeof("Tcl_UniChar") is ffi.typeof("unsigned short")
    assert ffi.typeof("ClientData") is ffi.typeof("void *")


def raw(tcl, obj, ctype, offset):
    """The value of type `ctype` at byte `offset` of the object."""
    ffi = tcl.ffi
    return ffi.cast(ctype + " *", ffi.cast("char *", obj) + offset)[0]


def test_fields_hold_tcls_own_values(tcl, held):
    ffi = tcl.ffi
    p = ffi.sizeof("void *")
    s = held(tcl.Tcl_NewStringObj(b"hello, world", 5))
    assert raw(tcl, s, "char *", p) == s.bytes
    assert ffi.string(s.bytes) == b"hello"
    assert s.length == raw(tcl, s, "int", 2 * p) == 5
    assert s.typePtr == raw(tcl, s, "void *", 3 * p) == ffi.NULL
    # Tcl_GetString hands out the string representation itself
    assert tcl.Tcl_GetString(s) == s.bytes

    n = held(tcl.Tcl_NewLongObj(-123456))
    assert n.bytes == ffi.NULL    # no string form until one is asked for
    assert n.internalRep.longValue == raw(tcl, n, "long", 4 * p) == -123456
    assert ffi.string(tcl.Tcl_GetString(n)) == b"-123456"
    assert n.bytes != ffi.NULL and n.length == 7
    assert n.typePtr == tcl.Tcl_GetObjType(b"int")
    assert raw(tcl, n, "void *", 3 * p) == n.typePtr
    assert ffi.string(ffi.cast("char **", n.typePtr)[0]) == b"int"   # name at 0

    d = held(tcl.Tcl_NewDoubleObj(0.1))
    assert d.internalRep.doubleValue == raw(tcl, d, "double", 4 * p) == 0.1
    assert type_name(tcl, d) == "double"

    items = ffi.new("Tcl_Obj *[]", [s, n])
    lst = held(tcl.Tcl_NewListObj(2, items))
    assert type_name(tcl, lst) == "list"
    assert lst.internalRep.twoPtrValue.ptr1 == raw(tcl, lst, "void *", 4 * p) != ffi.NULL


@pytest.mark.parametrize("name", ["int", "double", "list", "bytearray", "string",
                                  "boolean", "dict", "cmdName"])
def test_registered_types_by_name(tcl, name):
    t = tcl.Tcl_GetObjType(name.encode())
    assert t != tcl.ffi.NULL
    assert tcl.ffi.string(t.name).decode() == name
    assert tcl.Tcl_GetObjType(name.encode()) == t


def test_unknown_type_name_gives_null(tcl):
    assert tcl.Tcl_GetObjType(b"no such type") == tcl.ffi.NULL


# -- constructors -------------------------------------------------------------

WIDE = [0, 1, -1, 2 ** 31, -(2 ** 31) - 1, 2 ** 32, 2 ** 40 + 5, -(2 ** 40) - 5,
        2 ** 63 - 1, -(2 ** 63)]


def test_wide_integers_keep_all_64_bits(tcl, interp, held):
    out = tcl.ffi.new("Tcl_WideInt *")
    for value in WIDE:
        obj = held(tcl.Tcl_NewWideIntObj(value))
        assert tcl.Tcl_GetWideIntFromObj(interp, obj, out) == OK
        assert out[0] == value
        assert tcl.text(obj) == str(value).encode()
        # and from Tcl's side: the same number in an expression
        tcl.Tcl_SetVar2Ex(interp, b"w", tcl.ffi.NULL, obj, 0)
        assert tcl.ok(interp, "expr {$w == %d}" % value) == "1"


def test_wide_integer_failures(tcl, interp, held):
    out = tcl.ffi.new("Tcl_WideInt *", 77)
    for text, message in ((b"abc", 'expected integer but got "abc"'),
                          (b"18446744073709551616", "integer value too large to represent"),
                          (b"1.5", 'expected integer but got "1.5"')):
        obj = held(tcl.Tcl_NewStringObj(text, -1))
        assert tcl.Tcl_GetWideIntFromObj(interp, obj, out) == ERROR
        assert tcl.result(interp) == message
    assert out[0] == 77


@pytest.mark.parametrize("value", [0, -1, 1, 2 ** 31 - 1, -(2 ** 31)])
def test_long_objects(tcl, interp, held, value):
    obj = held(tcl.Tcl_NewLongObj(value))
    assert obj.internalRep.longValue == value
    assert tcl.text(obj) == str(value).encode()
    out = tcl.ffi.new("Tcl_WideInt *")
    assert tcl.Tcl_GetWideIntFromObj(interp, obj, out) == OK and out[0] == value


@pytest.mark.parametrize("value", [0.1, -0.0, 1.0 / 3, 1e308, 5e-324, -2.5e-10,
                                   math.inf, -math.inf])
def test_doubles_keep_every_bit(tcl, held, value):
    obj = held(tcl.Tcl_NewDoubleObj(value))
    got = obj.internalRep.doubleValue
    assert got == value and math.copysign(1, got) == math.copysign(1, value)
    text = tcl.text(obj).decode()
    # Tcl writes the shortest text that reads back as the same double
    assert float(text.replace("Inf", "inf")) == value


def test_double_nan(tcl, held):
    obj = held(tcl.Tcl_NewDoubleObj(math.nan))
    assert math.isnan(obj.internalRep.doubleValue)
    assert tcl.text(obj) == b"NaN"


@pytest.mark.parametrize("value, expected", [(0, 0), (1, 1), (5, 1), (-1, 1),
                                             (-(2 ** 31), 1)])
def test_boolean_objects(tcl, interp, held, value, expected):
    obj = held(tcl.Tcl_NewBooleanObj(value))
    out = tcl.ffi.new("int *")
    assert tcl.Tcl_GetBooleanFromObj(interp, obj, out) == OK
    assert out[0] == expected
    assert tcl.text(obj) == str(expected).encode()


def test_boolean_from_text(tcl, interp, held):
    out = tcl.ffi.new("int *")
    for text, value in ((b"yes", 1), (b"off", 0), (b"true", 1), (b"0", 0), (b"2", 1)):
        assert tcl.Tcl_GetBooleanFromObj(interp, held(tcl.Tcl_NewStringObj(text, -1)), out) == OK
        assert out[0] == value
    bad = held(tcl.Tcl_NewStringObj(b"perhaps", -1))
    assert tcl.Tcl_GetBooleanFromObj(interp, bad, out) == ERROR
    assert tcl.result(interp) == 'expected boolean value but got "perhaps"'


@pytest.mark.parametrize("data", [b"", b"\0", b"a\0b\0\0c", bytes(range(256)),
                                  bytes(range(255, -1, -1)) * 3],
                         ids=["empty", "nul", "nuls", "all-bytes", "all-bytes-x3"])
def test_byte_arrays_with_nul_bytes(tcl, held, data):
    ffi = tcl.ffi
    buffer = ffi.new("unsigned char[]", data or b"\0")
    obj = held(tcl.Tcl_NewByteArrayObj(buffer, len(data)))
    length = ffi.new("int *")
    got = tcl.Tcl_GetByteArrayFromObj(obj, length)
    assert length[0] == len(data)
    assert bytes(ffi.buffer(got, len(data))) == data
    assert got != buffer      # Tcl keeps its own copy
    assert tcl.Tcl_GetCharLength(obj) == len(data)
    assert type_name(tcl, obj) == "bytearray"


def test_string_objects(tcl, held):
    text = "h\u00e9llo w\u00f6rld \u20ac".encode()
    whole = held(tcl.Tcl_NewStringObj(text, -1))        # -1: up to the NUL
    assert tcl.text(whole) == text
    assert tcl.Tcl_GetCharLength(whole) == 13
    part = held(tcl.Tcl_NewStringObj(b"abcdef", 3))
    assert tcl.text(part) == b"abc"
    length = tcl.ffi.new("int *")
    assert tcl.ffi.string(tcl.Tcl_GetStringFromObj(part, length)) == b"abc"
    assert length[0] == 3
    assert tcl.text(held(tcl.Tcl_NewStringObj(b"", 0))) == b""


@pytest.mark.parametrize("text", ["", "plain", "h\u00e9llo w\u00f6rld \u20ac",
                                  "\u4e2d\u6587 \uffef \u0001"])
def test_unicode_objects(tcl, held, text):
    ffi = tcl.ffi
    units = [ord(c) for c in text]
    source = ffi.new("Tcl_UniChar[]", units + [0])
    for length in (len(units), -1):       # explicit, or up to the 0 unit
        obj = held(tcl.Tcl_NewUnicodeObj(source, length))
        assert tcl.Tcl_GetCharLength(obj) == len(units)
        got = tcl.Tcl_GetUnicode(obj)
        assert list(ffi.unpack(got, len(units) + 1)) == units + [0]
        assert tcl.text(obj) == text.encode()


def test_unicode_of_a_string_object(tcl, held):
    obj = held(tcl.Tcl_NewStringObj("\u00e9t\u00e9".encode(), -1))
    assert list(tcl.ffi.unpack(tcl.Tcl_GetUnicode(obj), 3)) == [0xE9, 0x74, 0xE9]


# -- lists -----------------------------------------------------------------------

WORDS = ["#first", "a", "b c", "{", "}", "", "\\", "$x", "[cmd]", 'quote"',
         "tab\there", "new\nline", "{a b}", "\u00e9"]


def word_objects(tcl, words):
    return tcl.ffi.new("Tcl_Obj *[]", [tcl.Tcl_NewStringObj(w.encode(), -1)
                                       for w in words])


def test_list_objects(tcl, interp, held):
    ffi = tcl.ffi
    objv = word_objects(tcl, WORDS)
    lst = held(tcl.Tcl_NewListObj(len(WORDS), objv))
    # the list holds a reference to each element
    assert [raw(tcl, o, "int", 0) for o in objv] == [1] * len(WORDS)

    count = ffi.new("int *")
    assert tcl.Tcl_ListObjLength(interp, lst, count) == OK
    assert count[0] == len(WORDS)
    element = ffi.new("Tcl_Obj **")
    for i in range(len(WORDS)):
        assert tcl.Tcl_ListObjIndex(interp, lst, i, element) == OK
        assert element[0] == objv[i]
    for outside in (-1, len(WORDS), 1 << 30):
        element[0] = objv[0]
        assert tcl.Tcl_ListObjIndex(interp, lst, outside, element) == OK
        assert element[0] == ffi.NULL
    elements = ffi.new("Tcl_Obj ***")
    assert tcl.Tcl_ListObjGetElements(interp, lst, count, elements) == OK
    assert count[0] == len(WORDS)
    assert [elements[0][i] for i in range(count[0])] == list(objv)

    # its text is what Tcl's own list command makes of the same words
    tcl.Tcl_SetVar2Ex(interp, b"l", ffi.NULL, lst, 0)
    tcl.ok(interp, "set words {}")
    for w in WORDS:
        tcl.Tcl_SetVar2Ex(interp, b"w", ffi.NULL, tcl.Tcl_NewStringObj(w.encode(), -1), 0)
        tcl.ok(interp, "lappend words $w")
    assert tcl.ok(interp, "string equal $l $words") == "1"


def test_empty_list(tcl, interp, held):
    lst = held(tcl.Tcl_NewListObj(0, tcl.ffi.NULL))
    count = tcl.ffi.new("int *", 9)
    assert tcl.Tcl_ListObjLength(interp, lst, count) == OK and count[0] == 0
    assert tcl.text(lst) == b""


def test_list_from_text_and_failures(tcl, interp, held):
    ffi = tcl.ffi
    text = held(tcl.Tcl_NewStringObj(b"a {b c} d", -1))
    count = ffi.new("int *")
    assert tcl.Tcl_ListObjLength(interp, text, count) == OK and count[0] == 3
    element = ffi.new("Tcl_Obj **")
    assert tcl.Tcl_ListObjIndex(interp, text, 1, element) == OK
    assert tcl.text(element[0]) == b"b c"

    bad = held(tcl.Tcl_NewStringObj(b"a {b", -1))
    count[0] = 5
    assert tcl.Tcl_ListObjLength(interp, bad, count) == ERROR
    assert tcl.result(interp) == "unmatched open brace in list"
    assert count[0] == 5
    elements = ffi.new("Tcl_Obj ***")
    assert tcl.Tcl_ListObjGetElements(interp, bad, count, elements) == ERROR
    assert tcl.Tcl_ListObjIndex(interp, bad, 0, element) == ERROR
    assert tcl.Tcl_ListObjLength(ffi.NULL, bad, count) == ERROR


def split(tcl, interp, text):
    ffi = tcl.ffi
    count, argv = ffi.new("int *"), ffi.new("char ***")
    code = tcl.Tcl_SplitList(interp, ffi.new("char[]", text), count,
                             ffi.cast("const char ***", argv))
    if code != OK:
        return code, None
    words = [ffi.string(argv[0][i]) for i in range(count[0])]
    assert argv[0][count[0]] == ffi.NULL      # the vector ends with NULL
    tcl.Tcl_Free(argv[0])
    return code, words


@pytest.mark.parametrize("words", [WORDS, [], [""], ["one"], ["a b", "c"],
                                   [chr(c) for c in range(1, 128)]],
                         ids=["special", "none", "empty", "one", "two", "ascii"])
def test_merge_and_split_round_trip(tcl, interp, words):
    ffi = tcl.ffi
    strings = [ffi.new("char[]", w.encode()) for w in words]
    argv = ffi.new("char *[]", strings or 1)
    merged = tcl.Tcl_Merge(len(words), argv)
    text = ffi.string(merged)
    tcl.Tcl_Free(merged)
    assert split(tcl, interp, text) == (OK, [w.encode() for w in words])
    # Tcl_Merge quotes as a list does
    lst = tcl.Tcl_NewListObj(len(words), word_objects(tcl, words))
    tcl.Tcl_IncrRefCount(lst)
    assert tcl.text(lst) == text
    tcl.Tcl_DecrRefCount(lst)


def test_split_list_failures(tcl, interp):
    for text, message in ((b"a {b", "unmatched open brace in list"),
                          (b'a "b', "unmatched open quote in list"),
                          (b"{a}b", "list element in braces followed by \"b\" "
                                    "instead of space")):
        assert split(tcl, interp, text) == (ERROR, None)
        assert tcl.result(interp) == message

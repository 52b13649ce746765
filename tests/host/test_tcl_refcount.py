"""Tcl_IncrRefCount and Tcl_DecrRefCount, which the module does itself: the
count at offset 0 of the object, and the call of TclFreeObj when it drops to
zero or below.

The freeing call is observed by a TclFreeObj that ctest preloads ahead of Tcl
(tests/freeobj_recorder.cpp): it notes the object and the count it carried,
then lets Tcl free it. The module binds TclFreeObj by name at load time, so
this watches the shipped module, and no test reads a freed object.
"""
import ctypes

import pytest


class Recorder:
    def __init__(self, lib):
        self.lib = lib
        lib.kivo_freeobj_object.restype = ctypes.c_void_p
        lib.kivo_freeobj_object.argtypes = [ctypes.c_int]
        lib.kivo_freeobj_count.argtypes = [ctypes.c_int]

    def reset(self):
        self.lib.kivo_freeobj_reset()

    def calls(self):
        """(address, count at the call) of each call since the reset."""
        n = self.lib.kivo_freeobj_calls()
        assert n <= 16
        return [(self.lib.kivo_freeobj_object(i), self.lib.kivo_freeobj_count(i))
                for i in range(n)]


@pytest.fixture(scope="module")
def recorder():
    scope = ctypes.CDLL(None)     # what the dynamic linker binds names to
    if not hasattr(scope, "kivo_freeobj_calls"):
        pytest.fail("the TclFreeObj recorder is not preloaded; run this file "
                    "through ctest, which puts it in LD_PRELOAD")
    return Recorder(scope)


def address(tcl, obj):
    return int(tcl.ffi.cast("uintptr_t", obj))


def count(tcl, obj):
    return tcl.ffi.cast("int *", obj)[0]


def new_obj(tcl):
    obj = tcl.Tcl_NewStringObj(b"counted", -1)
    assert count(tcl, obj) == 0
    return obj


def test_the_recorder_is_the_tclfreeobj_that_gets_bound(recorder, tclbridge):
    # with Tcl loaded (by the module), the name still means the recorder
    scope = ctypes.CDLL(None)
    assert ctypes.cast(scope.TclFreeObj, ctypes.c_void_p).value == \
        ctypes.cast(recorder.lib.TclFreeObj, ctypes.c_void_p).value


@pytest.mark.parametrize("start", [1, 2, 3, 100])
def test_decrement_from_a_held_count(tcl, recorder, start):
    obj = new_obj(tcl)
    for _ in range(start):
        tcl.Tcl_IncrRefCount(obj)
    assert count(tcl, obj) == start
    recorder.reset()
    for expected in range(start - 1, 0, -1):
        tcl.Tcl_DecrRefCount(obj)
        assert count(tcl, obj) == expected
    assert recorder.calls() == []          # still referenced: nothing freed
    tcl.Tcl_DecrRefCount(obj)              # 1 -> 0: freed, exactly once
    assert recorder.calls() == [(address(tcl, obj), 0)]


def test_decrement_of_a_fresh_object_frees_it_at_minus_one(tcl, recorder):
    obj = new_obj(tcl)
    recorder.reset()
    tcl.Tcl_DecrRefCount(obj)
    assert recorder.calls() == [(address(tcl, obj), -1)]


def test_increment_then_decrement_of_a_fresh_object(tcl, recorder):
    obj = new_obj(tcl)
    recorder.reset()
    tcl.Tcl_IncrRefCount(obj)
    assert count(tcl, obj) == 1
    assert recorder.calls() == []
    tcl.Tcl_DecrRefCount(obj)
    assert recorder.calls() == [(address(tcl, obj), 0)]


def test_freeing_a_list_is_one_call_for_the_list(tcl, recorder):
    ffi = tcl.ffi
    a, b = new_obj(tcl), new_obj(tcl)
    tcl.Tcl_IncrRefCount(b)                # b outlives the list
    lst = tcl.Tcl_NewListObj(2, ffi.new("Tcl_Obj *[]", [a, b]))
    tcl.Tcl_IncrRefCount(lst)
    assert (count(tcl, a), count(tcl, b)) == (1, 2)
    recorder.reset()
    tcl.Tcl_DecrRefCount(lst)
    calls = recorder.calls()
    # The module's call frees the list; Tcl then releases the elements itself
    # and frees `a`, whose last reference the list held.
    assert calls[0] == (address(tcl, lst), 0)
    assert calls[1:] == [(address(tcl, a), 0)]
    assert count(tcl, b) == 1
    tcl.Tcl_DecrRefCount(b)


def test_only_the_count_changes(tcl, recorder):
    ffi = tcl.ffi
    obj = tcl.Tcl_NewWideIntObj(-(2 ** 40))
    tcl.Tcl_GetString(obj)                 # give it every field
    size = ffi.sizeof("Tcl_Obj")
    before = bytes(ffi.buffer(obj, size))
    tcl.Tcl_IncrRefCount(obj)
    tcl.Tcl_IncrRefCount(obj)
    after = bytes(ffi.buffer(obj, size))
    assert after[4:] == before[4:]
    assert int.from_bytes(after[:4], "little", signed=True) == 2
    tcl.Tcl_DecrRefCount(obj)
    assert bytes(ffi.buffer(obj, size))[4:] == before[4:]
    recorder.reset()
    tcl.Tcl_DecrRefCount(obj)
    assert len(recorder.calls()) == 1


@pytest.mark.parametrize("start, op, end", [
    (5, "Tcl_IncrRefCount", 6),
    (5, "Tcl_DecrRefCount", 4),
    (-7, "Tcl_IncrRefCount", -6),
    # neither clamped nor trapped: the count wraps like the 32-bit word
    (2 ** 31 - 1, "Tcl_IncrRefCount", -(2 ** 31)),
    (-(2 ** 31), "Tcl_DecrRefCount", 2 ** 31 - 1),
])
def test_counts_on_host_memory(tcl, recorder, start, op, end):
    # An object laid out by the host: only counts that stay above zero are
    # used, so Tcl is never asked to free it.
    fake = tcl.ffi.new("Tcl_Obj *")
    tcl.ffi.cast("int *", fake)[0] = start
    recorder.reset()
    getattr(tcl, op)(fake)
    assert tcl.ffi.cast("int *", fake)[0] == end
    assert recorder.calls() == []


def test_null_objects_are_left_alone(tcl, recorder):
    recorder.reset()
    tcl.Tcl_IncrRefCount(tcl.ffi.NULL)
    tcl.Tcl_DecrRefCount(tcl.ffi.NULL)
    assert recorder.calls() == []

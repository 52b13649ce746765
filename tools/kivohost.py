"""Load a module of this project the way the host does.

The host calls the module's init export with an array of two pointer slots,
takes the type context from slot 1, and hands it to CFFI's backend as an
out-of-line API-mode module. CPython's `_cffi_backend` can do the same, which
gives a real CFFI client's view of the module (`.ffi`, `.lib`). The raw
context is also readable, through CFFI's own record definitions.
"""
import ctypes
import glob
import math
import os

import _cffi_backend
import cffi

CONTEXT_VERSION = 0x2601
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

_records = None


def records():
    """An FFI that knows the records of parse_c_type.h (from the cffi package)."""
    global _records
    if _records is None:
        path = os.path.join(os.path.dirname(cffi.__file__), "parse_c_type.h")
        with open(path) as f:
            text = f.read().split("#ifdef _CFFI_INTERNAL")[0]
        text = "\n".join(line for line in text.splitlines()
                         if not line.lstrip().startswith("#"))
        _records = cffi.FFI()
        _records.cdef(text)
    return _records


def lib_dir():
    return os.environ.get("KIVO_LIB_DIR") or os.path.join(ROOT, "build", "lib")


def module_path(name, directory=None):
    matches = sorted(glob.glob(os.path.join(directory or lib_dir(),
                                            name + ".kivo3-510-*.so")))
    if not matches:
        raise FileNotFoundError("no built module %s in %s"
                                % (name, directory or lib_dir()))
    return matches[0]


def find_module(name, directory=None):
    """The path of the built module `name`, or None when it is not built."""
    try:
        return module_path(name, directory)
    except FileNotFoundError:
        return None


def ratecv_output_frames(phase, nframes, rate_in, rate_out):
    """How many frames one ratecv call writes, so that its output can be sized:
    with P = phase + nframes * rate_out', floor(P / rate_in') + 1 when P >= 0,
    else none (the rates reduced by their gcd)."""
    g = math.gcd(rate_in, rate_out)
    p = phase + nframes * (rate_out // g)
    return p // (rate_in // g) + 1 if p >= 0 else 0


def call_init(cdll, name, slots):
    init = getattr(cdll, "_cffi_kivoinit_" + name)
    init.restype = ctypes.c_void_p
    init.argtypes = [ctypes.c_void_p]
    return init(slots)


class Module:
    """A module loaded through the host path."""

    def __init__(self, name, path=None):
        self.name = name
        self.path = path or module_path(name)
        self.cdll = ctypes.CDLL(self.path)
        slots = (ctypes.c_void_p * 2)()
        call_init(self.cdll, name, slots)
        self.version, self.context_address = slots[0], slots[1]
        self.context = records().cast("struct _cffi_type_context_s *",
                                      self.context_address)
        # The backend caches the types it builds in the (writable) types
        # array, so the words are read before the backend sees the context.
        self.words = [int(records().cast("uintptr_t", self.context.types[i]))
                      for i in range(self.context.num_types)]
        # What the backend takes: [name, version, exports buffer, context].
        # The buffers stay referenced for as long as the module lives.
        self._name_buffer = ctypes.create_string_buffer(name.encode())
        self._exports = (ctypes.c_void_p * 64)()
        self._raw = (ctypes.c_void_p * 4)(
            ctypes.addressof(self._name_buffer), CONTEXT_VERSION,
            ctypes.addressof(self._exports), self.context_address)
        module = _cffi_backend._init_cffi_1_0_external_module(
            ctypes.addressof(self._raw))
        self.ffi, self.lib = module.ffi, module.lib

    def function(self, name):
        """The function pointer that the globals entry of `name` gives."""
        return self.ffi.addressof(self.lib, name)

    # -- raw context -----------------------------------------------------------
    def globals(self):
        r, c = records(), self.context
        return [(r.string(c.globals[i].name), c.globals[i])
                for i in range(c.num_globals)]

    def typenames(self):
        r, c = records(), self.context
        return [(r.string(c.typenames[i].name), c.typenames[i].type_index)
                for i in range(c.num_typenames)]

    def struct_unions(self):
        r, c = records(), self.context
        return [(r.string(c.struct_unions[i].name), c.struct_unions[i])
                for i in range(c.num_struct_unions)]



def word(value):
    """A type word (an int or a cdata pointer) as (op, signed argument)."""
    if not isinstance(value, int):
        value = int(records().cast("uintptr_t", value))
    arg = value >> 8
    if arg >= 1 << (8 * ctypes.sizeof(ctypes.c_void_p) - 9):
        arg -= 1 << (8 * ctypes.sizeof(ctypes.c_void_p) - 8)
    return value & 0xFF, arg


def read_declarations(name):
    """The text of a module's declaration list."""
    folder = {"_samplekit": "samplekit", "tclbridge": "tclbridge"}[name]
    with open(os.path.join(ROOT, folder, folder + ".cdef")) as f:
        return f.read()

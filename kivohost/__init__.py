"""Load a module of this project the way the host does.

The host calls the module's init export with an array of two pointer slots,
takes the format version from slot 0 and the type context from slot 1, and
hands both to CFFI's backend as an out-of-line API-mode module (the backend
refuses a format it does not know). CPython's `_cffi_backend` can do the same, which
gives a real CFFI client's view of the module (`.ffi`, `.lib`). The raw
context is also readable, through CFFI's own record definitions.

`Module.lib` offers every declared name: functions as callables that go
straight to their direct-call entries (`lib.st_14linear2ulaw(1000)`) and
constants as integers. They check nothing that the routines do not check.
"""
import ctypes
import json
import os

import _cffi_backend
import cffi

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Written by every build: the file and the declaration list of each module.
BUILD_FACTS = "kivo_modules.json"

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


def build_dir():
    """The build whose modules are loaded: $KIVO_BUILD_DIR, else build/."""
    return os.environ.get("KIVO_BUILD_DIR") or os.path.join(ROOT, "build")


def built_modules(directory=None):
    """{module name: {"file": path, "declarations": path}} of a build; empty
    when it has not been configured."""
    path = os.path.join(directory or build_dir(), BUILD_FACTS)
    try:
        with open(path) as f:
            return json.load(f)["modules"]
    except FileNotFoundError:
        return {}


class NotBuilt(FileNotFoundError):
    """A module that the build has not made, or no build at all."""


def not_built(name=None, directory=None):
    """One line for those who run something before the build."""
    return ("no built module%s in %s: build the modules first with tools/run main "
            "(or cmake --workflow --preset default)"
            % (" " + name if name else "", directory or build_dir()))


def module_path(name, directory=None):
    path = built_modules(directory).get(name, {}).get("file")
    if not path or not os.path.exists(path):
        raise NotBuilt(not_built(name, directory))
    return path


def find_module(name, directory=None):
    """The path of the built module `name`, or None when it is not built."""
    try:
        return module_path(name, directory)
    except FileNotFoundError:
        return None


def call_init(cdll, name, slots):
    init = getattr(cdll, "_cffi_kivoinit_" + name)
    init.restype = ctypes.c_void_p
    init.argtypes = [ctypes.c_void_p]
    return init(slots)


class Library:
    """The declarations of a module as a caller uses them: each function is
    the pointer to its direct-call entry, called with plain C arguments; each
    constant is its value.

    The backend's own `lib` is not handed out: for a function it builds a
    CPython builtin around the globals entry's address, which here is the
    plain C entry, so calling it would crash the process."""

    def __init__(self, ffi, backend_lib):
        for name in dir(backend_lib):
            value = getattr(backend_lib, name)
            if not isinstance(value, int):
                value = ffi.addressof(backend_lib, name)
            setattr(self, name, value)

    def __dir__(self):
        return sorted(self.__dict__)

    def __repr__(self):
        return "<declarations: %s>" % ", ".join(dir(self))


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
            ctypes.addressof(self._name_buffer), self.version,
            ctypes.addressof(self._exports), self.context_address)
        module = _cffi_backend._init_cffi_1_0_external_module(
            ctypes.addressof(self._raw))
        self.ffi, self.lib = module.ffi, Library(module.ffi, module.lib)

    def function(self, name):
        """The function pointer that the globals entry of `name` gives."""
        return getattr(self.lib, name)

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


def declarations_path(name, directory=None):
    """The declaration list a built module was derived from."""
    return built_modules(directory)[name]["declarations"]


def read_declarations(name, directory=None):
    """The text of a module's declaration list."""
    with open(declarations_path(name, directory)) as f:
        return f.read()

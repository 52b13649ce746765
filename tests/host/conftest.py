import os
import sys

import pytest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
# The host loader, the one reader of declaration lists, and the Xvfb starter.
sys.path[:0] = [ROOT, os.path.join(ROOT, "frame", "generator"), os.path.join(ROOT, "tools")]
import kivohost  # noqa: E402


@pytest.fixture(scope="session")
def samplekit():
    return kivohost.Module("_samplekit")


@pytest.fixture(scope="session")
def tclbridge():
    return kivohost.Module("tclbridge")


class Tcl:
    """The functions of tclbridge as the host calls them: through the
    pointers of their globals entries (`tcl.Tcl_Eval(interp, b"...")`)."""

    def __init__(self, module):
        self.module, self.ffi, self.lib = module, module.ffi, module.lib
        self._functions = {}

    def __getattr__(self, name):
        if name.startswith(("Tcl_", "Tk_", "get_")):
            if name not in self._functions:
                self._functions[name] = self.module.function(name)
            return self._functions[name]
        raise AttributeError(name)

    def result(self, interp):
        return self.ffi.string(self.Tcl_GetStringResult(interp)).decode()

    def eval(self, interp, script):
        """(result code, result text) of a script."""
        code = self.Tcl_Eval(interp, script.encode())
        return code, self.result(interp)

    def ok(self, interp, script):
        code, text = self.eval(interp, script)
        assert code == self.lib.TCL_OK, text
        return text

    def run_pending(self):
        """Handles events until none is ready; returns how many were handled."""
        handled = 0
        while self.Tcl_DoOneEvent(self.lib.TCL_DONT_WAIT):
            handled += 1
            assert handled < 100000, "events keep coming"
        return handled

    def text(self, obj):
        length = self.ffi.new("int *")
        data = self.Tcl_GetStringFromObj(obj, length)
        return self.ffi.unpack(data, length[0])


@pytest.fixture(scope="session")
def tcl(tclbridge):
    api = Tcl(tclbridge)
    # Once per process, before any interpreter: Tcl finds its encodings and
    # script library from here.
    api.Tcl_FindExecutable(api.ffi.NULL)
    return api


@pytest.fixture
def interp(tcl):
    """A fresh interpreter with Tcl's script library loaded."""
    ip = tcl.Tcl_CreateInterp()
    assert ip != tcl.ffi.NULL
    code = tcl.Tcl_Init(ip)
    assert code == tcl.lib.TCL_OK, tcl.result(ip)
    yield ip
    tcl.Tcl_DeleteInterp(ip)

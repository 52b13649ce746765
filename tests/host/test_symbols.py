"""What the built modules export, need and run at load."""
import os
import re
import subprocess

import pytest

import cffi_decls
import kivohost

MODULES = ["_samplekit", "tclbridge"]
SANITIZED = os.environ.get("KIVO_SANITIZED") == "1"
# The libraries each module may need at load time, and those it must need.
ALLOWED_NEEDED = {"_samplekit": {"libc.so.6"},
                  "tclbridge": {"libc.so.6", "libtcl8.6.so", "libtk8.6.so"}}
REQUIRED_NEEDED = {"_samplekit": set(),
                   "tclbridge": {"libtcl8.6.so", "libtk8.6.so"}}
# tclbridge's entries that do their work in the module and import nothing
# of their own name.
TCLBRIDGE_OWN = {"Tcl_IncrRefCount", "Tcl_DecrRefCount", "get_tcl_version",
                 "get_tk_version"}


def run(*cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


@pytest.mark.parametrize("name", [m for m in MODULES if kivohost.find_module(m)])
def test_exports_exactly_the_two_entries(name):
    path = kivohost.module_path(name)
    names = [line.split()[-1] for line in
             run("nm", "-D", "--defined-only", path).splitlines() if line.strip()]
    assert sorted(names) == sorted(["_cffi_kivoinit_" + name, "PyInit_" + name])
    for line in run("nm", "-D", "--defined-only", path).splitlines():
        assert line.split()[1] == "T"   # both are functions


@pytest.mark.skipif(SANITIZED, reason="a sanitized build needs its runtime")
@pytest.mark.parametrize("name", [m for m in MODULES if kivohost.find_module(m)])
def test_needs_only_the_c_runtime(name):
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]",
                        run("readelf", "-d", kivohost.module_path(name)))
    assert REQUIRED_NEEDED[name] <= set(needed) <= ALLOWED_NEEDED[name], needed
    undefined = run("nm", "-D", "--undefined-only", kivohost.module_path(name))
    assert "GLIBCXX" not in undefined and "CXXABI" not in undefined


@pytest.mark.skipif(not kivohost.find_module("tclbridge"), reason="tclbridge not built")
def test_tclbridge_imports_exactly_the_library_functions():
    functions = set(cffi_decls.read(kivohost.declarations_path("tclbridge")).functions)
    assert TCLBRIDGE_OWN <= functions
    expected = (functions - TCLBRIDGE_OWN) | {"TclFreeObj"}
    assert len(expected) == 52
    imports = set()
    for line in run("nm", "-D", "--undefined-only",
                    kivohost.module_path("tclbridge")).splitlines():
        kind, symbol = line.split()[-2:]
        if kind != "w":   # weak references of the toolchain's start-up files
            imports.add(symbol)
    if SANITIZED:
        # The instrumentation brings imports of its own (its runtime, libc,
        # the C++ type information of its function checks); the names taken
        # from Tcl and Tk must still be exactly these.
        imports = {i for i in imports if i.startswith(("Tcl", "Tk"))}
    assert imports == expected


def start_up_sections(path):
    sections = {}
    for line in run("readelf", "-SW", path).splitlines():
        m = re.match(r"\s*\[\s*\d+\]\s+(\S+)\s+\S+\s+\S+\s+\S+\s+([0-9a-f]+)", line)
        if m and m.group(1) in (".init_array", ".fini_array", ".preinit_array",
                                ".ctors", ".dtors", ".tbss", ".tdata"):
            sections[m.group(1)] = int(m.group(2), 16)
    return sections


@pytest.mark.skipif(SANITIZED, reason="sanitizers add start-up code of their own")
@pytest.mark.parametrize("name", [m for m in MODULES if kivohost.find_module(m)])
def test_no_start_up_code_of_its_own(name):
    empty = os.environ["KIVO_EMPTY_MODULE"]
    assert start_up_sections(kivohost.module_path(name)) == start_up_sections(empty)
    # The same holds for the entries themselves, not only their count.
    def init_entries(path):
        dump = run("objdump", "-s", "-j", ".init_array", path)
        return len(re.findall(r"^ [0-9a-f]+ ", dump, re.M))
    assert init_entries(kivohost.module_path(name)) == init_entries(empty)

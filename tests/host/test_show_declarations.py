"""The declarations listing, reconstructed from the type context alone, equals
the declaration list."""
import os
import re
import subprocess
import sys

import pytest

import cffi_decls
import kivohost
from kivohost import show_declarations


def listing_of_declarations(name, text=None, values=None):
    # The declaration list read by CFFI's parser, printed by the same printer.
    # `values` gives the constants declared as `...` (their value is in the
    # library's header, not in the list).
    decls = cffi_decls.Declarations(text or kivohost.read_declarations(name), name)
    ref = decls.ffi
    typedefs, structs, unions = ref.list_types()
    names = sorted(list(decls.functions) + list(decls.constants),
                   key=lambda n: n.encode())
    constants = [(n, decls.constants[n]) for n in names if n in decls.constants]
    constants = [(n, values[n] if v is None else v) for n, v in constants]
    functions = [(n, ref.typeof(decls.functions[n].get_c_name()))
                 for n in names if n in decls.functions]
    return show_declarations.listing(ref, typedefs, structs, unions, constants,
                                  functions)


def test_samplekit_listing_equals_the_declaration_list(samplekit):
    got = show_declarations.host_listing(samplekit)
    assert got == listing_of_declarations("_samplekit")
    assert "typedef short PyInt16;" in got
    assert "unsigned char st_14linear2ulaw(short);" in got


def test_tool_prints_every_built_module():
    out = subprocess.run([sys.executable, "-m", "kivohost.show_declarations"],
                         cwd=kivohost.ROOT, check=True, capture_output=True,
                         text=True).stdout
    assert "/* _samplekit: _samplekit.kivo3-510-" in out
    assert "short st_ulaw2linear16(unsigned char);" in out
    if kivohost.find_module("tclbridge"):
        assert "/* tclbridge: tclbridge.kivo3-510-" in out
        assert "Tcl_Interp *Tcl_CreateInterp(void);" in out


def without_layout(listing, records):
    """The listing with the numbers in the layout comments of `records`
    (e.g. "struct Tcl_Obj") replaced by '?'."""
    out, inside = [], False
    for line in listing.splitlines():
        if any(line.startswith(r + " {") for r in records):
            inside = True
        if inside:
            line = re.sub(r"/\*.*\*/",
                          lambda m: re.sub(r"\d+", "?", m.group()), line)
        if line == "};":
            inside = False
        out.append(line)
    return "\n".join(out) + "\n"


def test_tclbridge_listing_equals_the_declaration_list(tclbridge):
    from test_tcl_surface import CONSTANTS
    text = kivohost.read_declarations("tclbridge")
    partial = ["struct Tcl_Obj", "struct Tcl_ObjType"]
    assert text.count("...;") == len(partial)
    # What the host sees but the list leaves to the header: the width of
    # Tcl_WideInt (64-bit signed here), the values of the `...` constants, and
    # the real layout of the partial structs (checked in test_tcl_objects).
    reference = listing_of_declarations(
        "tclbridge", text.replace("int...", "int64_t").replace("...;", ""),
        CONSTANTS)
    got = show_declarations.host_listing(tclbridge)
    assert without_layout(got, partial) == without_layout(reference, partial)
    for line in ("typedef ... Tcl_Interp;", "typedef ... *Tcl_Command;",
                 "typedef struct Tcl_Obj Tcl_Obj;", "typedef int64_t Tcl_WideInt;",
                 "typedef int Tcl_CmdProc(void *, Tcl_Interp *, int, char **);",
                 "Tcl_Command Tcl_CreateCommand(Tcl_Interp *, char *, Tcl_CmdProc *, "
                 "void *, Tcl_CmdDeleteProc *);",
                 "#define TCL_EVAL_DIRECT 262144",
                 "    union $1 internalRep;  /* offset %d */"
                 % tclbridge.ffi.offsetof("Tcl_Obj", "internalRep")):
        assert line in got.splitlines()


@pytest.mark.parametrize("name", ["_samplekit", "tclbridge"])
def test_listing_equals_the_reviewed_golden_listing(name):
    # The golden listing beside each declaration list is the native build's
    # surface as people review it; a change of the surface or of the listing's
    # format changes that file in the same commit.
    if not kivohost.find_module(name):
        pytest.skip("%s not built" % name)
    golden = os.path.splitext(kivohost.declarations_path(name))[0] + ".listing"
    with open(golden) as f:
        expected = f.read()
    assert show_declarations.module_listing(kivohost.Module(name)) == expected

"""The declarations listing, reconstructed from the type context alone, equals
the declaration list."""
import os
import re
import subprocess
import sys

import cffi

import show_declarations
import kivohost


def listing_of_declarations(name, text=None, values=None):
    # The declaration list read by CFFI's parser, printed by the same printer.
    # `values` gives the constants declared as `...` (their value is in the
    # library's header, not in the list).
    ref = cffi.FFI()
    ref.cdef(text or kivohost.read_declarations(name))
    decls = ref._parser._declarations
    typedefs, structs, unions = ref.list_types()
    names = sorted((k.split(" ", 1)[1] for k in decls
                    if k.startswith(("function ", "macro "))),
                   key=lambda n: n.encode())
    constants = [(n, decls["macro " + n][0]) for n in names
                 if "macro " + n in decls]
    constants = [(n, values[n] if v == "..." else v) for n, v in constants]
    functions = [(n, ref.typeof(decls["function " + n][0].get_c_name()))
                 for n in names if "function " + n in decls]
    return show_declarations.listing(ref, typedefs, structs, unions, constants,
                                  functions)


def test_samplekit_listing_equals_the_declaration_list(samplekit):
    got = show_declarations.host_listing(samplekit)
    assert got == listing_of_declarations("_samplekit")
    assert "typedef short PyInt16;" in got
    assert "unsigned char st_14linear2ulaw(short);" in got


def test_tool_prints_every_built_module():
    tool = os.path.join(kivohost.ROOT, "tools", "show_declarations.py")
    out = subprocess.run([sys.executable, tool], check=True,
                         capture_output=True, text=True).stdout
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

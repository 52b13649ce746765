"""The inspector's listing, reconstructed from the type context alone, equals
the declaration list."""
import os
import subprocess
import sys

import cffi

import inspect_module
import kivohost


def listing_of_declarations(name):
    # The declaration list read by CFFI's parser, printed by the same printer.
    ref = cffi.FFI()
    ref.cdef(kivohost.read_declarations(name))
    decls = ref._parser._declarations
    typedefs, structs, unions = ref.list_types()
    names = sorted((k.split(" ", 1)[1] for k in decls
                    if k.startswith(("function ", "macro "))),
                   key=lambda n: n.encode())
    constants = [(n, decls["macro " + n][0]) for n in names
                 if "macro " + n in decls]
    functions = [(n, ref.typeof(decls["function " + n][0].get_c_name()))
                 for n in names if "function " + n in decls]
    return inspect_module.listing(ref, typedefs, structs, unions, constants,
                                  functions)


def test_samplekit_listing_equals_the_declaration_list(samplekit):
    got = inspect_module.host_listing(samplekit)
    assert got == listing_of_declarations("_samplekit")
    assert "typedef short PyInt16;" in got
    assert "unsigned char st_14linear2ulaw(short);" in got


def test_tool_prints_every_built_module():
    tool = os.path.join(kivohost.ROOT, "tools", "inspect_module.py")
    out = subprocess.run([sys.executable, tool], check=True,
                         capture_output=True, text=True).stdout
    assert "/* _samplekit: _samplekit.kivo3-510-" in out
    assert "short st_ulaw2linear16(unsigned char);" in out

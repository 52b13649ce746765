#!/usr/bin/python3
"""Write the export lists (.def) of the libraries a module imports from, for
making import libraries where no SDK of those libraries exists.

The imported names are the functions of the declaration list that the module
forwards (every declared function not named by --own) plus the --extra names
that its own entries call. Each name goes to the library whose prefix it
starts with (PREFIX:DLL=DEF), or else to the library given without a prefix.

Example: gen_imports.py --cdef tclbridge.cdef --own Tcl_IncrRefCount
         --extra TclFreeObj --library tcl85.dll=tcl85.def
         --library Tk_:tk85.dll=tk85.def
"""
import argparse
import os
import sys

from cffi_decls import DeclarationError, read


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--cdef", required=True)
    ap.add_argument("--own", action="append", default=[],
                    help="declared function the module does itself")
    ap.add_argument("--extra", action="append", default=[],
                    help="undeclared library function the module calls")
    ap.add_argument("--library", action="append", required=True,
                    help="[PREFIX:]DLL=DEF: where names go and the list to write")
    args = ap.parse_args()
    try:
        decls = read(args.cdef)
    except DeclarationError as error:
        sys.exit(str(error))
    functions = set(decls.functions)
    unknown = sorted(set(args.own) - functions)
    if unknown:
        sys.exit(str(decls.error(", ".join(unknown), "named by --own but not declared")))
    names = sorted((functions - set(args.own)) | set(args.extra))

    libraries, default = [], None
    for pair in args.library:
        route, _, def_file = pair.partition("=")
        prefix, _, dll = route.rpartition(":")
        libraries.append((prefix, dll, def_file, []))
        if not prefix:
            default = libraries[-1]
    if default is None:
        sys.exit("one --library needs no prefix")
    for name in names:
        lib = next((l for l in libraries if l[0] and name.startswith(l[0])), default)
        lib[3].append(name)

    for _prefix, dll, def_file, lib_names in libraries:
        text = "\n".join(
            ["; Generated from %s; do not edit." % os.path.basename(args.cdef),
             "LIBRARY %s" % dll, "EXPORTS"] +
            ["    %s" % n for n in lib_names]) + "\n"
        os.makedirs(os.path.dirname(os.path.abspath(def_file)), exist_ok=True)
        with open(def_file, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Write what a module's declaration list says its type context must hold,
as a C++ header for the Windows stand-in host: the declared functions and
constants sorted by name with their parameter counts, the type names, and the
number of distinct function types (one run of type slots each), counting
those that function typedefs and function pointers bring in."""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "..", "frame", "generator"))
from cffi_decls import model, read  # noqa: E402


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--cdef", required=True)
    ap.add_argument("--namespace", required=True)
    ap.add_argument("--output", required=True)
    args = ap.parse_args()
    decls = read(args.cdef)
    globals_, typenames, runs = [], [], set()

    # Every distinct function type gets a run: those of the functions, of
    # function typedefs, and of function pointers among their types.
    def visit(tp):
        if isinstance(tp, model.FunctionPtrType):
            tp = tp.as_raw_function()
        if isinstance(tp, model.RawFunctionType):
            if tp in runs:
                return
            runs.add(tp)
            for t in list(tp.args) + [tp.result]:
                visit(t)
        elif isinstance(tp, model.PointerType):
            visit(tp.totype)
        elif isinstance(tp, model.StructOrUnion):
            for t in tp.fldtypes or ():
                visit(t)

    for name, tp in decls.functions.items():
        globals_.append((name, len(tp.args)))
        visit(tp)
    globals_ += [(name, -1) for name in decls.constants]
    for name, tp in decls.typedefs.items():
        typenames.append(name)
        visit(tp)
    by_bytes = lambda n: n.encode("ascii")
    globals_.sort(key=lambda g: by_bytes(g[0]))
    typenames.sort(key=by_bytes)
    out = ["// Generated from %s; do not edit." % args.cdef.split("/")[-1],
           "#pragma once", "", "namespace %s {" % args.namespace, "",
           "// Declared functions (their parameter count) and constants (-1).",
           "inline constexpr ::standin::DeclaredGlobal globals[] = {"]
    out += ['    {"%s", %d},' % g for g in globals_]
    out += ["};", "inline constexpr const char *typenames[] = {"]
    out += ['    "%s",' % t for t in typenames] or ["    nullptr,"]
    out += ["};",
            "inline constexpr int num_typenames = %d;" % len(typenames),
            "inline constexpr int function_runs = %d;" % len(runs), "",
            "}  // namespace %s" % args.namespace, ""]
    text = "\n".join(out)
    try:
        with open(args.output) as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    with open(args.output, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()

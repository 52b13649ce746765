#!/usr/bin/python3
"""Print the declarations of built modules as the host sees them.

Each module is loaded through the host path (see kivohost.py) and its
declarations are reconstructed from the type context alone: type names,
structs and unions with their fields, integer constants with their values and
function prototypes, in C syntax.

usage: inspect_module.py [MODULE_FILE | MODULE_NAME]...
With no argument, every module found in the build's lib folder is listed.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import kivohost  # noqa: E402

MODULE_NAMES = ("_samplekit", "tclbridge")


def declare(ct, declarator):
    """C declaration of `declarator` with the backend type `ct`."""
    def wrapped(d):
        return "(%s)" % d if d.startswith("*") else d
    if ct.kind == "pointer":
        return declare(ct.item, "*" + declarator)
    if ct.kind == "array":
        length = "" if ct.length is None else ct.length
        return declare(ct.item, "%s[%s]" % (wrapped(declarator), length))
    if ct.kind == "function":   # the backend's function types are pointers
        return declare(ct.result, "(*%s)(%s)" % (declarator, parameters(ct)))
    return ("%s %s" % (ct.cname, declarator)).rstrip()


def parameters(fn):
    params = [declare(a, "") for a in fn.args]
    if fn.ellipsis:
        params.append("...")
    return ", ".join(params) or "void"


def prototype(name, fn):
    return declare(fn.result, "%s(%s)" % (name, parameters(fn))) + ";"


def typedef_line(ffi, name):
    try:
        return "typedef %s;" % declare(ffi.typeof(name), name)
    except Exception:
        # a name for a function type, which the backend offers only as a pointer
        fn = ffi.typeof(name + " *")
        return "typedef %s" % prototype(name, fn)


def record_lines(ffi, keyword, name, shown):
    ct = ffi.typeof("%s %s" % (keyword, name))
    if ct.fields is None:
        return ["%s %s;  /* opaque */" % (keyword, name)]
    lines = ["%s %s {  /* size %d, alignment %d */"
             % (keyword, name, ffi.sizeof(ct), ffi.alignof(ct))]
    nested = []
    for fname, field in ct.fields:
        lines.append("    %s;  /* offset %d */"
                     % (declare(field.type, fname), field.offset))
        if field.type.kind in ("struct", "union") and field.type.cname not in shown:
            shown.add(field.type.cname)
            nested.append(field.type.cname.split(" ", 1))
    lines.append("};")
    for kw, nm in nested:
        lines += record_lines(ffi, kw, nm, shown)
    return lines


def listing(ffi, typedefs, structs, unions, constants, functions):
    """Declarations in C syntax. `constants` are (name, value) pairs and
    `functions` are (name, function-pointer ctype) pairs."""
    lines = [typedef_line(ffi, name) for name in typedefs]
    shown = set()
    for keyword, names in (("struct", structs), ("union", unions)):
        for name in names:
            shown.add("%s %s" % (keyword, name))
            lines += record_lines(ffi, keyword, name, shown)
    lines += ["#define %s %d" % (name, value) for name, value in constants]
    lines += [prototype(name, fn) for name, fn in functions]
    return "\n".join(lines) + "\n"


def host_listing(module):
    ffi, lib = module.ffi, module.lib
    typedefs, structs, unions = ffi.list_types()
    constants, functions = [], []
    for name, _ in module.globals():   # in the context's own order
        name = name.decode()
        value = getattr(lib, name)
        if isinstance(value, int):
            constants.append((name, value))
        else:
            functions.append((name, ffi.typeof(module.function(name))))
    return listing(ffi, typedefs, structs, unions, constants, functions)


def main(argv):
    targets = argv or [n for n in MODULE_NAMES if _find(n)]
    for target in targets:
        if os.path.sep in target or target.endswith(".so"):
            path = target
            name = os.path.basename(target).split(".", 1)[0]
        else:
            name, path = target, kivohost.module_path(target)
        module = kivohost.Module(name, path)
        print("/* %s: %s */" % (name, os.path.basename(path)))
        print(host_listing(module))


def _find(name):
    try:
        return kivohost.module_path(name)
    except FileNotFoundError:
        return None


if __name__ == "__main__":
    main(sys.argv[1:])

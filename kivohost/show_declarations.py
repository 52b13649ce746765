#!/usr/bin/python3
"""Print the declarations of built modules as the host sees them.

Each module is loaded through the host path (see kivohost) and its
declarations are reconstructed from the type context alone: type names,
structs and unions with their fields, integer constants with their values and
function prototypes, in C syntax. Where a module's declaration list is at
hand, a prototype that the list spells otherwise (a typedef name such as
`PyInt16`, a `const`) is followed by the list's spelling in a comment.
"""
import argparse
import os
import sys

if not __package__:     # run as a file rather than with -m
    sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import kivohost  # noqa: E402

sys.path.insert(0, os.path.join(kivohost.ROOT, "frame", "generator"))
import cffi_decls  # noqa: E402


def declare(ct, declarator, names=None):
    """C declaration of `declarator` with the backend type `ct`. `names` maps
    the types that are best shown by a typedef's name (see typedef_names)."""
    names = names or {}
    def wrapped(d):
        return "(%s)" % d if d.startswith("*") else d
    if ct in names:
        return ("%s %s" % (names[ct], declarator)).rstrip()
    if ct.kind == "pointer":
        return declare(ct.item, "*" + declarator, names)
    if ct.kind == "array":
        length = "" if ct.length is None else ct.length
        return declare(ct.item, "%s[%s]" % (wrapped(declarator), length), names)
    if ct.kind == "function":   # the backend's function types are pointers
        return declare(ct.result, "(*%s)(%s)" % (declarator, parameters(ct, names)),
                       names)
    return ("%s %s" % (ct.cname, declarator)).rstrip()


def parameters(fn, names=None):
    params = [declare(a, "", names) for a in fn.args]
    if fn.ellipsis:
        params.append("...")
    return ", ".join(params) or "void"


def prototype(name, fn, names=None):
    return declare(fn.result, "%s(%s)" % (name, parameters(fn, names)), names) + ";"


def is_record(ct):
    return ct.kind in ("struct", "union")


def is_handle(ct):
    # A pointer to a struct of which nothing is known but the pointer
    # typedef (`typedef ... *Tcl_Command;`): its struct has no usable name.
    return (ct.kind == "pointer" and is_record(ct.item) and ct.item.fields is None
            and ct.item.cname.split(" ", 1)[-1].startswith("$$"))


def function_typedef(ffi, name):
    """The function-pointer ctype of a typedef of a function type, or None."""
    try:
        ffi.typeof(name)
        return None
    except Exception:
        # the backend offers a function type only as a pointer
        return ffi.typeof(name + " *")


def typedef_names(ffi, typedefs):
    """Types shown by a typedef's name wherever they are used: structs and
    unions that a typedef names, handles, and pointers to function types."""
    names = {}
    for name in typedefs:
        fn = function_typedef(ffi, name)
        if fn is not None:
            names.setdefault(fn, name + " *")
            continue
        ct = ffi.typeof(name)
        if is_record(ct) or is_handle(ct):
            names.setdefault(ct, name)
    return names


def typedef_line(ffi, name, names=None, tags=None):
    """`tags` maps the structs and unions that have a tag to "struct tag"."""
    tags = tags or {}
    fn = function_typedef(ffi, name)
    if fn is not None:
        return "typedef " + prototype(name, fn, names)
    ct = ffi.typeof(name)
    if is_handle(ct):
        return "typedef ... *%s;" % name
    if is_record(ct):
        if ct in tags:
            return "typedef %s %s;" % (tags[ct], name)
        if ct.fields is None:
            return "typedef ... %s;" % name
        return "typedef %s {...} %s;" % (ct.kind, name)   # listed below
    return "typedef %s;" % declare(ct, name, names)


def record_title(ct, tags):
    if ct in tags:
        return tags[ct]
    if ct.cname.startswith(ct.kind + " "):
        return ct.cname                        # a member's type: union $1
    return "%s %s" % (ct.kind, ct.cname)       # named only by its typedef


def record_lines(ffi, ct, shown, names=None, tags=None):
    tags = tags or {}
    title = record_title(ct, tags)
    if ct.fields is None:
        return ["%s;  /* opaque */" % title]
    lines = ["%s {  /* size %d, alignment %d */"
             % (title, ffi.sizeof(ct), ffi.alignof(ct))]
    nested = []
    for fname, field in ct.fields:
        lines.append("    %s;  /* offset %d */"
                     % (declare(field.type, fname, names), field.offset))
        if is_record(field.type) and field.type not in shown:
            shown.add(field.type)
            nested.append(field.type)
    lines.append("};")
    for inner in nested:
        lines += record_lines(ffi, inner, shown, names, tags)
    return lines


def listing(ffi, typedefs, structs, unions, constants, functions, spellings=None):
    """Declarations in C syntax. `constants` are (name, value) pairs and
    `functions` are (name, function-pointer ctype) pairs. `spellings` maps
    function names to their prototypes as a declaration list spells them."""
    names = typedef_names(ffi, typedefs)
    tags = {ffi.typeof("%s %s" % (keyword, name)): "%s %s" % (keyword, name)
            for keyword, group in (("struct", structs), ("union", unions))
            for name in group}
    lines = [typedef_line(ffi, name, names, tags) for name in typedefs]
    records = list(tags)
    # structs without a tag but with members, named only by their typedef
    records += [ct for ct in (ffi.typeof(n) for n in typedefs
                              if function_typedef(ffi, n) is None)
                if is_record(ct) and ct not in tags and ct.fields is not None]
    shown = set(records)
    for ct in records:
        lines += record_lines(ffi, ct, shown, names, tags)
    lines += ["#define %s %d" % (name, value) for name, value in constants]
    for name, fn in functions:
        line = prototype(name, fn, names)
        declared = (spellings or {}).get(name, line[:-1]) + ";"
        lines.append(line if declared == line else
                     "%s  /* declared: %s */" % (line, declared))
    return "\n".join(lines) + "\n"


def declared_spellings(name):
    """The prototypes as the declaration list of the built module `name`
    spells them, or None when that list is not at hand."""
    try:
        path = kivohost.declarations_path(name)
        return cffi_decls.read(path).spellings()
    except (KeyError, OSError):
        return None


def host_listing(module, spellings=None):
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
    return listing(ffi, typedefs, structs, unions, constants, functions, spellings)


def module_listing(module):
    """What the tool prints for a module: the host's view, with the
    declaration list's spelling beside it where the list is at hand."""
    return host_listing(module, declared_spellings(module.name))


def summary(module):
    """One line: what a module declares, counted from its type context."""
    lib = module.lib
    constants = sum(isinstance(getattr(lib, n), int) for n in dir(lib))
    typedefs, structs, unions = module.ffi.list_types()
    return ("%s (%s): %d functions, %d constants, %d type names, %d structs or "
            "unions" % (module.name, os.path.basename(module.path),
                        len(dir(lib)) - constants, constants, len(typedefs),
                        len(structs) + len(unions)))


def parser():
    ap = argparse.ArgumentParser(
        prog="python3 -m kivohost.show_declarations",
        description="Print the declarations of built modules as the host reads "
                    "them from their type contexts.",
        epilog="With no argument, every module of the build (build/, or "
               "$KIVO_BUILD_DIR) is listed.")
    ap.add_argument("modules", nargs="*", metavar="MODULE_NAME | MODULE_FILE",
                    help="a module name of the build (%s) or the path of a "
                         "module file" % ", ".join(sorted(kivohost.built_modules()))
                         if kivohost.built_modules() else
                         "a module name of the build or the path of a module file")
    return ap


def main(argv):
    ap = parser()
    targets = ap.parse_args(argv).modules or [
        n for n in sorted(kivohost.built_modules()) if kivohost.find_module(n)]
    if not targets:
        print("%s: %s" % (ap.prog, kivohost.not_built()), file=sys.stderr)
        return 1
    modules = []
    for target in targets:
        if os.path.sep in target or os.path.isfile(target):
            if not os.path.isfile(target):
                ap.error("%s: no such module file" % target)
            name, path = os.path.basename(target).split(".", 1)[0], target
        else:
            name, path = target, kivohost.find_module(target)
            if path is None:
                ap.error("%s: no built module of that name in %s"
                         % (target, kivohost.build_dir()))
        modules.append((name, path))
    for name, path in modules:
        try:
            module = kivohost.Module(name, path)
        except (OSError, AttributeError) as error:   # not loadable, or no init export
            ap.error("%s: not a module the host can load (%s)" % (path, error))
        print("/* %s: %s */" % (name, os.path.basename(path)))
        print(module_listing(module))


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/python3
"""Derive a module's type context from its declaration list.

The declaration list is C declaration syntax as CFFI's cdef() reads it. CFFI's
parser turns it into model types (read through cffi_decls.py); this script lays out the type slots the way
CFFI's out-of-line generator does (one run per distinct function type, then one
slot for every type not yet placed), sorts the globals, struct/union and
typename arrays by name, and writes:

  * a header with the C prototypes of every direct-call entry (and, for a
    module whose types are not taken from a library header, its typedefs), so
    the compiler checks each entry against the declaration list;
  * a C++ source with the type context and the two exports of the module.

Slot order is fixed by this script alone (sorting by the C spelling of each
type), so the output does not depend on the installed CFFI version. Numbers
that only the target's compiler knows (sizes, offsets, alignments, the width of
an `int...` type, the value of a `#define X ...`) are emitted as C++
expressions.
"""
import argparse
import os
import sys

from cffi_decls import DeclarationError, model, opcode as op, read

OP_NAME = {value: "_CFFI_OP_" + name for value, name in op.CLASS_NAME.items()}
PRIM_NAME = {value: name for name, value in vars(op).items()
             if name.startswith("PRIM_")}
GENERATED = "// Generated from the declaration list of %s; do not edit."


def opword(code, arg):
    return "_CFFI_OP(%s, %s)" % (OP_NAME[code], arg)


def byte_key(name):
    # The host searches these arrays by comparing names as unsigned bytes.
    return name.encode("ascii")


def anon_number(s):
    """n for a member's anonymous type $n, else -1."""
    return int(s.name[1:]) if s.name[1:].isdigit() else -1


class Module:
    """The tables of one module, derived from its declarations."""

    def __init__(self, name, decls, entry_prefix):
        self.name = name
        self.decls = decls
        self.entry_prefix = entry_prefix
        self.functions = decls.functions
        self.typedefs = decls.typedefs
        self.constants = decls.constants
        for fname, tp in self.functions.items():
            if tp.ellipsis:
                raise decls.error(fname, "variadic functions are not supported")
        self.structs = []       # StructOrUnion, in first-seen order
        self._collect()
        self._layout()

    # -- which types need a slot -----------------------------------------------
    def _collect(self):
        self.types = {}
        for name in sorted(self.functions):
            self._visit(self.functions[name].as_raw_function(), name)
        for name in sorted(self.typedefs):
            self._visit(self.typedefs[name], name)

    def _visit(self, tp, declaration):
        if tp in self.types:
            return
        self.types[tp] = None
        if isinstance(tp, model.FunctionPtrType):
            self._visit(tp.as_raw_function(), declaration)
        elif isinstance(tp, model.RawFunctionType):
            for arg in tp.args:
                self._visit(arg, declaration)
            self._visit(tp.result, declaration)
        elif isinstance(tp, model.PointerType):
            self._visit(tp.totype, declaration)
        elif isinstance(tp, model.StructOrUnion):
            if tp not in self.structs:
                self.structs.append(tp)
            for fname, ftype, bits in zip(tp.fldnames or (), tp.fldtypes or (),
                                          tp.fldbitsize or ()):
                if bits >= 0:
                    raise self.decls.error(declaration, "%s %s, member %s: bit fields "
                                           "are not supported" % (tp.kind, tp.name, fname))
                self._visit(ftype, declaration)
        elif not isinstance(tp, (model.PrimitiveType, model.UnknownIntegerType,
                                 model.VoidType)):
            raise self.decls.error(declaration, "type %s is not supported" % tp)

    # -- slot layout -------------------------------------------------------------
    def _layout(self):
        """One run per function type, then one slot per remaining type; the
        order is that of the types' C spelling, so it depends on nothing else."""
        ordered = sorted(self.types, key=lambda t: t._get_c_name())
        slots = []
        for tp in ordered:
            if isinstance(tp, model.RawFunctionType):
                self.types[tp] = len(slots)
                slots.append(tp)
                for arg in tp.args:
                    if self.types[arg] is None:
                        self.types[arg] = len(slots)
                    slots.append(arg)
                slots.append("END")
        self.num_runs = sum(1 for t in ordered
                            if isinstance(t, model.RawFunctionType))
        self.run_slots = len(slots)
        for tp in ordered:
            if self.types[tp] is None:
                self.types[tp] = len(slots)
                slots.append(tp)
        # struct_unions sorted by name; fields of named structs first (by name),
        # then the anonymous member types in the order the parser numbered them.
        self.struct_order = sorted(self.structs, key=lambda s: byte_key(s.name))
        self.field_order = (
            sorted((s for s in self.structs
                    if s.fldtypes is not None and anon_number(s) < 0),
                   key=lambda s: byte_key(s.name)) +
            sorted((s for s in self.structs if anon_number(s) >= 0),
                   key=anon_number))
        self.words = [None] * len(slots)
        for tp in ordered:
            self._emit(tp, self.types[tp])

    def _primitive_word(self, tp):
        if isinstance(tp, model.VoidType):
            return opword(op.OP_PRIMITIVE, "_CFFI_PRIM_VOID")
        if isinstance(tp, model.UnknownIntegerType):
            return opword(op.OP_PRIMITIVE,
                          "kivo::primitive_int_code<%s>()" % tp.name)
        return opword(op.OP_PRIMITIVE,
                      "_CFFI_" + PRIM_NAME[op.PRIMITIVE_TO_INDEX[tp.name]])

    def _emit(self, tp, index):
        if isinstance(tp, model.RawFunctionType):
            self.words[index] = (opword(op.OP_FUNCTION, self.types[tp.result]),
                                 str(tp))
            for i, arg in enumerate(tp.args, start=index + 1):
                if self.types[arg] != i:
                    if isinstance(arg, (model.PrimitiveType, model.VoidType)):
                        self.words[i] = (self._primitive_word(arg), str(arg))
                    else:
                        self.words[i] = (opword(op.OP_NOOP, self.types[arg]),
                                         str(arg))
            # argument 0: fixed parameter list, default calling convention
            self.words[index + len(tp.args) + 1] = (
                opword(op.OP_FUNCTION_END, 0), "end")
        elif isinstance(tp, (model.PrimitiveType, model.UnknownIntegerType,
                             model.VoidType)):
            self.words[index] = (self._primitive_word(tp), str(tp))
        elif isinstance(tp, model.FunctionPtrType):
            self.words[index] = (
                opword(op.OP_POINTER, self.types[tp.as_raw_function()]), str(tp))
        elif isinstance(tp, model.PointerType):
            self.words[index] = (opword(op.OP_POINTER, self.types[tp.totype]),
                                 str(tp))
        elif isinstance(tp, model.StructOrUnion):
            self.words[index] = (
                opword(op.OP_STRUCT_UNION, self.struct_order.index(tp)),
                "%s %s" % (tp.kind, tp.name))

    # -- output ------------------------------------------------------------------
    def entry(self, name):
        return self.entry_prefix + name

    def header(self, include):
        out = [GENERATED % self.name, "#pragma once", "#include <cstddef>", ""]
        if include:
            out += ["#include <%s>" % h for h in include]
        else:
            for name in sorted(self.typedefs):
                out.append("typedef %s;" % self.typedefs[name].get_c_name(
                    " " + name))
        out += ["", 'extern "C" {']
        for name in sorted(self.functions):
            out.append("%s;" % self.function_type(name, " " + self.entry(name)))
        out += ["}", ""]
        # The function types once more by name, for code that implements a
        # declared function in several forms: a form declared or pointed to
        # with one of them has the declared signature, which the compiler checks.
        out += ["// The type of each declared function.",
                "namespace %s::declared {" % self.name.lstrip("_")]
        for name in sorted(self.functions):
            out.append("using %s = %s;" % (name, self.function_type(name, "")))
        out += ["}", ""]
        return "\n".join(out)

    def function_type(self, name, declarator):
        """The C spelling of a declared function's type around `declarator`."""
        raw = self.functions[name].as_raw_function()
        params = ", ".join(a.get_c_name() for a in raw.args) or "void"
        return raw.result.get_c_name("%s(%s)" % (declarator, params))

    def forwards(self, header_name, own):
        """Direct-call entries that hand each call on to the library function
        of the declared name, for every function not in `own`."""
        unknown = sorted(set(own) - set(self.functions))
        if unknown:
            raise self.decls.error(", ".join(unknown), "named by --own but not declared")
        out = [GENERATED % self.name,
               "// Each entry passes its arguments on unchanged to the library",
               "// function of its declared name and returns that result.",
               '#include "%s"' % header_name,
               '#include "frame/forward.h"', "",
               'extern "C" {', ""]
        for name in sorted(self.functions):
            if name in own:
                continue
            raw = self.functions[name].as_raw_function()
            params = ", ".join(a.get_c_name(" a%d" % i)
                               for i, a in enumerate(raw.args)) or "void"
            args = "".join(", a%d" % i for i in range(len(raw.args)))
            # &name: a function-like macro of the same name in the library's
            # header (an alias for another function) is not expanded here.
            out += ["%s {" % raw.result.get_c_name(
                        " %s(%s)" % (self.entry(name), params)),
                    "    return kivo::forwarder<decltype(%s)>::call(&%s%s);"
                    % (self.entry(name), name, args),
                    "}", ""]
        out += ['}  // extern "C"', ""]
        return "\n".join(out)

    # -- the tables: one pass per kind ---------------------------------------------
    def types_table(self):
        out = ["// %d slots: %d in %d function runs, then %d"
               % (len(self.words), self.run_slots, self.num_runs,
                  len(self.words) - self.run_slots),
               "_cffi_opcode_t types[] = {"]
        for i, (word, what) in enumerate(self.words):
            out.append("    /* %3d */ %s,  // %s" % (i, word, what))
        return out + ["};", ""]

    def globals_table(self):
        """Functions (their direct-call entries) and integer constants (their
        getters), sorted by name. Returns (lines, count)."""
        entries = []
        for name, tp in self.functions.items():
            nargs = len(tp.args)
            code = (op.OP_CPYTHON_BLTN_N if nargs == 0 else
                    op.OP_CPYTHON_BLTN_O if nargs == 1 else op.OP_CPYTHON_BLTN_V)
            fn = "reinterpret_cast<void *>(&%s)" % self.entry(name)
            entries.append((name, '{"%s", %s, %s, %s}' % (
                name, fn, opword(code, self.types[tp.as_raw_function()]), fn)))
        for name, value in self.constants.items():
            expr = "(%s)" % (name if value is None else value)
            getter = "reinterpret_cast<void *>(&kivo::constant_getter<%s>)" % expr
            entries.append((name, '{"%s", %s, %s, nullptr}' % (
                name, getter, opword(op.OP_CONSTANT_INT, -1))))
        entries.sort(key=lambda g: byte_key(g[0]))
        if not entries:
            return [], 0
        return (["const _cffi_global_s globals[] = {"] +
                ["    %s," % g for _, g in entries] + ["};", ""], len(entries))

    def fields_table(self):
        """Members of the structs and unions that list them. Returns (lines,
        {struct: index of its first field})."""
        fields, first = [], {}
        for s in self.field_order:
            first[s] = len(fields)
            anonymous = anon_number(s) >= 0
            for fname, ftype in zip(s.fldnames, s.fldtypes):
                if anonymous:
                    offset = size = "static_cast<size_t>(-1)"
                else:
                    offset = "offsetof(%s, %s)" % (s.get_c_name(), fname)
                    size = "sizeof(%s::%s)" % (s.get_c_name(), fname)
                fields.append('{"%s", %s, %s, %s}' % (
                    fname, offset, size, opword(op.OP_NOOP, self.types[ftype])))
        if not fields:
            return [], first
        return (["const _cffi_field_s fields[] = {"] +
                ["    %s," % f for f in fields] + ["};", ""], first)

    def struct_unions_table(self, first):
        if not self.struct_order:
            return []
        out = ["const _cffi_struct_union_s struct_unions[] = {"]
        for s in self.struct_order:
            flags = []
            if isinstance(s, model.UnionType):
                flags.append("_CFFI_F_UNION")
            if s.fldtypes is None:
                flags.append("_CFFI_F_OPAQUE")
                size, align, ff, nf = "static_cast<size_t>(-1)", -1, -1, 0
            elif anon_number(s) >= 0:
                # a member's anonymous type: the host lays it out itself
                flags.append("_CFFI_F_CHECK_FIELDS")
                size, align = "static_cast<size_t>(-2)", -2
                ff, nf = first[s], len(s.fldnames)
            else:
                if not s.partial:
                    flags.append("_CFFI_F_CHECK_FIELDS")
                size = "sizeof(%s)" % s.get_c_name()
                align = "alignof(%s)" % s.get_c_name()
                ff, nf = first[s], len(s.fldnames)
            out.append('    {"%s", %d, %s, %s, %s, %d, %d},' % (
                s.name, self.types[s], "|".join(flags) or "0",
                size, align, ff, nf))
        return out + ["};", ""]

    def typenames_table(self):
        names = sorted(self.typedefs.items(), key=lambda t: byte_key(t[0]))
        if not names:
            return [], 0
        return (["const _cffi_typename_s typenames[] = {"] +
                ['    {"%s", %d},' % (n, self.types[t]) for n, t in names] +
                ["};", ""], len(names))

    def source(self, header_name):
        """The context source: every table, the context record and the two
        exports."""
        globals_lines, num_globals = self.globals_table()
        fields_lines, first = self.fields_table()
        struct_lines = self.struct_unions_table(first)
        typename_lines, num_typenames = self.typenames_table()

        def arr(name, present):
            return name if present else "nullptr"
        return "\n".join(
            [GENERATED % self.name,
             '#include "%s"' % header_name,
             '#include "frame/module.h"', "",
             "namespace {", ""] +
            self.types_table() + globals_lines + fields_lines + struct_lines +
            typename_lines + [
                "const _cffi_type_context_s kivo_type_context = {",
                "    types,",
                "    %s," % arr("globals", num_globals),
                "    %s," % arr("fields", fields_lines),
                "    %s," % arr("struct_unions", self.struct_order),
                "    nullptr,  // enums",
                "    %s," % arr("typenames", num_typenames),
                "    %d,  // num_globals" % num_globals,
                "    %d,  // num_struct_unions" % len(self.struct_order),
                "    0,  // num_enums",
                "    %d,  // num_typenames" % num_typenames,
                "    nullptr,  // includes",
                "    %d,  // num_types" % len(self.words),
                "    0,  // flags",
                "};", "",
                "}  // namespace", "",
                "KIVO_MODULE_EXPORTS(%s, kivo_type_context)" % self.name, ""])


def write_if_changed(path, text):
    """Leaves an unchanged output alone: no needless rebuilds."""
    old = None
    if os.path.exists(path):
        with open(path) as f:
            old = f.read()
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    if old != text:
        with open(path, "w") as f:
            f.write(text)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--module", required=True)
    ap.add_argument("--cdef", required=True, help="the declaration list")
    ap.add_argument("--header", required=True, help="prototypes to write")
    ap.add_argument("--source", required=True, help="context source to write")
    ap.add_argument("--include", action="append", default=[],
                    help="header that defines the declared types")
    ap.add_argument("--entry-prefix", default="",
                    help="prefix of the direct-call entry names")
    ap.add_argument("--forwards",
                    help="source to write with an entry for every declared "
                         "function not named by --own, each passing the call "
                         "on to the library function of that name")
    ap.add_argument("--own", action="append", default=[],
                    help="function whose entry the module defines itself")
    args = ap.parse_args()
    if args.forwards and not args.entry_prefix:
        sys.exit("--forwards needs --entry-prefix: an entry cannot have the "
                 "name of the library function it calls")
    try:
        module = Module(args.module, read(args.cdef), args.entry_prefix)
        header_name = os.path.basename(args.header)
        outputs = [(args.header, module.header(args.include)),
                   (args.source, module.source(header_name))]
        if args.forwards:
            outputs.append((args.forwards, module.forwards(header_name, set(args.own))))
    except DeclarationError as error:
        sys.exit(str(error))
    for path, text in outputs:
        write_if_changed(path, text)


if __name__ == "__main__":
    main()

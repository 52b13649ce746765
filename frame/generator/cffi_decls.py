"""The one place that reads a declaration list with CFFI's parser.

CFFI has no public interface that hands out what its parser found: its own
generator reads the parser's table of declarations (`FFI._parser.
_declarations`, keys "<kind> <name>", values (model type, qualifiers)). This
module does the same, for every generator and test of this project, so that a
change in CFFI is a change here alone. It relies on:

  * that table and its key kinds "function", "typedef", "macro", "struct",
    "union" and "anonymous";
  * the model classes of `cffi.model` (their `args`, `result`, `ellipsis`,
    `totype`, `fldnames`, `fldtypes`, `fldbitsize`, `partial`, `kind` and
    `name` members);
  * the op and primitive numbering of `cffi.cffi_opcode`;
  * `FFI._parser._parse(text)`, whose first result is pycparser's syntax tree
    of the list (for the functions' prototypes as the list spells them).

SUPPORTED is the range of CFFI releases whose parser keeps these as they are
in 1.15 (Debian 12's, the one tested here): 1.15 to 1.17. `check_version()`
refuses others with a message saying so.

Run as a script, it checks the installed CFFI and prints its version.
"""
import sys

import cffi
from cffi import model  # noqa: F401  (re-exported for the generators)
from cffi import cffi_opcode as opcode  # noqa: F401

SUPPORTED = ((1, 15), (1, 17))    # first and last minor release, inclusive

KINDS = ("function", "typedef", "macro", "struct", "union", "anonymous")


class DeclarationError(Exception):
    """A declaration list that cannot be read or expressed; the message names
    the list and the declaration."""


def version_tuple(text):
    return tuple(int(part) for part in text.split(".")[:2])


def check_version(version=None):
    """Raises DeclarationError unless the installed CFFI is in SUPPORTED."""
    version = version or cffi.__version__
    low, high = SUPPORTED
    if not low <= version_tuple(version) <= high:
        raise DeclarationError(
            "CFFI %s is installed; the declaration reader supports %d.%d to %d.%d "
            "(python3-cffi of Debian 12 is 1.15)" % ((version,) + low + high))


class Declarations:
    """What a declaration list declares, by kind, as CFFI's model types.

    `source` names the list in messages. `ffi` is the CFFI instance that
    parsed it (for `typeof` and friends)."""

    def __init__(self, text, source):
        check_version()
        self.source, self.text = source, text
        self.ffi = cffi.FFI()
        try:
            self.ffi.cdef(text)
        except Exception as error:    # CFFI's parse errors carry the line
            raise DeclarationError("%s: %s" % (source, error)) from None
        self.functions = {}     # name -> model.FunctionPtrType
        self.typedefs = {}      # name -> model type
        self.constants = {}     # name -> int, or None for "#define X ..."
        for key, (tp, _quals) in self.ffi._parser._declarations.items():
            kind, _, name = key.partition(" ")
            if kind == "function":
                self.functions[name] = tp
            elif kind == "typedef":
                self.typedefs[name] = tp
            elif kind == "macro":
                self.constants[name] = None if tp == "..." else tp
            elif kind not in KINDS:
                raise self.error(name, "declarations of kind %r are not supported" % kind)

    def spellings(self):
        """{function name: its prototype as the list spells it}, typedef names
        and qualifiers kept (`PyInt16 st_ulaw2linear16(unsigned char)`),
        where `functions` holds the types they resolve to."""
        from pycparser import c_ast, c_generator
        tree = self.ffi._parser._parse(self.text)[0]
        printer = c_generator.CGenerator()
        return {node.name: printer.visit(node) for node in tree.ext
                if isinstance(node, c_ast.Decl) and isinstance(node.type, c_ast.FuncDecl)}

    def error(self, name, what):
        return DeclarationError("%s: %s: %s" % (self.source, name, what))


def read(path):
    """The declarations of the list in the file `path`."""
    with open(path) as f:
        return Declarations(f.read(), path)


def main(argv):
    try:
        check_version()
    except DeclarationError as error:
        print(error, file=sys.stderr)
        return 1
    if argv == ["--version"]:
        print(cffi.__version__)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

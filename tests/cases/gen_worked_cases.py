#!/usr/bin/python3
"""Turns the worked cases (worked_cases.txt) into a C++ header of constexpr
tables, one struct per table, so that every build's tests read one copy.

The data file, line by line ('#' starts a comment, blank lines are ignored):

    table NAME COLUMN:TYPE ...     a table; each following line is one row
    values NAME int                a flat list of ints over the following lines

A line ending in '\\' goes on with the next one.

Column types: int, double, bytes, ints.
  int     decimal or 0x hex, within 32 bits
  double  a float literal, inf, -inf, nan, or A+B / A-B of two literals (the
          sum rounded once, as C++ rounds 1.0 + 1e-12)
  bytes   hex digits (an '_' between them is ignored), 'wN:v,v,...' for
          samples of width N stored least significant byte first, '-' empty
  ints    v,v,... or '-' for none
"""
import argparse
import math
import re
import sys

TYPES = ("int", "double", "bytes", "ints")
FLOAT = r"[0-9]+(?:\.[0-9]*)?(?:e[-+]?[0-9]+)?"


class CaseError(Exception):
    pass


def parse_int(token):
    try:
        value = int(token, 0)
    except ValueError:
        raise CaseError(f"not an int: {token!r}") from None
    if not -2**31 <= value < 2**31:
        raise CaseError(f"beyond 32 bits: {token!r}")
    return value


def parse_double(token):
    named = {"inf": math.inf, "-inf": -math.inf, "nan": math.nan}
    if token in named:
        return named[token]
    m = re.fullmatch(f"(-?{FLOAT})(?:([-+])({FLOAT}))?", token)
    if not m:
        raise CaseError(f"not a double: {token!r}")
    value = float(m.group(1))
    if m.group(2):
        other = float(m.group(3))
        value = value + other if m.group(2) == "+" else value - other
    return value


def parse_ints(token):
    return [] if token == "-" else [parse_int(t) for t in token.split(",")]


def parse_bytes(token):
    if token == "-":
        return b""
    m = re.fullmatch(r"w([1-4]):(.*)", token)
    if m:
        width = int(m.group(1))
        out = b""
        for v in m.group(2).split(","):
            value = int(v, 0)
            if not -2**(8 * width - 1) <= value < 2**(8 * width - 1):
                raise CaseError(f"{value} does not fit width {width}")
            out += value.to_bytes(width, "little", signed=True)
        return out
    digits = token.replace("_", "")
    if not re.fullmatch(r"(?:[0-9a-fA-F]{2})+", digits):
        raise CaseError(f"not hex bytes: {token!r}")
    return bytes.fromhex(digits)


PARSERS = {"int": parse_int, "double": parse_double, "bytes": parse_bytes,
           "ints": parse_ints}


def read_cases(path):
    """[(kind, name, columns, rows)] in file order."""
    blocks = []
    with open(path, encoding="utf-8") as f:
        pending = []
        for number, line in enumerate(f, 1):
            words = pending + line.split("#", 1)[0].split()
            pending = []
            if words and words[-1] == "\\":
                pending = words[:-1]
                continue
            if not words:
                continue
            try:
                if words[0] in ("table", "values"):
                    if len(words) < 3:
                        raise CaseError("a table needs a name and columns")
                    name = words[1]
                    if not re.fullmatch(r"[a-z][a-z0-9_]*", name):
                        raise CaseError(f"bad name {name!r}")
                    if any(b[1] == name for b in blocks):
                        raise CaseError(f"{name} given twice")
                    if words[0] == "values":
                        if words[2:] != ["int"]:
                            raise CaseError("values lists hold ints")
                        blocks.append(("values", name, None, []))
                        continue
                    columns = []
                    for column in words[2:]:
                        col, _, kind = column.partition(":")
                        if kind not in TYPES or not re.fullmatch(r"[a-z][a-z0-9_]*", col):
                            raise CaseError(f"bad column {column!r}")
                        columns.append((col, kind))
                    blocks.append(("table", name, columns, []))
                    continue
                if not blocks:
                    raise CaseError("a row before any table")
                kind, name, columns, rows = blocks[-1]
                if kind == "values":
                    rows.extend(parse_int(w) for w in words)
                    continue
                if len(words) != len(columns):
                    raise CaseError(f"{len(words)} fields for {len(columns)} columns of {name}")
                rows.append([PARSERS[k](w) for (_, k), w in zip(columns, words)])
            except CaseError as e:
                raise CaseError(f"{path}:{number}: {e}") from None
    for kind, name, _, rows in blocks:
        if not rows:
            raise CaseError(f"{path}: {name} has no rows")
    return blocks


def c_int(v):
    return "(-2147483647 - 1)" if v == -2**31 else str(v)


def c_double(v):
    if math.isnan(v):
        return "std::numeric_limits<double>::quiet_NaN()"
    if math.isinf(v):
        return ("-" if v < 0 else "") + "std::numeric_limits<double>::infinity()"
    return v.hex()   # exact, as the generator computed it


def camel(name):
    return "".join(part[:1].upper() + part[1:] for part in name.split("_")) + "Row"


HEAD = """\
// Generated by tests/cases/gen_worked_cases.py from tests/cases/worked_cases.txt:
// edit the data file, not this header.
#pragma once

#include <cstddef>
#include <limits>
#include <ostream>

namespace worked_cases {

// A run of values stored beside the tables.
template <typename T>
struct List {
    const T *data;
    std::size_t size;
    constexpr const T *begin() const { return data; }
    constexpr const T *end() const { return data + size; }
};
using Bytes = List<unsigned char>;
using Ints = List<int>;

inline std::ostream &operator<<(std::ostream &os, const Bytes &b) {
    const char *hex = "0123456789abcdef";
    if (b.size == 0) return os << "-";
    for (unsigned char c : b) os << hex[c >> 4] << hex[c & 15];
    return os;
}

inline std::ostream &operator<<(std::ostream &os, const Ints &v) {
    if (v.size == 0) return os << "-";
    const char *separator = "";
    for (int x : v) {
        os << separator << x;
        separator = ",";
    }
    return os;
}
"""


def generate(blocks):
    out = [HEAD]
    storage = ["namespace stored {"]
    for kind, name, columns, rows in blocks:
        if kind == "values":
            out.append(f"\ninline constexpr int {name}[] = {{")
            for k in range(0, len(rows), 10):
                out.append("    " + ", ".join(c_int(v) for v in rows[k:k + 10]) + ",")
            out.append("};")
            continue
        struct = camel(name)
        out.append(f"\nstruct {struct} {{")
        ctype = {"int": "int", "double": "double", "bytes": "Bytes", "ints": "Ints"}
        for col, k in columns:
            out.append(f"    {ctype[k]} {col};")
        out.append("};")
        out.append(f"\ninline std::ostream &operator<<(std::ostream &os, const {struct} &r) {{")
        printed = ' << ", "\n              '.join(f'<< "{col} " << r.{col}' for col, _ in columns)
        out.append(f"    return os {printed};")
        out.append("}")
        lines = []
        for index, row in enumerate(rows):
            fields = []
            for (col, k), value in zip(columns, row):
                if k == "int":
                    fields.append(c_int(value))
                elif k == "double":
                    fields.append(c_double(value))
                elif not value:
                    fields.append("{nullptr, 0}")
                else:
                    array = f"{name}_{index}_{col}"
                    element = "unsigned char" if k == "bytes" else "int"
                    items = (", ".join(f"0x{b:02x}" for b in value) if k == "bytes"
                             else ", ".join(c_int(v) for v in value))
                    storage.append(f"inline constexpr {element} {array}[] = {{{items}}};")
                    fields.append(f"{{stored::{array}, {len(value)}}}")
            lines.append("    {" + ", ".join(fields) + "},")
        out.append(f"\ninline constexpr {struct} {name}[] = {{")
        out.extend(lines)
        out.append("};")
    storage.append("}  // namespace stored\n")
    # The stored runs come before the tables that point at them.
    head_end = 1
    out.insert(head_end, "\n".join(storage))
    out.append("\n}  // namespace worked_cases\n")
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--cases", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    try:
        text = generate(read_cases(args.cases))
    except (CaseError, OSError) as e:
        sys.exit(f"gen_worked_cases: {e}")
    with open(args.output, "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()

"""The derived tables depend only on what is declared, not on how the
declaration list is ordered or which CFFI internals iterate it."""
import os
import random
import subprocess
import sys

import kivohost

GENERATOR = os.path.join(kivohost.ROOT, "frame", "generator", "gen_context.py")


def generate(tmp_path, tag, module, text, *extra):
    cdef = tmp_path / ("%s.cdef" % tag)
    cdef.write_text(text)
    header, source = tmp_path / ("%s.h" % tag), tmp_path / ("%s.cpp" % tag)
    subprocess.run([sys.executable, GENERATOR, "--module", module, "--cdef",
                    str(cdef), "--header", str(header), "--source", str(source),
                    *extra], check=True)
    return header.read_text(), source.read_text().replace("%s.h" % tag, "X.h")


def statements(text):
    # one declaration per statement; comments dropped
    lines = [l for l in text.splitlines() if l.strip() and not l.strip().startswith("/*")]
    out, current = [], ""
    for line in lines:
        current += line + "\n"
        if line.rstrip().endswith(";") and current.count("{") == current.count("}"):
            out.append(current)
            current = ""
    return out


def test_declaration_order_does_not_change_the_tables(tmp_path):
    text = kivohost.read_declarations("_samplekit")
    typedefs = [s for s in statements(text) if s.startswith("typedef")]
    others = [s for s in statements(text) if not s.startswith("typedef")]
    reference = generate(tmp_path, "a", "_samplekit", text)
    rng = random.Random(7)
    for n in range(3):
        rng.shuffle(others)
        shuffled = "".join(typedefs + others)
        assert generate(tmp_path, "s%d" % n, "_samplekit", shuffled) == reference


def test_generator_refuses_what_the_module_frame_cannot_express(tmp_path):
    cdef = tmp_path / "bad.cdef"
    cdef.write_text("int printf(const char *, ...);\n")
    result = subprocess.run([sys.executable, GENERATOR, "--module", "bad",
                             "--cdef", str(cdef), "--header", str(tmp_path / "b.h"),
                             "--source", str(tmp_path / "b.cpp")],
                            capture_output=True, text=True)
    assert result.returncode != 0
    assert "variadic" in result.stderr
    assert not (tmp_path / "b.cpp").exists()

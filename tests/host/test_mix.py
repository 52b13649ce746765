"""add and tostereo called through the function pointers the host obtains.

Every output buffer carries guard bytes after the part the routine may write;
they must come back untouched.
"""
import math
import random

import pytest

GUARD = b"\xa5" * 8


def lo(width):
    return -(1 << (8 * width - 1))


def hi(width):
    return (1 << (8 * width - 1)) - 1


def pack(values, width):
    return b"".join(v.to_bytes(width, "little", signed=True) for v in values)


def unpack(data, width):
    return [int.from_bytes(data[i:i + width], "little", signed=True)
            for i in range(0, len(data) - width + 1, width)]


def ref_add(x, y, width):
    return max(lo(width), min(hi(width), x + y))


def ref_scaled(v, gain, width):
    p = v * gain
    if math.isnan(p):
        return 0 if width < 4 else lo(4)
    if p > hi(width):
        return hi(width)
    if p < lo(width) + 1:
        return lo(width)
    return int(p)   # truncates toward zero


class Buffers:
    def __init__(self, samplekit):
        self.ffi = samplekit.ffi
        self.add = samplekit.function("add")
        self.tostereo = samplekit.function("tostereo")

    def input(self, data):
        buf = self.ffi.new("char[]", max(len(data), 1))
        self.ffi.memmove(buf, data, len(data))
        return buf

    def output(self, size):
        """A buffer of size bytes of 0xAA followed by the guard."""
        return self.input(b"\xaa" * size + GUARD)

    def read(self, buf, size):
        data = self.ffi.buffer(buf)[:]
        assert data[size:] == GUARD, "write past the output"
        return data[:size]

    def call_add(self, a, b, width, length=None):
        length = len(a) if length is None else length
        out = self.output(length)
        self.add(out, self.input(a), self.input(b), length, width)
        return self.read(out, length)

    def call_tostereo(self, data, width, lgain, rgain):
        out = self.output(2 * len(data))
        self.tostereo(out, self.input(data), len(data), width, lgain, rgain)
        return self.read(out, 2 * len(data))


@pytest.fixture(scope="module")
def sk(samplekit):
    return Buffers(samplekit)


# A few rows of the worked cases (tests/cases/worked_cases.txt), one per width.
@pytest.mark.parametrize("width, x, y, expected", [
    (1, 100, 100, 127), (2, -32768, -32768, -32768),
    (3, 8388607, 1, 8388607), (4, 2**31 - 1, -2**31, -1),
])
def test_add_saturates(sk, width, x, y, expected):
    out = sk.call_add(pack([x, y], width), pack([y, x], width), width)
    assert unpack(out, width) == [expected, expected]


@pytest.mark.parametrize("width", [1, 2, 3, 4])
def test_add_random_against_reference(sk, width):
    rng = random.Random(width)
    edges = [lo(width), lo(width) + 1, -1, 0, 1, hi(width) - 1, hi(width)]
    xs = [rng.choice(edges) if rng.random() < 0.3 else rng.randint(lo(width), hi(width))
          for _ in range(2000)]
    ys = [rng.choice(edges) if rng.random() < 0.3 else rng.randint(lo(width), hi(width))
          for _ in range(2000)]
    out = sk.call_add(pack(xs, width), pack(ys, width), width)
    assert unpack(out, width) == [ref_add(x, y, width) for x, y in zip(xs, ys)]


@pytest.mark.parametrize("width", [1, 2, 3, 4])
def test_add_in_place(sk, width):
    rng = random.Random(100 + width)
    a = bytes(rng.randrange(256) for _ in range(width * 500))
    b = bytes(rng.randrange(256) for _ in range(width * 500))
    expected = sk.call_add(a, b, width)
    for target in ("frag1", "frag2"):
        one, two = sk.input(a), sk.input(b)
        out = one if target == "frag1" else two
        sk.add(out, one, two, len(a), width)
        assert sk.ffi.buffer(out)[:] == expected, target


# A few rows of the worked cases: both doubles arrive as declared.
@pytest.mark.parametrize("width, lgain, rgain, inputs, expected", [
    (2, 1.0, 0.5, [1000, -1001], [1000, 500, -1001, -500]),
    (1, 0.999, 0.999, [-128, -127], [-128, -128, -126, -126]),
    (4, 1.5, -1.5, [2**31 - 1, -2**31], [2**31 - 1, -2**31, -2**31, 2**31 - 1]),
])
def test_tostereo_worked_values(sk, width, lgain, rgain, inputs, expected):
    out = sk.call_tostereo(pack(inputs, width), width, lgain, rgain)
    assert unpack(out, width) == expected


@pytest.mark.parametrize("width", [1, 2, 3, 4])
def test_tostereo_random_against_reference(sk, width):
    rng = random.Random(200 + width)
    values = [rng.randint(lo(width), hi(width)) for _ in range(1000)]
    values += [lo(width), lo(width) + 1, -1, 0, 1, hi(width)]
    for lgain, rgain in [(0.999, -1.0), (-0.5, 2.0), (1.5, 0.0),
                         (rng.uniform(-3, 3), rng.uniform(-1, 1))]:
        out = sk.call_tostereo(pack(values, width), width, lgain, rgain)
        expected = []
        for v in values:
            expected += [ref_scaled(v, lgain, width), ref_scaled(v, rgain, width)]
        assert unpack(out, width) == expected, (lgain, rgain)


@pytest.mark.parametrize("width", [1, 2, 3, 4])
def test_tostereo_not_a_number(sk, width):
    out = sk.call_tostereo(pack([0, 3, -3], width), width, math.nan, math.inf)
    nan_value = 0 if width < 4 else -2**31
    assert unpack(out, width) == [nan_value, nan_value, nan_value, hi(width),
                                  nan_value, lo(width)]


@pytest.mark.parametrize("width", [2, 3, 4])
def test_partial_trailing_sample_is_left_alone(sk, width):
    data = pack([hi(width), -7], width) + b"\x7f" * (width - 1)
    assert sk.call_add(data, data, width) == (
        pack([hi(width), -14], width) + b"\xaa" * (width - 1))
    assert sk.call_tostereo(data, width, 1.0, -1.0) == (
        pack([hi(width), -hi(width), -7, 7], width) + b"\xaa" * (2 * width - 2))


@pytest.mark.parametrize("width", [0, -1, 5, 2**31 - 1, -2**31])
def test_other_widths_store_nothing(sk, width):
    data = b"\x7f" * 20
    assert sk.call_add(data, data, width) == b"\xaa" * 20
    assert sk.call_tostereo(data, width, 1.0, 1.0) == b"\xaa" * 40


def test_empty_fragments(sk):
    for width in (1, 2, 3, 4):
        assert sk.call_add(b"", b"", width) == b""
        assert sk.call_tostereo(b"", width, 1.0, 1.0) == b""

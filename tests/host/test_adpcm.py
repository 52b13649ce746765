"""ADPCM coder called through the function pointers the host obtains."""
import random

import pytest

GUARD = 8
INT_MIN, INT_MAX = -2 ** 31, 2 ** 31 - 1


@pytest.fixture(scope="module")
def coder(samplekit):
    return samplekit.ffi, samplekit.function("lin2adcpm"), samplekit.function("adcpm2lin")


def call(ffi, fn, data, width, state, expected_len):
    """Runs fn over data with guard bytes after the expected output."""
    out = ffi.new("unsigned char[]", expected_len + GUARD)
    ffi.buffer(out)[:] = b"\xa5" * (expected_len + GUARD)
    inp = ffi.new("unsigned char[]", data) if data else ffi.NULL
    st = ffi.new("int[2]", list(state))
    fn(out, inp, len(data), width, st)
    raw = bytes(ffi.buffer(out))
    assert raw[expected_len:] == b"\xa5" * GUARD, "bytes written past the output"
    return raw[:expected_len], (st[0], st[1])


def encode(coder, data, width, state):
    ffi, enc, _ = coder
    return call(ffi, enc, data, width, state, len(data) // width // 2)


def decode(coder, data, width, state):
    ffi, _, dec = coder
    return call(ffi, dec, data, width, state, len(data) * width * 2)


def s16(*values):
    return b"".join(v.to_bytes(2, "little", signed=True) for v in values)


# A few rows of the worked cases (tests/cases/worked_cases.txt): buffers and
# the state array passed through the host.
@pytest.mark.parametrize("samples, start, codes, end", [
    ((), (-70000, 99), b"", (-70000, 88)),   # index clamped on entry
    ((1000, -1000, 5000), (0, 0), b"\x7f", (44, 24)),
    ((0, 0), (INT_MAX, 0), b"\xff", (32737, 16)),
])
def test_encoder_worked_cases(coder, samples, start, codes, end):
    assert encode(coder, s16(*samples), 2, start) == (codes, end)


@pytest.mark.parametrize("codes, width, start, out, end", [
    (b"", 4, (123456, 7), b"", (123456, 7)),
    (b"\x77", 3, (0, 0), bytes.fromhex("000B00002900"), (41, 16)),
    (b"\x77\x88", 1, (-200, 0), b"\xff" * 4, (-166, 14)),
])
def test_decoder_worked_cases(coder, codes, width, start, out, end):
    assert decode(coder, codes, width, start) == (out, end)


def test_other_widths_write_nothing_and_keep_the_state(coder):
    ffi, enc, dec = coder
    bits = 8 * ffi.sizeof("size_t")
    for width in (0, 5, 8, 2 ** (bits // 2) + 2, 2 ** bits - 1):
        for fn in (enc, dec):
            assert call(ffi, fn, b"\x12" * 10, width, (5000, 300), 0) == \
                (b"", (5000, 300)), width


def test_encoder_ignores_a_trailing_partial_sample(coder):
    data = s16(1000, -1000, 5000)
    assert encode(coder, data + b"\x7f", 2, (0, 0)) == encode(coder, data, 2, (0, 0))


def test_wider_samples_code_by_their_top_two_bytes(coder):
    rng = random.Random(1)
    values = [rng.randrange(-32768, 32768) for _ in range(101)]
    w2 = s16(*values)
    w3 = b"".join(bytes([rng.randrange(256)]) + s16(v) for v in values)
    w4 = b"".join(bytes([rng.randrange(256), rng.randrange(256)]) + s16(v)
                  for v in values)
    expected = encode(coder, w2, 2, (10, 20))
    assert encode(coder, w3, 3, (10, 20)) == expected
    assert encode(coder, w4, 4, (10, 20)) == expected


STEPS = [7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37,
         41, 45, 50, 55, 60, 66, 73, 80, 88, 97, 107, 118, 130, 143, 157, 173,
         190, 209, 230, 253, 279, 307, 337, 371, 408, 449, 494, 544, 598, 658,
         724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552, 1707, 1878, 2066,
         2272, 2499, 2749, 3024, 3327, 3660, 4026, 4428, 4871, 5358, 5894,
         6484, 7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899, 15289,
         16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767]
ADJUST = [-1, -1, -1, -1, 2, 4, 6, 8] * 2


def reference_encode(values, start):
    """Plain encoder over 16-bit values: (code bytes, predictions, end state)."""
    p, index = start[0], min(max(start[1], 0), 88)
    codes, predicted = [], []
    for v in values:
        step, diff = STEPS[index], v - p
        sign = 8 if diff < 0 else 0
        diff, code, delta = abs(diff), 0, step >> 3
        for bit, part in ((4, step), (2, step >> 1), (1, step >> 2)):
            if diff >= part:
                code, diff, delta = code | bit, diff - part, delta + part
        p = min(max(p - delta if sign else p + delta, -32768), 32767)
        code |= sign
        index = min(max(index + ADJUST[code], 0), 88)
        codes.append(code)
        predicted.append(p)
    packed = bytes(codes[k] << 4 | codes[k + 1] for k in range(0, len(codes) - 1, 2))
    return packed, predicted, ((p if values else start[0]), index)


def top16(data, width):
    if width == 1:
        return [int.from_bytes(data[k:k + 1], "little", signed=True) * 256
                for k in range(len(data))]
    return [int.from_bytes(data[k + width - 2:k + width], "little", signed=True)
            for k in range(0, len(data) - width + 1, width)]


def test_random_fragments_against_a_reference_and_back(coder):
    rng = random.Random(7)
    for width in (1, 2, 3, 4):
        for _ in range(60):
            n = rng.randrange(0, 80)
            data = bytes(rng.randrange(256) for _ in range(n * width))
            start = (rng.choice([INT_MIN, -40000, 0, 32767, INT_MAX,
                                 rng.randrange(-32768, 32768)]), rng.randrange(89))
            packed, predicted, end = reference_encode(top16(data, width), start)
            assert encode(coder, data, width, start) == (packed, end)
            # Decoding from the same start retraces the encoder's prediction.
            lin, dec_end = decode(coder, packed, 2, start)
            assert top16(lin, 2) == predicted[:2 * len(packed)]
            if n % 2 == 0:
                assert dec_end == end

#!/usr/bin/python3
"""Write the seed corpora of the fuzz targets (tests/fuzz/corpus/<routine>/):
the edge cases of the unit tests and pieces of the shipped sample at every
width, encoded the way fuzz_input.h decodes its input.

usage: make_corpus.py [CORPUS_DIR]
"""
import hashlib
import os
import struct
import sys
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "..", "..", "demo", "chord16k.wav")
GAINS = [0.0, -0.0, 1.0, -1.0, 0.5, -1.3, 1e300, -1e300, "nan", "inf", "-inf",
         "denorm", 2147483648.0, -2147483649.0, 65536.5, -0.999999]


# -- the decoder's encodings ----------------------------------------------------
def width(w):
    """A sample width: 1 to 4, or one of the decoder's odd widths."""
    odd = [0, 5, -1, -4, -2**31, 2**31 - 1, 8, -2]
    return bytes([w - 1]) if 1 <= w <= 4 else bytes([200 + odd.index(w)])


def size_width(w):
    if 1 <= w <= 4:
        return bytes([w - 1])
    if w > 2**32:                  # 2^32 + 1 to 2^32 + 4: 1 to 4 if cut to 32 bits
        return bytes([200 + (w - 2**32 - 1)])
    return bytes([224]) + width(w)


def length(n):
    return struct.pack("<H", n)


def small(value, lo):
    """small_or_any giving `value`, which lies in its small range above lo."""
    return bytes([0]) + struct.pack("<I", value - lo)


def any_int(value):
    return bytes([7]) + struct.pack("<i", value)


def raw_int(value):
    return struct.pack("<i", value)


def gain(g):
    return bytes([GAINS.index(g)])


# -- inputs -------------------------------------------------------------------------
def sample_bytes(w, count, offset):
    """`count` samples of the shipped sample from `offset`, at width w."""
    with wave.open(SAMPLE, "rb") as f:
        f.setpos(offset)
        data = f.readframes(count)
    out = bytearray()
    for i in range(0, len(data), 2):
        lo, hi = data[i], data[i + 1]
        out += {1: bytes([hi]), 2: bytes([lo, hi]), 3: bytes([0, lo, hi]),
                4: bytes([0, 0, lo, hi])}[w]
    return bytes(out)


def add_seeds():
    for w in (1, 2, 3, 4):
        a, b = sample_bytes(w, 96, 8000), sample_bytes(w, 96, 8003)
        for tail in range(w):
            n = len(a) - tail
            for alias in (0, 1, 2):
                yield "w%d_tail%d_alias%d" % (w, tail, alias), (
                    width(w) + length(n) + bytes([alias]) + a[:n] + b[:n])
        extremes = {1: b"\x7f\x80", 2: b"\xff\x7f\x00\x80", 3: b"\xff\xff\x7f\x00\x00\x80",
                    4: b"\xff\xff\xff\x7f\x00\x00\x00\x80"}[w]
        yield "w%d_saturate" % w, width(w) + length(len(extremes)) + b"\0" + extremes * 2
    for w in (0, 5, -1, 2**31 - 1):
        yield "width_%d" % w, width(w) + length(8) + b"\0" + bytes(range(16))


def tostereo_seeds():
    for w in (1, 2, 3, 4):
        frag = sample_bytes(w, 64, 12000)
        for tail in (0, w - 1):
            for lg, rg in ((0.7, -1.3), (0.0, -0.0), ("nan", 1.0), ("inf", "-inf"),
                           (1e300, "denorm"), (2147483648.0, -2147483649.0)):
                name = "w%d_tail%d_%s_%s" % (w, tail, lg, rg)
                n = len(frag) - tail
                lgv = gain(lg if lg in GAINS else 0.5)
                rgv = gain(rg if rg in GAINS else -1.3)
                yield name, width(w) + length(n) + lgv + rgv + frag[:n]
    for w in (0, 5, -4):
        yield "width_%d" % w, width(w) + length(8) + gain(1.0) + gain(1.0) + bytes(8)


def adpcm_state(predicted, index):
    return bytes([1]) + small(predicted, -40000) + small(index, -2)


def adpcm_seeds(encode):
    states = [(0, 0), (32767, 88), (-32768, 88), (100, -2), (-100, 90), (40000, 45)]
    for w in (1, 2, 3, 4):
        if encode:
            data = sample_bytes(w, 81, 20000)        # an odd sample count
            for tail in (0, w - 1):
                for p, i in states:
                    n = len(data) - tail
                    yield "w%d_tail%d_%d_%d" % (w, tail, p, i), (
                        size_width(w) + length(n) + adpcm_state(p, i) + data[:n] + length(0))
        else:
            data = bytes(range(0, 256, 3))
            for p, i in states:
                yield "w%d_%d_%d" % (w, p, i), (
                    size_width(w) + length(len(data)) + adpcm_state(p, i) + data + length(0))
    for w in (0, 5, 2**32 + 1, 2**32 + 2, 2**32 + 4):
        yield "width_%d" % w, (size_width(w) + length(8) + b"\0" + raw_int(12) +
                               raw_int(-7) + bytes(8) + length(4))
    yield "state_any_ints", (size_width(2) + length(8) + b"\0" + raw_int(2**31 - 1) +
                             raw_int(-2**31) + bytes(range(8)) + length(0))


def ratecv_args(w, channels, rate_in, rate_out, wn, wp, phase):
    def arg(v, lo, hi):
        return small(v, lo) if lo <= v <= hi else any_int(v)
    return (width(w) + arg(channels, 0, 6) + arg(rate_in, 1, 48000) +
            arg(rate_out, 1, 48000) + arg(wn, 0, 3) + arg(wp, 0, 3) +
            arg(phase, -48000, 48000))


def ratecv_seeds():
    for w in (1, 2, 3, 4):
        for channels in (1, 2):
            frame = w * channels
            frag = sample_bytes(w, 60 * channels, 30000)[:60 * frame]
            for rin, rout, wn, wp, phase in ((44100, 48000, 1, 0, 0), (48000, 44100, 1, 1, 0),
                                             (8000, 16000, 2, 1, -1), (16000, 8000, 1, 3, 5),
                                             (3, 7, 0, 1, 0)):
                state = bytes(range(8 * channels))
                yield "w%d_c%d_%d_%d_%d%d" % (w, channels, rin, rout, wn, wp), (
                    ratecv_args(w, channels, rin, rout, wn, wp, phase) + length(len(frag)) +
                    frag + state)
    # The refusals: each unusable argument once, and a result beyond an int.
    for name, args in (("width0", (0, 1, 8000, 8000, 1, 0, 0)),
                       ("width5", (5, 1, 8000, 8000, 1, 0, 0)),
                       ("channels_negative", (2, -1, 8000, 8000, 1, 0, 0)),
                       ("rate_in0", (2, 1, 0, 8000, 1, 0, 0)),
                       ("rate_out_negative", (2, 1, 8000, -5, 1, 0, 0)),
                       ("weight_negative", (2, 1, 8000, 8000, -1, 1, 0)),
                       ("weights0", (2, 1, 8000, 8000, 0, 0, 0))):
        yield name, ratecv_args(*args) + length(4) + length(8) + length(8) + bytes(24)
    yield "too_many_bytes", (ratecv_args(2, 1, 1, 2**31 - 1, 1, 0, 2**31 - 1) + length(8) +
                             length(4) + bytes(8 + 8))
    yield "phase_far_out", (ratecv_args(2, 2, 100, 7, 1, 1, -2**31) + length(64) +
                            bytes(range(64)) + bytes(16))


def main(argv):
    root = argv[0] if argv else os.path.join(HERE, "corpus")
    for routine, seeds in (("add", add_seeds()), ("tostereo", tostereo_seeds()),
                           ("lin2adcpm", adpcm_seeds(True)), ("adcpm2lin", adpcm_seeds(False)),
                           ("ratecv", ratecv_seeds())):
        folder = os.path.join(root, routine)
        os.makedirs(folder, exist_ok=True)
        for old in os.listdir(folder):
            os.remove(os.path.join(folder, old))
        for name, data in seeds:
            digest = hashlib.sha1(data).hexdigest()[:8]
            with open(os.path.join(folder, "%s-%s" % (name, digest)), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main(sys.argv[1:])

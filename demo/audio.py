"""The routines of _samplekit over a whole sound, as a caller would use them.

Every channel is processed: the fragment routines run at the sound's own
width, `ratecv` on interleaved frames with its state carried across pieces,
the ADPCM coder once per channel with one state per channel (it does not know
channels). Each function returns its result as native values, one row per
frame, and the seconds spent inside the routines.
"""
import math
import time

import numpy as np


def to_fragment(values, width):
    """Native values (any shape, row by row) as a fragment: samples of
    `width` bytes, least significant byte first, channels interleaved."""
    samples = np.ascontiguousarray(values, dtype="<i4").reshape(-1)
    return samples.view(np.uint8).reshape(-1, 4)[:, :width].tobytes()


def from_fragment(data, width, channels):
    """A fragment as native values, one row per frame."""
    samples = np.frombuffer(data, np.uint8).reshape(-1, width)
    widened = np.zeros((len(samples), 4), np.uint8)
    widened[:, 4 - width:] = samples    # the sample in the top bytes, then shifted down
    values = widened.view("<i4").reshape(-1).astype(np.int64) >> (32 - 8 * width)
    return values.reshape(-1, channels)


def ratecv_output_frames(phase, nframes, rate_in, rate_out):
    """Frames one ratecv call writes: with the rates reduced by their gcd and
    P = phase + nframes * rate_out', floor(P / rate_in') + 1, or none when
    P < 0."""
    g = math.gcd(rate_in, rate_out)
    p = phase + nframes * (rate_out // g)
    return p // (rate_in // g) + 1 if p >= 0 else 0


class Kit:
    def __init__(self, module):
        self.ffi, self.lib = module.ffi, module.lib

    def buffer(self, data):
        return self.ffi.from_buffer("char[]", data)

    def g711_tables(self, encode, decode):
        """The code of every 16-bit value and the value of every code, one
        call each (65,792 calls from Python), and the calls per second."""
        encode, decode = getattr(self.lib, encode), getattr(self.lib, decode)
        start = time.perf_counter()
        codes = np.array([encode(v) for v in range(-32768, 32768)], np.uint8)
        values = np.array([decode(c) for c in range(256)], np.int64)
        return codes, values, (65536 + 256) / (time.perf_counter() - start)

    def adpcm_round_trip(self, values, width, piece):
        """Each channel coded and decoded in pieces of `piece` frames (even,
        so that no code is dropped between pieces)."""
        ffi, lib = self.ffi, self.lib
        out = np.empty_like(values)
        elapsed = 0.0
        for channel in range(values.shape[1]):
            encoder, decoder = ffi.new("int[2]"), ffi.new("int[2]")
            decoded = []
            for start in range(0, len(values), piece):
                fragment = to_fragment(values[start:start + piece, channel], width)
                codes = ffi.new("unsigned char[]", len(fragment) // width // 2)
                pcm = ffi.new("unsigned char[]", len(codes) * width * 2)
                t = time.perf_counter()
                lib.lin2adcpm(codes, ffi.from_buffer("unsigned char[]", fragment),
                              len(fragment), width, encoder)
                lib.adcpm2lin(pcm, codes, len(codes), width, decoder)
                elapsed += time.perf_counter() - t
                decoded.append(ffi.buffer(pcm)[:])
            column = from_fragment(b"".join(decoded), width, 1)[:, 0]
            # A final odd sample has no code: it repeats the last decoded value.
            tail = column[-1:] if len(column) else np.zeros(1, np.int64)
            out[:, channel] = np.concatenate(
                [column, np.repeat(tail, len(values) - len(column))])
        return out, elapsed

    def rate_convert(self, values, width, rate_in, rate_out, piece):
        """All channels converted together in pieces of `piece` frames. The
        stream starts with the phase at -rate_out' and both arrays zero, so
        the first output frame is the first input frame."""
        ffi, channels = self.ffi, values.shape[1]
        g = math.gcd(rate_in, rate_out)
        phase = ffi.new("int *", -(rate_out // g))
        previous, current = ffi.new("int[]", channels), ffi.new("int[]", channels)
        pieces, elapsed = [], 0.0
        for start in range(0, len(values), piece):
            chunk = values[start:start + piece]
            frames = ratecv_output_frames(phase[0], len(chunk), rate_in, rate_out)
            out = ffi.new("char[]", max(1, frames * channels * width))
            t = time.perf_counter()
            written = self.lib.ratecv(out, self.buffer(to_fragment(chunk, width)),
                                      len(chunk), width, channels, rate_in, rate_out,
                                      phase, previous, current, 1, 0)
            elapsed += time.perf_counter() - t
            pieces.append(ffi.buffer(out, written)[:])
        return from_fragment(b"".join(pieces), width, channels), elapsed

    def mix_in_place(self, values, other, width):
        """`values` + `other`, saturating; the output is the first input's
        own buffer, which `add` allows."""
        mixed = bytearray(to_fragment(values, width))
        out = self.buffer(mixed)
        t = time.perf_counter()
        self.lib.add(out, out, self.buffer(to_fragment(other, width)), len(mixed), width)
        elapsed = time.perf_counter() - t
        return from_fragment(bytes(mixed), width, values.shape[1]), elapsed

    def pan(self, mono, width, piece):
        """A mono column expanded to stereo, panned from left to right over
        its length: each piece gets gains cos and sin of its pan angle."""
        out, elapsed = [], 0.0
        for start in range(0, len(mono), piece):
            fragment = to_fragment(mono[start:start + piece], width)
            angle = math.pi / 2 * (start + piece / 2) / len(mono)
            stereo = self.ffi.new("char[]", max(1, 2 * len(fragment)))
            t = time.perf_counter()
            self.lib.tostereo(stereo, self.buffer(fragment), len(fragment), width,
                              math.cos(angle), math.sin(angle))
            elapsed += time.perf_counter() - t
            out.append(self.ffi.buffer(stereo, 2 * len(fragment))[:])
        return from_fragment(b"".join(out), width, 2), elapsed


def snr_db(reference, decoded):
    """Signal-to-noise ratio in dB of two arrays of the same scale; None for
    a silent reference, inf when they are equal."""
    reference = np.asarray(reference, np.float64)
    signal = float(np.sum(reference ** 2))
    noise = float(np.sum((reference - decoded) ** 2))
    if signal == 0:
        return None
    return math.inf if noise == 0 else 10 * math.log10(signal / noise)


def best_lag(reference, converted, max_lag=8):
    """The lag in frames (0 to max_lag) at which `converted` fits `reference`
    best: a rate conversion's output trails its input."""
    def error(lag):
        n = min(len(reference), len(converted) - lag)
        return np.mean((reference[:n] - converted[lag:lag + n]) ** 2) if n > 0 else math.inf
    return min(range(max_lag + 1), key=error)

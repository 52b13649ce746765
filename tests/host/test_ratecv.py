"""ratecv called through the function pointer the host obtains."""
import math
import random
import struct

import pytest

import kivohost

GUARD = 16
GUARD_BYTE = 0xA5
INT_MAX = 2**31 - 1


def output_frames(phase, nframes, rate_in, rate_out):
    """Frames one call writes: with P = phase + nframes * rate_out',
    floor(P / rate_in') + 1 when P >= 0, else none (rates reduced by their gcd)."""
    g = math.gcd(rate_in, rate_out)
    p = phase + nframes * (rate_out // g)
    return p // (rate_in // g) + 1 if p >= 0 else 0


class Stream:
    def __init__(self, ffi, channels, phase, previous=None, current=None):
        self.phase = ffi.new("int *", phase)
        self.previous = ffi.new("int[]", previous or [0] * max(channels, 1))
        self.current = ffi.new("int[]", current or [0] * max(channels, 1))
        self.channels = channels

    def state(self):
        n = self.channels
        return self.phase[0], list(self.previous[0:n]), list(self.current[0:n])


@pytest.fixture(scope="module")
def convert(samplekit):
    ffi, fn = samplekit.ffi, samplekit.function("ratecv")

    def call(data, width, channels, rate_in, rate_out, stream,
             weight_new=1, weight_prev=0):
        nframes = len(data) // (width * channels) if channels else 0
        size = output_frames(stream.phase[0], nframes, rate_in, rate_out) * channels * width
        out = ffi.new("char[]", size + GUARD)
        ffi.memmove(out, bytes([GUARD_BYTE]) * (size + GUARD), size + GUARD)
        frag = ffi.new("char[]", data or b"\0")
        result = fn(out, frag, nframes, width, channels, rate_in, rate_out,
                    stream.phase, stream.previous, stream.current,
                    weight_new, weight_prev)
        assert result == size
        assert ffi.buffer(out)[size:] == bytes([GUARD_BYTE]) * GUARD
        assert stream.phase[0] < 0
        return ffi.buffer(out)[:size]
    call.ffi = ffi
    call.fn = fn
    return call


def s16(*values):
    return struct.pack("<%dh" % len(values), *values)


# A few rows of the worked cases (tests/cases/worked_cases.txt): the phase and
# both arrays passed through the host and carried back.
def test_worked_cases(convert):
    ffi = convert.ffi
    s = Stream(ffi, 1, -2)
    assert convert(s16(100, 200, 300), 2, 1, 1, 2, s) == s16(100, 150, 200, 250, 300)
    assert s.state() == (-1, [200 << 16], [300 << 16])

    s = Stream(ffi, 2, -2)
    assert (convert(s16(100, -100, 300, -300), 2, 2, 1, 2, s)
            == s16(100, -100, 200, -200, 300, -300))


@pytest.mark.parametrize("weights, expected", [
    ((1, 1), (500, 750, 875, 937)), ((4, 2), (666, 888, 962, 987)),
])
def test_filter_weights(convert, weights, expected):
    s = Stream(convert.ffi, 1, -1)
    assert convert(s16(1000, 1000, 1000, 1000), 2, 1, 1, 1, s, *weights) == s16(*expected)


def test_large_weights_are_reduced_before_filtering(convert):
    # Unreduced, the double products round and the result truncates to ...414.
    s = Stream(convert.ffi, 1, -1, [0], [1849836273])
    out = convert(struct.pack("<i", -1895412759), 4, 1, 1, 1, s,
                  2 * 792310489, 792310489)
    assert out == struct.pack("<i", -646996415)
    assert s.state() == (-1, [1849836273], [-646996415])


def test_due_phase_without_input_uses_the_carried_arrays(convert):
    s = Stream(convert.ffi, 1, 1, [100 << 16], [-301 << 16])
    # The mean -100.5 at the 16-bit position, stored with a floor: -101.
    assert convert(b"", 2, 1, 1, 2, s) == s16(-101, -301)
    assert s.state() == (-1, [100 << 16], [-301 << 16])


def test_state_carried_between_calls_continues_the_stream(convert):
    ffi = convert.ffi
    rng = random.Random(5)
    for rate_in, rate_out, channels in [(44100, 8000, 2), (8000, 44100, 1),
                                        (44100, 48000, 2)]:
        frames = 2000
        data = bytes(rng.randrange(256) for _ in range(frames * channels * 2))
        start = -(rate_out // math.gcd(rate_in, rate_out))
        whole = Stream(ffi, channels, start)
        expected = convert(data, 2, channels, rate_in, rate_out, whole, 3, 1)
        pieces = Stream(ffi, channels, start)
        joined, done = b"", 0
        while done < frames:
            n = min(rng.randrange(0, 300), frames - done)
            part = data[done * channels * 2:(done + n) * channels * 2]
            joined += convert(part, 2, channels, rate_in, rate_out, pieces, 3, 1)
            done += n
        assert joined == expected
        assert pieces.state() == whole.state()


@pytest.mark.parametrize("width, channels, rate_in, rate_out, wn, wp", [
    (0, 1, 1, 2, 1, 0), (-2, 1, 1, 2, 1, 0), (2, -1, 1, 2, 1, 0),
    (2, 1, 0, 2, 1, 0), (2, 1, 1, -1, 1, 0), (2, 1, 1, 2, 0, 0),
    (2, 1, 1, 2, -1, 1), (2, 1, 1, 2, 1, -1), (INT_MAX, 1, 1, 2, 1, 0),
])
def test_senseless_arguments_touch_nothing(convert, width, channels, rate_in,
                                           rate_out, wn, wp):
    ffi = convert.ffi
    out = ffi.new("char[]", bytes([GUARD_BYTE]) * 64)
    frag = ffi.new("char[]", s16(1, 2, 3, 4))
    s = Stream(ffi, 1, -2, [7], [9])
    assert convert.fn(out, frag, 2, width, channels, rate_in, rate_out,
                      s.phase, s.previous, s.current, wn, wp) == 0
    assert ffi.buffer(out)[:64] == bytes([GUARD_BYTE]) * 64
    assert s.state() == (-2, [7], [9])


def test_width_above_four_is_refused(convert):
    ffi = convert.ffi
    out = ffi.new("char[]", bytes([GUARD_BYTE]) * 16)
    frag = ffi.new("char[]", 30)
    s = Stream(ffi, 2, -2, [5, 6], [7, 8])
    assert convert.fn(out, frag, 3, 5, 2, 1, 2, s.phase, s.previous, s.current,
                      1, 0) == 0
    assert ffi.buffer(out)[:16] == bytes([GUARD_BYTE]) * 16
    assert s.state() == (-2, [5, 6], [7, 8])

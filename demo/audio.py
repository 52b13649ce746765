"""The routines of _samplekit as stages of a stream, one stage per routine.

A stage is called with each block of the sound in turn (native int32 values,
one row per frame) and returns its result for that block; it keeps whatever
state the routine carries from one call to the next, so a sound cut into
blocks gives the same result as the sound in one block, provided every block
but the last holds an even number of frames (the ADPCM coder drops the code
of a final odd sample on each call). Every stage counts the samples it took
and the seconds spent inside the routine's calls.
"""
import math
import time

import numpy as np

import wavfile

DTYPES = {1: "<i1", 2: "<i2", 4: "<i4"}


def to_fragment(values, width):
    """Native values (any shape, row by row) as a fragment: a contiguous
    uint8 array of samples of `width` bytes, least significant byte first,
    channels interleaved."""
    if width in DTYPES:
        return np.ascontiguousarray(values, DTYPES[width]).reshape(-1).view(np.uint8)
    samples = np.ascontiguousarray(values, "<i4").reshape(-1).view(np.uint8)
    return np.ascontiguousarray(samples.reshape(-1, 4)[:, :width]).reshape(-1)


def from_fragment(data, width, channels):
    """A fragment (any buffer) as native int32 values, one row per frame."""
    if width in DTYPES:
        values = np.frombuffer(data, DTYPES[width]).astype(np.int32)
    else:
        samples = np.frombuffer(data, np.uint8).reshape(-1, width)
        widened = np.zeros((len(samples), 4), np.uint8)
        widened[:, 4 - width:] = samples    # the sample in the top bytes, then shifted down
        values = widened.view("<i4").reshape(-1) >> (32 - 8 * width)
    return values.reshape(-1, channels)


def ratecv_output_frames(phase, nframes, rate_in, rate_out):
    """Frames one ratecv call writes: with the rates reduced by their gcd and
    P = phase + nframes * rate_out', floor(P / rate_in') + 1, or none when
    P < 0."""
    g = math.gcd(rate_in, rate_out)
    p = phase + nframes * (rate_out // g)
    return p // (rate_in // g) + 1 if p >= 0 else 0


def ratecv_frames_due(frames, rate_in, rate_out):
    """Output frames whose instants lie within `frames` input frames: from a
    stream's start, output frame j falls at input frame j * rate_in' /
    rate_out', so ceil(frames * rate_out' / rate_in') of them."""
    g = math.gcd(rate_in, rate_out)
    return -(-frames * (rate_out // g) // (rate_in // g))


class Stage:
    def __init__(self, module, width, channels):
        self.ffi, self.lib = module.ffi, module.lib
        self.width, self.channels = width, channels
        self.samples = 0        # taken so far
        self.elapsed = 0.0      # seconds inside the routine's calls

    def pointer(self, array):
        return self.ffi.from_buffer("char[]", array)

    def timed(self, routine, *args):
        t = time.perf_counter()
        result = routine(*args)
        self.elapsed += time.perf_counter() - t
        return result

    def speed(self, samples=None):
        """Samples per second inside the calls (inf when too fast to time)."""
        samples = self.samples if samples is None else samples
        return samples / self.elapsed if self.elapsed else math.inf


class G711(Stage):
    """A G.711 round trip. Its routines take one value per call, so the code
    of every 16-bit value and the value of every code are found once (65,792
    calls from Python, which give the speed) and each block is looked up."""

    def __init__(self, module, width, channels, encode, decode):
        super().__init__(module, width, channels)
        encode, decode = getattr(self.lib, encode), getattr(self.lib, decode)
        start = time.perf_counter()
        self.to_code = np.array([encode(v) for v in range(-32768, 32768)], np.uint8)
        self.to_value = np.array([decode(c) for c in range(256)], np.int32)
        self.calls_per_second = (65536 + 256) / (time.perf_counter() - start)

    def __call__(self, values):
        """(codes, decoded values at 16 bits) of a block."""
        codes = self.to_code[wavfile.to_16bit(values, self.width) + 32768]
        return codes, self.to_value[codes]


class Adpcm(Stage):
    """An IMA ADPCM round trip, each channel a stream of its own with its own
    encoder and decoder state."""

    def __init__(self, module, width, channels):
        super().__init__(module, width, channels)
        self.encoders = [self.ffi.new("int[2]") for _ in range(channels)]
        self.decoders = [self.ffi.new("int[2]") for _ in range(channels)]
        # A final odd sample has no code: it repeats the last decoded value.
        self.last = np.zeros(channels, np.int32)

    def __call__(self, values):
        frames, width = len(values), self.width
        out = np.empty_like(values)
        for channel in range(self.channels):
            fragment = to_fragment(values[:, channel], width)
            codes = np.empty(frames // 2, np.uint8)
            pcm = np.empty(len(codes) * 2 * width, np.uint8)
            self.timed(self.lib.lin2adcpm, self.pointer(codes), self.pointer(fragment),
                       len(fragment), width, self.encoders[channel])
            self.timed(self.lib.adcpm2lin, self.pointer(pcm), self.pointer(codes),
                       len(codes), width, self.decoders[channel])
            decoded = from_fragment(pcm, width, 1)[:, 0]
            if len(decoded):
                self.last[channel] = decoded[-1]
            out[:len(decoded), channel] = decoded
            out[len(decoded):, channel] = self.last[channel]
        self.samples += 2 * values.size         # each coded and decoded
        return out


class Ratecv(Stage):
    """Rate conversion of all channels together. The stream starts with the
    phase at -rate_out' and both arrays zero, so that the first output frame
    is the first input frame. An output frame comes out only once the input
    frame after its instant has been read: `finish` gives the stream's last
    frames."""

    def __init__(self, module, width, channels, rate_in, rate_out):
        super().__init__(module, width, channels)
        self.rate_in, self.rate_out = rate_in, rate_out
        self.phase = self.ffi.new("int *", -(rate_out // math.gcd(rate_in, rate_out)))
        self.previous = self.ffi.new("int[]", channels)
        self.current = self.ffi.new("int[]", channels)
        self.frames_in = 0
        self.frames_out = 0
        self.last = None        # the last input frame, fed again by finish

    def __call__(self, values):
        if len(values):
            self.frames_in += len(values)
            self.last = values[-1:].copy()
        return self.convert(values)

    def finish(self, due=None):
        """The frames still due once the input has ended: the last input
        frame is fed again as often as the frames due need, and whatever
        comes out beyond them is dropped. `due`: the whole output's length,
        by default every frame whose instant lies within the input."""
        if due is None:
            due = ratecv_frames_due(self.frames_in, self.rate_in, self.rate_out)
        done = self.frames_out
        if self.last is None or done >= due:
            return np.zeros((0, self.channels), np.int32)
        g = math.gcd(self.rate_in, self.rate_out)
        # Frame due - 1 needs input frame ceil((due - 1) * rate_in' / rate_out').
        needed = -(-(due - 1) * (self.rate_in // g) // (self.rate_out // g)) + 1
        tail = self.convert(np.repeat(self.last, needed - self.frames_in, axis=0))
        self.frames_out = due
        return tail[:due - done]

    def convert(self, values):
        if not len(values):     # a call on no frames could still write one
            return values
        frames = ratecv_output_frames(self.phase[0], len(values), self.rate_in,
                                      self.rate_out)
        out = np.empty(max(1, frames * self.channels * self.width), np.uint8)
        fragment = to_fragment(values, self.width)
        written = self.timed(self.lib.ratecv, self.pointer(out), self.pointer(fragment),
                             len(values), self.width, self.channels, self.rate_in,
                             self.rate_out, self.phase, self.previous, self.current, 1, 0)
        self.samples += values.size
        self.frames_out += written // (self.channels * self.width)
        return from_fragment(out[:written], self.width, self.channels)


class Echo(Stage):
    """The sound mixed with a copy of itself `delay` frames later, in place
    (saturating): the delayed copy of the blocks before is carried over."""

    def __init__(self, module, width, channels, delay):
        super().__init__(module, width, channels)
        self.delay = delay
        self.line = np.zeros((delay, channels), np.int32)

    def __call__(self, values):
        frames = len(values)
        line = np.concatenate([self.line, values])
        delayed, self.line = line[:frames], line[frames:]
        mixed = to_fragment(values, self.width).copy()
        out = self.pointer(mixed)
        self.timed(self.lib.add, out, out, self.pointer(to_fragment(delayed, self.width)),
                   len(mixed), self.width)
        self.samples += values.size
        return from_fragment(mixed, self.width, self.channels)


class Pan(Stage):
    """The sound (or the mean of its channels, truncated toward zero) made
    stereo and panned from left to right over its `frames`: each piece of
    `piece` frames gets the gains cos and sin of its pan angle. Pieces are
    counted from the start of the sound, so a piece cut by a block's end
    keeps its gain."""

    def __init__(self, module, width, channels, frames, piece):
        super().__init__(module, width, channels)
        self.frames, self.piece = frames, piece
        self.position = 0

    def __call__(self, values):
        width, piece = self.width, self.piece
        mono = (values[:, 0] if self.channels == 1 else
                wavfile.channel_mean(values).astype(np.int32))     # toward zero
        fragment = to_fragment(mono, width)
        stereo = np.empty(2 * len(fragment), np.uint8)
        source, target = self.pointer(fragment), self.pointer(stereo)
        at, end = self.position, self.position + len(mono)
        while at < end:
            start = at - at % piece
            stop = min(start + piece, end)
            angle = math.pi / 2 * (start + piece / 2) / self.frames
            offset = (at - self.position) * width
            self.timed(self.lib.tostereo, target + 2 * offset, source + offset,
                       (stop - at) * width, width, math.cos(angle), math.sin(angle))
            at = stop
        self.position = end
        self.samples += len(mono)
        return from_fragment(stereo, width, 2)

"""Figures of a sound that arrives block by block, each kept in memory that
does not grow with the sound's length: signal-to-noise ratios, the lag of a
rate conversion's output, per-bin minima, maxima and levels of whole-sound
curves, and the loudest stretch of the input with every signal over it.

Every signal is given in fractions of full scale (float64), one row per
frame.
"""
import math

import numpy as np


def snr_db(signal, noise):
    """None for a silent reference, inf when the output is the input."""
    if signal == 0:
        return None
    return math.inf if noise == 0 else 10 * math.log10(signal / noise)


def power(values):
    """The sum of the squares. (numpy's dot goes to whatever BLAS is
    installed, which may be the slow reference one; einsum does not.)"""
    flat = np.ascontiguousarray(values).reshape(-1)
    return float(np.einsum("i,i->", flat, flat))


class Quality:
    """Input power over the power of the difference, summed over every
    channel, for each output compared with the input."""

    def __init__(self):
        self.signal = 0.0
        self.noise = {}

    def reference(self, source):
        self.signal += power(source)

    def compare(self, name, source, output):
        self.noise[name] = self.noise.get(name, 0.0) + power(source - output)

    def db(self, name):
        return snr_db(self.signal, self.noise.get(name, 0.0))


class Lags:
    """The lag in frames (0 to max_lag) at which a converted stream fits the
    input best, a rate conversion's output trailing its input, and the
    difference's power at that lag. Frames are compared as they arrive in
    both streams; the input beyond the output's end is compared with the
    output's last frame."""

    def __init__(self, channels, max_lag=8):
        self.lags = max_lag + 1
        self.sums = np.zeros(self.lags)
        self.counts = np.zeros(self.lags, np.int64)
        self.done = np.zeros(self.lags, np.int64)  # input frames compared, per lag
        self.source = np.zeros((0, channels))      # from input frame `base` on
        self.converted = np.zeros((0, channels))   # from output frame `base` on
        self.base = 0

    def feed(self, source, converted):
        self.source = np.concatenate([self.source, source])
        self.converted = np.concatenate([self.converted, converted])
        have_source = self.base + len(self.source)
        have_converted = self.base + len(self.converted)
        difference = np.empty_like(self.source)
        for lag in range(self.lags):
            start, stop = self.done[lag], min(have_source, have_converted - lag)
            if stop <= start:
                continue
            a, b = start - self.base, stop - self.base
            self.sums[lag] += power(np.subtract(self.source[a:b], self.converted[a + lag:b + lag],
                                                out=difference[:b - a]))
            self.counts[lag] += (stop - start) * self.source.shape[1]
            self.done[lag] = stop
        # Keep what a lag still needs, and the output's last frame.
        drop = min(int(self.done.min()) - self.base, len(self.converted) - 1)
        if drop > 0:
            self.source, self.converted = self.source[drop:], self.converted[drop:]
            self.base += drop

    def result(self):
        """(lag, power of the difference at that lag over the whole input)."""
        errors = [self.sums[lag] / self.counts[lag] if self.counts[lag] else math.inf
                  for lag in range(self.lags)]
        lag = min(range(self.lags), key=errors.__getitem__)
        rest = self.source[self.done[lag] - self.base:]
        return lag, self.sums[lag] + power(rest - self.converted[-1:])


class Bins:
    """Reductions (`numpy` ufuncs: minimum, maximum, add) of a curve over
    `count` bins of whole frames, the curve's length being known up front;
    the frames beyond the last whole bin are left out."""

    def __init__(self, frames, count, ufuncs):
        self.size = max(1, frames // max(1, count))
        self.count = min(frames, max(1, count))
        self.ufuncs = ufuncs
        start = {np.minimum: np.inf, np.maximum: -np.inf, np.add: 0.0}
        self.values = [np.full(self.count, start[ufunc]) for ufunc in ufuncs]
        self.fed = 0

    def feed(self, curve):
        start = self.fed
        self.fed += len(curve)
        stop = min(self.fed, self.count * self.size)
        if stop <= start:
            return
        first = start // self.size
        starts = np.maximum(np.arange(first * self.size, stop, self.size) - start, 0)
        where = slice(first, first + len(starts))
        for ufunc, values in zip(self.ufuncs, self.values):
            values[where] = ufunc(values[where], ufunc.reduceat(curve[:stop - start], starts))

    def seconds(self, rate):
        """The start of each bin."""
        return np.arange(self.count) * self.size / rate


class Trace:
    """One signal's frames over a stretch of the input that may still move:
    the last `keep` frames are kept so that a stretch that has just begun
    can be taken from them."""

    def __init__(self, keep, rate_ratio=1.0, after=0):
        self.keep, self.ratio, self.after = keep, rate_ratio, after
        self.history = None
        self.fed = 0
        self.first = 0
        self.parts = []

    def aim(self, first, size):
        """Collect from input frame `first` for `size` frames (and `after`
        more), in this signal's own frames."""
        self.first = max(0, math.floor(first * self.ratio) - 1) if self.ratio != 1 else first
        self.stop = math.ceil((first + size + self.after) * self.ratio) + 1
        self.parts = []
        if self.history is not None:
            self.take(self.fed - len(self.history), self.history)

    def take(self, start, values):
        a, b = max(self.first, start), min(self.stop, start + len(values))
        if a < b:
            self.parts.append(values[a - start:b - start].copy())

    def feed(self, values):
        self.take(self.fed, values)
        self.fed += len(values)
        kept = values if self.history is None else np.concatenate([self.history, values])
        self.history = kept[-self.keep:]

    def values(self):
        return np.concatenate(self.parts) if self.parts else np.zeros(0)


class Loudest:
    """The `size` frames of the input with the most energy (the first such
    when several tie; the whole input when it is shorter), found as the input
    arrives, and every traced signal over them."""

    def __init__(self, size):
        self.size = size
        self.tail = np.zeros(0)         # squares of the last size - 1 frames
        self.fed = 0
        self.best = -1.0
        self.first = 0
        self.traces = {}

    def trace(self, name, rate_ratio=1.0, after=0):
        margin = 16 + math.ceil(1 / rate_ratio)
        self.traces[name] = trace = Trace(math.ceil((self.size + after + margin) * rate_ratio),
                                          rate_ratio, after)
        trace.aim(self.first, self.size)
        return trace

    def feed(self, mono):
        squares = np.concatenate([self.tail, mono.astype(np.float64) ** 2])
        origin = self.fed - len(self.tail)
        self.fed += len(mono)
        if len(squares) >= self.size:
            energy = np.concatenate([[0.0], np.cumsum(squares)])
            sums = energy[self.size:] - energy[:-self.size]
            best = int(np.argmax(sums))
            if sums[best] > self.best:
                self.best, self.first = float(sums[best]), origin + best
                for trace in self.traces.values():
                    trace.aim(self.first, self.size)
        self.tail = squares[max(0, len(squares) - self.size + 1):] if self.size > 1 else squares[:0]

    def window(self):
        """(first, last) frame."""
        return self.first, min(self.fed, self.first + self.size)

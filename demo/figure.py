"""The demonstration's figure: what each routine did to the sound.

All curves are in fractions of full scale, so results of any width compare.
The round trips are shown over the loudest 30 ms of the input, the mix and
the stereo expansion over the whole sound, as the band between the minimum
and the maximum of each of at most BINS bins. What the figure shows is
gathered block by block (`Figure`), in memory that does not grow with the
sound's length, and drawn at the end (`Figure.draw`).
"""
import numpy as np

import measures
import wavfile

WINDOW_SECONDS = 0.030
BINS = 1500
LEVEL_SECONDS = 0.020


def envelope(ax, bins, rate, color, label, sign=1):
    """A curve as the band between its minimum and maximum per bin; a bin
    of one frame is the curve itself."""
    lows, highs = (sign * values for values in bins.values)
    if sign < 0:
        lows, highs = highs, lows
    seconds = bins.seconds(rate)
    if bins.size == 1:
        ax.plot(seconds, lows, color=color, linewidth=0.6, label=label)
    else:
        ax.fill_between(seconds, lows, highs, color=color, linewidth=0, label=label,
                        alpha=0.8)


class Figure:
    """`rate`, `frames`, `channels`: the input's. Round trips are declared
    with `round_trip` before the first block; each block then gives the
    input (`input`), each round trip's output at the input's rate
    (`output`), the intermediate at the lower rate (`lower`), the mix and
    the stereo expansion, all in full scale, one row per frame."""

    def __init__(self, rate, frames, channels, low_rate):
        self.rate, self.channels, self.low_rate = rate, channels, low_rate
        bands = lambda: measures.Bins(frames, frames if frames <= 2 * BINS else BINS,
                                      (np.minimum, np.maximum))
        self.inputs = [bands() for _ in range(channels)]
        self.mixed, self.left, self.right = bands(), bands(), bands()
        level_bins = min(BINS, max(1, frames // max(1, int(rate * LEVEL_SECONDS))))
        self.levels = [measures.Bins(frames, level_bins, (np.add,)) for _ in range(3)]
        self.loudest = measures.Loudest(max(1, int(rate * WINDOW_SECONDS)))
        self.source = self.loudest.trace("input")
        self.low = None
        self.rows = {}

    def round_trip(self, key, title, max_lag=0, lower=False):
        """A row of the figure, fed with `output(key, ...)`; `max_lag`: the
        frames by which the output may trail the input; `lower`: the row
        also shows the intermediate at the lower rate."""
        self.rows[key] = (title, self.loudest.trace(key, after=max_lag))
        if lower:
            self.low = self.loudest.trace("lower", self.low_rate / self.rate, max_lag)

    def input(self, source):
        mono = wavfile.channel_mean(source)
        self.loudest.feed(mono)
        self.source.feed(source[:, 0])
        for bins, column in zip(self.inputs, source.T):
            bins.feed(column)
        self.levels[0].feed(mono ** 2)

    def output(self, key, values):
        self.rows[key][1].feed(values[:, 0])

    def lower(self, values):
        self.low.feed(values[:, 0])

    def mix(self, values):
        self.mixed.feed(values[:, 0])

    def stereo(self, values):
        for bands, level, column in zip((self.left, self.right), self.levels[1:], values.T):
            bands.feed(column)
            level.feed(column ** 2)

    def draw(self, path, title, notes, lag=0):
        """`notes`: the text beside each round trip's error, by key; `lag`:
        the frames by which the round trip through the lower rate trails.
        Returns False when matplotlib is missing."""
        try:
            import matplotlib
            matplotlib.use("Agg")
            import matplotlib.pyplot as plt
        except ImportError:
            return False
        rate = self.rate
        first, last = self.loudest.window()
        size = last - first
        ms = np.arange(first, last) / rate * 1000
        source = self.source.values()[:size]
        rows = len(self.rows) + 2
        fig, axes = plt.subplots(rows, 2, figsize=(12, 2.3 * rows), squeeze=False)
        fig.suptitle(title, fontsize=11)
        channel_name = "" if self.channels == 1 else " (left channel)"

        overview, mixed = axes[0]
        for c, bins in enumerate(self.inputs):
            envelope(overview, bins, rate, "C%d" % c,
                     "input" if self.channels == 1 else "input, channel %d" % (c + 1))
        overview.axvspan(first / rate, max(last, first + 1) / rate, color="gold",
                         alpha=0.5, label="window below (loudest %d ms)"
                         % round(WINDOW_SECONDS * 1000))
        overview.set_title("input", fontsize=9)
        envelope(mixed, self.mixed, rate, "tab:purple", "mixed with its echo")
        envelope(mixed, self.inputs[0], rate, "0.3", "input" + channel_name)
        mixed.set_title("add: the input plus a copy 250 ms later, saturating",
                        fontsize=9)

        for row, (key, (name, trace)) in enumerate(self.rows.items(), start=1):
            wave_ax, err_ax = axes[row]
            shift = lag if trace.after else 0
            output = trace.values()[shift:shift + size]
            # Past the output's end, its last frame stands for it.
            output = np.concatenate([output, np.repeat(output[-1:], size - len(output))])
            wave_ax.plot(ms, source, color="0.55", linewidth=2.2,
                         label="input" + channel_name)
            wave_ax.plot(ms, output, color="tab:blue", linewidth=0.9,
                         label="after the round trip")
            if trace.after and self.low is not None:
                values = self.low.values()
                at = (self.low.first + np.arange(len(values))
                      - lag * self.low_rate / rate) / self.low_rate
                shown = (at >= first / rate) & (at < last / rate)
                wave_ax.plot(at[shown] * 1000, values[shown], "o", color="tab:orange",
                             markersize=3, label="at the lower rate")
            wave_ax.set_title(name, fontsize=9)
            err_ax.plot(ms, source - output, color="tab:red", linewidth=0.9)
            err_ax.set_title("error of %s: %s" % (name, notes[key]), fontsize=9)
            err_ax.set_ylabel("input - output\n(full scale = 1)")

        pan_ax, stereo_ax = axes[-1]
        envelope(pan_ax, self.left, rate, "tab:blue", "left")
        envelope(pan_ax, self.right, rate, "tab:green", "right (drawn inverted)", -1)
        pan_ax.set_title("tostereo: %s panned from left to right"
                         % ("the input" if self.channels == 1 else "the channels' mean"),
                         fontsize=9)
        # The gain each channel got, measured from the output: level of the
        # channel over level of the input, per bin.
        mono, left, right = (np.sqrt(bins.values[0] / bins.size) for bins in self.levels)
        at = self.levels[0].seconds(rate)
        loud = mono > 1e-4
        for level, side, color in ((left, "left", "tab:blue"), (right, "right", "tab:green")):
            stereo_ax.plot(at[loud], level[loud] / mono[loud], color=color, label=side)
        stereo_ax.set_title("tostereo: gain of each channel, measured from the output "
                            "per %d ms" % round(self.levels[0].size / rate * 1000),
                            fontsize=9)
        stereo_ax.set_ylabel("output level / input level")

        for ax in axes.flat:
            ax.grid(alpha=0.3)
            ax.tick_params(labelsize=7)
            if ax.get_legend_handles_labels()[0]:
                ax.legend(fontsize=7, loc="upper right")
        for ax in axes[:, 0]:
            if not ax.get_ylabel():
                ax.set_ylabel("amplitude\n(full scale = 1)", fontsize=8)
        for ax in (overview, mixed, pan_ax, stereo_ax):
            ax.set_xlabel("time (s)", fontsize=8)
        for ax in axes[1:-1].flat:
            ax.set_xlabel("time (ms)", fontsize=8)
            ax.ticklabel_format(axis="x", useOffset=False)
        for ax in axes[:, 1]:
            ax.yaxis.label.set_fontsize(8)
        fig.tight_layout()
        fig.savefig(path, dpi=90)
        plt.close(fig)
        return True

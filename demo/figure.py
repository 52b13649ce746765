"""The demonstration's figure: what each routine did to the sound.

All curves are in fractions of full scale, so results of any width compare.
The round trips are shown over the loudest 30 ms of the input, the mix and
the stereo expansion over the whole sound.
"""
import numpy as np

WINDOW_SECONDS = 0.030


def loudest_window(mono, rate):
    """(first, last) frame of the WINDOW_SECONDS with the most energy; the
    whole sound when it is shorter."""
    size = max(1, int(rate * WINDOW_SECONDS))
    if len(mono) <= size:
        return 0, len(mono)
    energy = np.concatenate([[0.0], np.cumsum(mono.astype(np.float64) ** 2)])
    first = int(np.argmax(energy[size:] - energy[:-size]))
    return first, first + size


def envelope(ax, seconds, values, color, label, bins=1500):
    """A long curve as the band between its minimum and maximum per bin."""
    if len(values) <= 2 * bins:
        ax.plot(seconds, values, color=color, linewidth=0.6, label=label)
        return
    usable = len(values) - len(values) % bins
    lows = values[:usable].reshape(bins, -1).min(axis=1)
    highs = values[:usable].reshape(bins, -1).max(axis=1)
    ax.fill_between(seconds[:usable].reshape(bins, -1)[:, 0], lows, highs,
                    color=color, linewidth=0, label=label, alpha=0.8)


def draw(path, title, rate, sound, round_trips, mix, stereo):
    """`sound`: the input, (frames, channels) in full scale. `round_trips`:
    (name, output in full scale at the input's rate, note, extra) per row;
    extra is None or (seconds, values) of an intermediate at another rate.
    `mix`: the mix, like `sound`; `stereo`: (frames, 2). Returns False when
    matplotlib is missing."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    first, last = loudest_window(sound.mean(axis=1), rate)
    window = slice(first, last)
    ms = np.arange(first, last) / rate * 1000
    seconds = np.arange(len(sound)) / rate
    rows = len(round_trips) + 2
    fig, axes = plt.subplots(rows, 2, figsize=(12, 2.3 * rows), squeeze=False)
    fig.suptitle(title, fontsize=11)
    channel_name = "" if sound.shape[1] == 1 else " (left channel)"

    overview, mixed = axes[0]
    for c in range(sound.shape[1]):
        envelope(overview, seconds, sound[:, c], "C%d" % c,
                 "input" if sound.shape[1] == 1 else "input, channel %d" % (c + 1))
    overview.axvspan(first / rate, max(last, first + 1) / rate, color="gold",
                     alpha=0.5, label="window below (loudest %d ms)"
                     % round(WINDOW_SECONDS * 1000))
    overview.set_title("input", fontsize=9)
    envelope(mixed, seconds, mix[:, 0], "tab:purple", "mixed with its echo")
    envelope(mixed, seconds, sound[:, 0], "0.3", "input" + channel_name)
    mixed.set_title("add: the input plus a copy 250 ms later, saturating",
                    fontsize=9)

    for row, (name, output, note, extra) in enumerate(round_trips, start=1):
        wave_ax, err_ax = axes[row]
        wave_ax.plot(ms, sound[window, 0], color="0.55", linewidth=2.2,
                     label="input" + channel_name)
        wave_ax.plot(ms, output[window, 0], color="tab:blue", linewidth=0.9,
                     label="after the round trip")
        if extra is not None:
            at, values = extra
            shown = (at >= first / rate) & (at < last / rate)
            wave_ax.plot(at[shown] * 1000, values[shown], "o", color="tab:orange",
                         markersize=3, label="at the lower rate")
        wave_ax.set_title(name, fontsize=9)
        err_ax.plot(ms, sound[window, 0] - output[window, 0], color="tab:red",
                    linewidth=0.9)
        err_ax.set_title("error of %s: %s" % (name, note), fontsize=9)
        err_ax.set_ylabel("input - output\n(full scale = 1)")

    pan_ax, stereo_ax = axes[-1]
    envelope(pan_ax, seconds, stereo[:, 0], "tab:blue", "left")
    envelope(pan_ax, seconds, -stereo[:, 1], "tab:green", "right (drawn inverted)")
    pan_ax.set_title("tostereo: %s panned from left to right"
                     % ("the input" if sound.shape[1] == 1 else "the channels' mean"),
                     fontsize=9)
    # The gain each channel got, measured from the output: level of the
    # channel over level of the input, per 20 ms.
    bins = max(1, len(sound) // max(1, int(rate * 0.02)))
    usable = len(sound) - len(sound) % bins
    level = lambda x: np.sqrt(np.mean(x[:usable].reshape(bins, -1) ** 2, axis=1))
    mono = level(sound.mean(axis=1))
    at = seconds[:usable].reshape(bins, -1)[:, 0]
    loud = mono > 1e-4
    for c, (side, color) in enumerate((("left", "tab:blue"), ("right", "tab:green"))):
        stereo_ax.plot(at[loud], level(stereo[:, c])[loud] / mono[loud], color=color,
                       label=side)
    stereo_ax.set_title("tostereo: gain of each channel, measured from the output "
                        "per 20 ms", fontsize=9)
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
    for ax in axes[:, 1]:
        ax.yaxis.label.set_fontsize(8)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)
    return True

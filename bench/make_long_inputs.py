#!/usr/bin/python3
"""Writes the long inputs of the main job's benchmark: 44.1 kHz 16-bit stereo
WAV files of 10 minutes (106 MB) and one hour (635 MB), a chord that changes
every few seconds with a noise burst now and then, made block by block.
They are made on demand and never committed.

usage: make_long_inputs.py [DIR] [--length 10min|1h]...   (DIR: the system's
temporary folder, by default; both lengths, by default)
"""
import argparse
import os
import tempfile

import numpy as np
import soundfile

RATE = 44100
LENGTHS = {"10min": 600, "1h": 3600}
CHORDS = ((261.63, 329.63, 392.00), (220.00, 261.63, 329.63),
          (174.61, 220.00, 261.63), (196.00, 246.94, 293.66))


def write(path, seconds):
    rng = np.random.default_rng(20261208)
    with soundfile.SoundFile(path, "w", RATE, 2, "PCM_16", format="WAV") as f:
        for second in range(seconds):
            t = second + np.arange(RATE) / RATE
            freqs = CHORDS[second // 4 % len(CHORDS)]
            left = sum(np.sin(2 * np.pi * f * t + k) for k, f in enumerate(freqs))
            right = sum(np.sin(2 * np.pi * 1.003 * f * t) for f in freqs)
            block = 0.25 * np.column_stack([left, right]) * (0.6 + 0.4 * np.sin(t / 7))[:, None]
            if second % 17 == 5:
                block[:RATE // 8] += rng.uniform(-0.4, 0.4, (RATE // 8, 2))
            f.write(np.clip(block, -1, 1))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("dir", nargs="?", default=tempfile.gettempdir())
    ap.add_argument("--length", action="append", choices=sorted(LENGTHS))
    args = ap.parse_args()
    for name in args.length or LENGTHS:
        path = os.path.join(args.dir, "long_%s_44k_stereo.wav" % name)
        write(path, LENGTHS[name])
        print("written %s (%d s)" % (path, LENGTHS[name]))


if __name__ == "__main__":
    main()

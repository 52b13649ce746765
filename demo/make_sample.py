#!/usr/bin/python3
"""Writes the demonstration's sample: 3 s of a synthesised chord with a short
noise burst, 16 kHz mono 16-bit (demo/chord16k.wav).

usage: make_sample.py [OUTPUT]
"""
import math
import os
import random
import struct
import sys
import wave

RATE = 16000
SECONDS = 3.0


def samples():
    rng = random.Random(20261208)
    freqs = (261.63, 329.63, 392.00, 523.25)   # a major chord with its octave
    n = int(RATE * SECONDS)
    for i in range(n):
        t = i / RATE
        envelope = min(1.0, t / 0.05) * min(1.0, (SECONDS - t) / 0.3)
        v = sum(math.sin(2 * math.pi * f * t + k) for k, f in enumerate(freqs))
        v *= 0.2 * envelope
        if 1.40 <= t < 1.55:   # noise burst
            v += rng.uniform(-0.5, 0.5)
        yield max(-32768, min(32767, int(round(v * 32767))))


def main(argv):
    path = argv[0] if argv else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                             "chord16k.wav")
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(b"".join(struct.pack("<h", s) for s in samples()))


if __name__ == "__main__":
    main(sys.argv[1:])

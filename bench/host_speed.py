"""Speed of add and tostereo through the real host path.

Loads the built _samplekit the way the host does (CPython's CFFI backend on
the module's type context), calls the direct-call entries on 1 MiB fragments
of 16-bit samples, and times them beside NumPy forms with exactly the same
results (widen, add or multiply, saturate, truncate toward zero, narrow;
checked byte for byte) and beside a memmove of the same bytes. Then times
add at width 2 beside a memmove of its output's bytes from 64 KiB to 16 MiB,
across the sizes where the caches stop holding the three fragments.

    /usr/bin/python3 bench/host_speed.py [--build-dir build] [--repeat 200]
"""
import argparse
import os
import sys
import time

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir))
from kivohost import Module, module_path  # noqa: E402  (the host's loader)

FRAGMENT = 1 << 20          # bytes of one input fragment
SAMPLES = FRAGMENT // 2     # 16-bit samples
LGAIN, RGAIN = 0.7, -1.3


def best_ns(call, repeat):
    """The fastest of `repeat` calls, in nanoseconds."""
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter_ns()
        call()
        best = min(best, time.perf_counter_ns() - start)
    return best


ADD_SIZES = [64 << 10, 256 << 10, 1 << 20, 4 << 20, 16 << 20]


def add_size_table(ffi, add, repeat):
    """add / memmove time at each size, each the best of its own runs."""
    print("add / memmove at width 2, by size; best of the runs")
    for size in ADD_SIZES:
        frag1, frag2 = ffi.new("char[]", size), ffi.new("char[]", size)
        out = ffi.new("char[]", size)
        # about as many bytes at every size, and never fewer than 10 runs
        runs = max(10, repeat * FRAGMENT // size)
        move = best_ns(lambda: ffi.memmove(out, frag1, size), runs)
        mix = best_ns(lambda: add(out, frag1, frag2, size, 2), runs)
        empty = best_ns(lambda: add(out, frag1, frag2, 0, 2), runs)
        print("  %6d KiB  memmove %7.4f  add %7.4f ns/sample  add/memmove %.2fx"
              % (size >> 10, 2 * move / size, 2 * mix / size, mix / move))
    print("  (an add of no bytes takes %.0f ns, a memmove of none %.0f ns)"
          % (empty, best_ns(lambda: ffi.memmove(out, frag1, 0), runs)))


def numpy_add(a, b):
    s = a.astype(np.int32) + b.astype(np.int32)
    return np.clip(s, -32768, 32767).astype(np.int16)


def numpy_scaled(v, gain):
    p = v.astype(np.float64) * gain
    # above max gives max, below min + 1 gives min, else truncation
    r = np.where(p > 32767.0, 32767.0, np.where(p < -32767.0, -32768.0, np.trunc(p)))
    return r.astype(np.int16)


def numpy_tostereo(v):
    out = np.empty(2 * v.size, dtype=np.int16)
    out[0::2] = numpy_scaled(v, LGAIN)
    out[1::2] = numpy_scaled(v, RGAIN)
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-dir", default=None,
                        help="the build whose module is timed (default build/)")
    parser.add_argument("--repeat", type=int, default=200)
    args = parser.parse_args()

    module = Module("_samplekit", module_path("_samplekit", args.build_dir))
    ffi = module.ffi
    add = module.function("add")
    tostereo = module.function("tostereo")
    print("module:", module.path)

    rng = np.random.default_rng(1)
    a = rng.integers(-32768, 32768, SAMPLES, dtype=np.int16)
    b = rng.integers(-32768, 32768, SAMPLES, dtype=np.int16)
    frag1, frag2 = ffi.new("char[]", a.tobytes()), ffi.new("char[]", b.tobytes())
    out = ffi.new("char[]", FRAGMENT)
    stereo = ffi.new("char[]", 2 * FRAGMENT)

    add(out, frag1, frag2, FRAGMENT, 2)
    assert ffi.buffer(out)[:] == numpy_add(a, b).tobytes(), "add differs from NumPy"
    tostereo(stereo, frag1, FRAGMENT, 2, LGAIN, RGAIN)
    assert ffi.buffer(stereo)[:] == numpy_tostereo(a).tobytes(), "tostereo differs from NumPy"

    rows = [
        ("memmove of 1 MiB", best_ns(lambda: ffi.memmove(out, frag1, FRAGMENT), args.repeat)),
        ("add, module", best_ns(lambda: add(out, frag1, frag2, FRAGMENT, 2), args.repeat)),
        ("add, NumPy", best_ns(lambda: numpy_add(a, b), max(args.repeat // 10, 5))),
        ("tostereo, module", best_ns(
            lambda: tostereo(stereo, frag1, FRAGMENT, 2, LGAIN, RGAIN), args.repeat)),
        ("tostereo, NumPy", best_ns(lambda: numpy_tostereo(a), max(args.repeat // 20, 3))),
    ]
    per_sample = {name: ns / SAMPLES for name, ns in rows}
    print("width 2, 1 MiB fragments (%d samples); best of the runs" % SAMPLES)
    for name, ns in rows:
        print("  %-18s %9.4f ns/sample" % (name, ns / SAMPLES))
    move = per_sample["memmove of 1 MiB"]
    for op in ("add", "tostereo"):
        module_ns, numpy_ns = per_sample[op + ", module"], per_sample[op + ", NumPy"]
        print("  %-8s %6.1fx NumPy, %.2fx the memmove throughput"
              % (op, numpy_ns / module_ns, move / module_ns))
    add_size_table(ffi, add, args.repeat)


if __name__ == "__main__":
    main()

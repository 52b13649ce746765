#!/usr/bin/env python3
"""The benchmark table over the whole range, for the native build.

    python3 bench/table.py [--build-dir build] [--repetitions 5]
                           [--min-time 0.05] [--filter REGEX]

Builds bench_samplekit, runs it once with every benchmark repeated and the
repetitions in random order (Google Benchmark's random interleaving, so that
a busy spell of a shared machine is spread over all of them rather than
falling on a few), and prints one markdown row per routine and case: each
table's median time per sample (CPU time, ns) and the plain form's time over
it (2.0 = twice as fast as the plain form). ratecv: 44.1 to 48 kHz at every
width, 1 to 8 channels and weights (1, 0) and (1, 1), per output sample; the
other routines at every width, per input sample (adcpm2lin per output
sample).
"""
import argparse
import collections
import json
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def case_text(rest):
    """"44100>48000/width:2/channels:3/weights:1,0" -> "w2 ch3 (1,0) 44100>48000"."""
    parts = dict(p.split(":", 1) if ":" in p else ("", p) for p in rest.split("/"))
    text = []
    if "width" in parts:
        text.append("w" + parts["width"])
    if "channels" in parts:
        text.append("ch" + parts["channels"])
    if "weights" in parts:
        text.append("(" + parts["weights"] + ")")
    if parts.get("") and parts[""] != "44100>48000":
        text.append(parts[""])
    return " ".join(text)


def figure(v):
    return f"{v:.2f}" if v >= 1 else f"{v:.3f}"


ORDER = ["add", "add_in_place", "tostereo", "lin2adcpm", "adcpm2lin", "ratecv"]


def row_key(row):
    """Routines in ORDER, then the default rates first, weights, width, channels."""
    routine, rest = row
    parts = dict(p.split(":", 1) if ":" in p else ("", p) for p in rest.split("/"))
    number = lambda k: int(parts[k]) if parts.get(k, "").isdigit() else 0
    return (ORDER.index(routine) if routine in ORDER else len(ORDER), routine,
            parts.get("", "") not in ("", "44100>48000"), parts.get(""),
            parts.get("weights", ""), number("width"), number("channels"), rest)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build-dir", type=Path, default=ROOT / "build")
    ap.add_argument("--repetitions", type=int, default=5)
    ap.add_argument("--min-time", type=float, default=0.05,
                    help="seconds per repetition of each benchmark")
    ap.add_argument("--filter", default="", help="Google Benchmark filter")
    args = ap.parse_args()

    subprocess.run(["cmake", "--build", str(args.build_dir), "--target", "bench_samplekit"],
                   check=True, stdout=subprocess.DEVNULL)
    program = str(args.build_dir / "bin" / "bench_samplekit")
    # The tables in the order the build compiled them, as registered.
    tables = []
    listed = subprocess.run([program, "--benchmark_list_tests=true"], check=True,
                            capture_output=True, text=True).stdout
    for line in listed.splitlines():
        parts = line.split("/")
        if line.startswith("BM_") and len(parts) > 1 and parts[1] not in tables:
            tables.append(parts[1])
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        cmd = [program,
               f"--benchmark_repetitions={args.repetitions}",
               "--benchmark_enable_random_interleaving=true",
               f"--benchmark_min_time={args.min_time}",
               f"--benchmark_out={out.name}", "--benchmark_out_format=json"]
        if args.filter:
            cmd.append(f"--benchmark_filter={args.filter}")
        run = subprocess.run(cmd, capture_output=True, text=True)
        if run.returncode:
            sys.exit(run.stdout + run.stderr)
        report = json.load(open(out.name))

    samples = collections.defaultdict(list)
    for b in report["benchmarks"]:
        if b.get("run_type") == "iteration" and "ns_per_sample" in b:
            samples[b["run_name"]].append(b["ns_per_sample"])

    # BM_<routine>/<table>/<case>: rows by routine and case, a column per table.
    rows, single = {}, []
    for name, values in samples.items():
        parts = name.split("/", 2)
        if len(parts) < 2:
            single.append((name[3:], statistics.median(values)))
            continue
        routine, table = parts[0][3:], parts[1]
        rows.setdefault((routine, parts[2] if len(parts) > 2 else ""), {})[table] = \
            statistics.median(values)

    ctx = report["context"]
    print(f"Benchmarks of `{args.build_dir}`, {ctx.get('date', '')}, {ctx.get('num_cpus')} CPUs "
          f"at {ctx.get('mhz_per_cpu')} MHz: median of {args.repetitions} interleaved "
          f"repetitions, CPU time in ns per sample; 'vs plain' is the plain form's time over "
          f"the table's.\n")
    for name, value in sorted(single, key=lambda s: (s[0] != "memcpy", s[0])):
        print(f"- {name}: {figure(value)} ns per sample" + (" (16-bit samples)" if name == "memcpy" else ""))
    print()
    head = ["routine", "case"]
    for t in tables:
        head += [t] if t == "plain" else [t, "vs plain"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for (routine, rest), by_table in sorted(rows.items(), key=lambda r: row_key(r[0])):
        cells = [routine, case_text(rest)]
        plain = by_table.get("plain")
        for t in tables:
            v = by_table.get(t)
            cells.append(figure(v) if v is not None else "")
            if t != "plain":
                cells.append(f"{plain / v:.2f}" if v and plain else "")
        print("| " + " | ".join(cells) + " |")


if __name__ == "__main__":
    sys.exit(main())

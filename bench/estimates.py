#!/usr/bin/env python3
"""Estimated speed of the fragment routines on a processor that is not at hand.

    python3 bench/estimates.py [--arch aarch64|x86_64|i686|all] [-j JOBS]
                               [--routine NAME]... [--loops FILE] [--check]

Builds the architecture's preset (count_samplekit and the module), then for
each routine of each table the build compiled (count_samplekit --list) prints
two estimates beside the plain forms':

- instructions executed per sample, counted under QEMU user mode from the
  routine's entry to its return (what it calls included): QEMU's log of the
  translation blocks (-d in_asm,exec,nochain) gives each block's instructions
  once (in_asm) and a line per execution (exec; nochain makes every execution
  pass through the logged lookup). The driver calls the routine between two
  marker functions; the blocks executed between the markers' lines, each
  weighted by its instruction count, are summed. The figure is the difference
  between a run over 2N samples and one over N (N = 65,536 samples of noise),
  divided by the difference in samples, so fixed costs drop out. A sample is
  an input sample for add, tostereo and lin2adcpm, an output sample for
  adcpm2lin and ratecv (output frames times channels; 44.1 to 48 kHz,
  weights 1 and 0).
- llvm-mca's cycles per sample of the inner loop: the block whose executions
  grow most between the two runs is the loop's head, and the time between
  two of its executions one pass of the loop. The instructions llvm-mca sees
  are a window of the 2N run's executed blocks, a third of the way in: whole
  passes from the head back to it, as many as make WINDOW instructions, so
  that the branches inside the loop (and any loop around it) go their ways
  as often as they did. Each block's address is looked up in the driver's
  symbols and its instructions read, as objdump shows them, from the module
  when the module holds that function (the shipped table) and from the
  driver otherwise. llvm-mca-14 simulates the window repeated; its cycles
  per window, over the samples the window stands for (its instructions over
  the instructions per sample), give the figure. "samples/pass" is the
  growth in samples over the growth in the head's executions: how many
  samples one pass of the loop handles.

Both are estimates, not measurements: QEMU counts instructions, not time;
llvm-mca models one loop in isolation, with warm caches and branches always
predicted.
"""
import argparse
import bisect
import collections
import concurrent.futures
import datetime
import os
import platform
import re
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
N = 65536
ROUTINES = ["add", "tostereo", "lin2adcpm", "adcpm2lin", "ratecv"]
LABEL = "kivo_loop"
WINDOW = 2048      # instructions of executed trace given to llvm-mca, at least

ARCHES = {
    "aarch64": dict(preset="linux-aarch64", build="build/linux-aarch64", qemu="qemu-aarch64",
                    tools="aarch64-linux-gnu-", triple="aarch64",
                    cpus=["ampere1", "neoverse-n1", "apple-m1"], comment="//"),
    "x86_64": dict(preset="default", build="build", qemu="qemu-x86_64", tools="",
                   triple="x86_64", cpus=["skylake", "znver2", "znver3"], comment="#"),
    "i686": dict(preset="linux-i686", build="build/linux-i686", qemu="qemu-i386",
                 tools="i686-linux-gnu-", triple="i686",
                 cpus=["skylake", "znver2", "znver3"], comment="#"),
}

# llvm-mca names the resources of the scheduling model it uses: their prefix
# says which model stands behind a -mcpu (LLVM 14).
MODELS = [("Ampere1", "Ampere1Model, its own"), ("A57", "CortexA57Model"),
          ("Cy", "CycloneModel"), ("SKL", "SkylakeClientModel"),
          ("SKX", "SkylakeServerModel"), ("Zn3", "Znver3Model"), ("Zn2", "Znver2Model"),
          ("Zn", "Znver1Model")]


def configs(routines):
    """(routine, width, channels) of every run."""
    out = []
    for r in routines:
        if r == "ratecv":
            out += [(r, w, c) for w in range(1, 5) for c in (1, 2, 3)]
            out += [(r, 2, c) for c in range(4, 9)]
        else:
            out += [(r, w, 1) for w in range(1, 5)]
    return out


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, text=True, capture_output=True, **kw).stdout


def build(arch):
    a = ARCHES[arch]
    bdir = ROOT / a["build"]
    if not (bdir / "CMakeCache.txt").exists():
        subprocess.run(["cmake", "--preset", a["preset"]], cwd=ROOT, check=True,
                       stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(bdir), "--target", "count_samplekit", "samplekit"],
                   cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
    driver = bdir / "bin" / "count_samplekit"
    module = next((bdir / "lib").glob("_samplekit.*.so"))
    return driver, module


def qemu_cmd(arch, driver, *args, single_step=False):
    cmd = [ARCHES[arch]["qemu"], "-cpu", "max"]
    if single_step:
        cmd.append("-singlestep")
    return cmd + [str(driver)] + [str(x) for x in args]


def list_tables(arch, driver):
    """[(name, shipped, {routine: address})] in samplekit::compiled's order."""
    tables = []
    for line in run(qemu_cmd(arch, driver, "--list")).splitlines():
        name, shipped, runs, *forms = line.split()
        if runs != "runs":
            sys.exit(f"{name} cannot run under QEMU -cpu max")
        tables.append((name, shipped == "shipped",
                       dict(f.split("=") for f in forms)))
    return tables


class Symbols:
    """A binary's function symbols (nm), by address."""

    def __init__(self, nm, binary):
        rows = []
        for line in run([nm, "-S", "--defined-only", str(binary)]).splitlines():
            parts = line.split(None, 3)
            if len(parts) == 4 and parts[2] in "tTwWi":
                rows.append((int(parts[0], 16), int(parts[1], 16), parts[3]))
        rows.sort()
        self.starts = [r[0] for r in rows]
        self.rows = rows
        self.by_name = {r[2]: r for r in rows}

    def find(self, address):
        i = bisect.bisect_right(self.starts, address) - 1
        if i >= 0:
            start, size, name = self.rows[i]
            if address < start + size:
                return start, size, name
        return None


# Log parsing: "Trace 0: 0x<host> [<cs_base>/<pc>/<flags>/<cflags>] <symbol>"
# for each execution, and "IN: <symbol>" followed by one "0x<pc>:  ..." line
# per instruction for each translation.
def parse_log(path, begin, end):
    data = Path(path).read_bytes()
    sizes = {}
    at = 0
    while True:
        at = data.find(b"IN:", at)
        if at < 0:
            break
        if at and data[at - 1] != 10:
            at += 3
            continue
        body_start = data.index(b"\n", at) + 1
        body_end = data.find(b"\n\n", body_start)
        body = data[body_start:body_end]
        lines = [l for l in body.split(b"\n") if l.startswith(b"0x")]
        if lines:
            pc = int(lines[0].split(b":", 1)[0], 16)
            if sizes.setdefault(pc, len(lines)) != len(lines):
                raise RuntimeError(f"block {pc:#x} translated with {sizes[pc]} and "
                                   f"{len(lines)} instructions")
        at = body_end
    first = data.index(b"\nTrace ")
    width = len(data[first:data.index(b"\n", first + 1)].split(b"/")[1])
    mark = lambda a: b"/" + format(a, "0%dx" % width).encode() + b"/"
    start = data.index(mark(begin))
    start = data.index(b"\n", start) + 1          # after the begin marker's line
    stop = data.rindex(b"\n", 0, data.index(mark(end), start))
    trace = [l for l in data[start:stop].split(b"\n") if l.startswith(b"Trace ")]
    del data
    ids = {}
    seq = [ids.setdefault(l, len(ids)) for l in trace]
    pcs = [0] * len(ids)
    for line, i in ids.items():
        pcs[i] = int(line.split(b"/")[1], 16)
    counts = collections.Counter()
    for i, n in collections.Counter(seq).items():
        counts[pcs[i]] += n
    missing = [pc for pc in counts if pc not in sizes]
    if missing:
        raise RuntimeError(f"blocks executed but never logged: {missing[:4]}")
    return counts, [pcs[i] for i in seq], sizes


def count(arch, driver, table, routine, width, channels, n, workdir):
    """(samples, block counts, block sequence, block sizes) of one run of n
    samples."""
    log = Path(workdir) / f"{table}-{routine}-{width}-{channels}-{n}.log"
    cmd = qemu_cmd(arch, driver, table, routine, width, channels, n)
    cmd[1:1] = ["-d", "in_asm,exec,nochain", "-D", str(log)]
    out = run(cmd)
    samples = int(out.split()[1])
    try:
        counts, sequence, sizes = parse_log(log, *markers(arch, driver))
    finally:
        log.unlink()
    return samples, counts, sequence, sizes


_markers = {}


def markers(arch, driver):
    if driver not in _markers:
        syms = Symbols(ARCHES[arch]["tools"] + "nm", driver)
        _markers[driver] = (syms.by_name["kivo_count_begin"][0],
                            syms.by_name["kivo_count_end"][0])
    return _markers[driver]


def measure(arch, driver, table, routine, width, channels, workdir):
    s1, c1, _, z1 = count(arch, driver, table, routine, width, channels, N, workdir)
    s2, c2, sequence, z2 = count(arch, driver, table, routine, width, channels, 2 * N, workdir)
    sizes = {**z1, **z2}
    insns = lambda c: sum(n * sizes[pc] for pc, n in c.items())
    ds, di = s2 - s1, insns(c2) - insns(c1)
    growth = {pc: c2[pc] - c1.get(pc, 0) for pc in c2}
    head = max(growth, key=growth.get)
    # The window: whole passes from the head back to it, taken from the
    # sequence a third of the way in, until it holds WINDOW instructions.
    at = [i for i, pc in enumerate(sequence) if pc == head]
    first = len(at) // 3
    last, held = first, 0
    while held < WINDOW and last + 1 < len(at):
        held += sum(sizes[pc] for pc in sequence[at[last]:at[last + 1]])
        last += 1
    window = sequence[at[first]:at[last]]
    return dict(per_sample=di / ds, window=[(pc, sizes[pc]) for pc in window],
                passes=last - first, samples_per_pass=ds / growth[head],
                insns_per_pass=di / growth[head])


class Code:
    """Instructions as objdump shows them, from the module when it holds the
    function, else from the driver."""

    def __init__(self, arch, driver, module):
        a = ARCHES[arch]
        self.arch = a
        self.objdump = a["tools"] + "objdump"
        self.driver, self.module = driver, module
        self.dsyms = Symbols(a["tools"] + "nm", driver)
        self.msyms = Symbols(a["tools"] + "nm", module)
        self.cache = {}

    def listing(self, binary, start, stop):
        key = (binary, start, stop)
        if key not in self.cache:
            text = run([self.objdump, "-d", "--no-show-raw-insn", f"--start-address={start:#x}",
                        f"--stop-address={stop:#x}", str(binary)])
            rows = []
            for line in text.splitlines():
                m = re.match(r"\s*([0-9a-f]+):\t(.*)$", line)
                if m:
                    rows.append((int(m.group(1), 16), self.clean(m.group(2))))
            self.cache[key] = rows
        return self.cache[key]

    def clean(self, text):
        text = text.split(self.arch["comment"])[0] if self.arch["comment"] in text else text
        text = re.sub(r"\b(?:0x)?[0-9a-f]+ <[^>]*>", LABEL, text)
        return " ".join(text.split())

    def block(self, pc, n):
        """The n instructions from pc, and where they were read."""
        sym = self.dsyms.find(pc)
        binary, address, where = self.driver, pc, "driver"
        if sym:
            start, size, name = sym
            twin = self.msyms.by_name.get(name)
            if twin and twin[1] == size:
                binary, address, where = self.module, twin[0] + pc - start, "module"
        rows = self.listing(binary, address, address + 16 * n)
        if len(rows) < n:
            raise RuntimeError(f"objdump gave {len(rows)} of {n} instructions at {address:#x}")
        return [t for _, t in rows[:n]], where, (sym[2] if sym else hex(pc))


def mca(arch, lines, cpu):
    """(cycles per iteration, model, lines left out) of llvm-mca-14 on the
    window, repeated to about 100,000 instructions; lines it cannot parse are
    left out and counted."""
    a = ARCHES[arch]
    lines = list(lines)
    dropped = 0
    for _ in range(8):
        text = LABEL + ":\n" + "".join(f"  {l}\n" for l in lines)
        p = subprocess.run(["llvm-mca-14", f"-mtriple={a['triple']}", f"-mcpu={cpu}",
                            f"-iterations={max(10, 100000 // max(1, len(lines)))}", "-"],
                           input=text, text=True,
                           capture_output=True)
        if p.returncode == 0:
            cycles = int(re.search(r"Total Cycles:\s+(\d+)", p.stdout).group(1))
            iterations = int(re.search(r"Iterations:\s+(\d+)", p.stdout).group(1))
            res = re.search(r"Resources:\n\[[^\]]*\]\s+- (\S+)", p.stdout).group(1)
            model = next((m for prefix, m in MODELS if res.startswith(prefix)), res)
            return cycles / iterations, model, dropped
        bad = {int(m.group(1)) - 2 for m in re.finditer(r"<stdin>:(\d+):\d+: error", p.stderr)}
        if not bad:
            raise RuntimeError(p.stderr)
        dropped += len(bad)
        lines = [l for i, l in enumerate(lines) if i not in bad]
    raise RuntimeError(p.stderr)


def job(arch, driver, table, cfg, workdir):
    return measure(arch, driver, table, *cfg, workdir)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--arch", choices=list(ARCHES) + ["all"], default="aarch64")
    ap.add_argument("-j", "--jobs", type=int, default=1, help="QEMU runs at once (default 1)")
    ap.add_argument("--routine", action="append", choices=ROUTINES,
                    help="only these routines (repeatable)")
    ap.add_argument("--loops", type=Path, help="write every loop given to llvm-mca to FILE")
    ap.add_argument("--check", action="store_true",
                    help="also count one small run per table instruction by instruction "
                         "(-singlestep) and compare")
    args = ap.parse_args()
    arches = list(ARCHES) if args.arch == "all" else [args.arch]
    loops_out = open(args.loops, "w") if args.loops else None
    print(f"Estimates, {datetime.date.today()}, {platform.node() or 'this machine'} "
          f"({cpu_name()}), QEMU user mode and llvm-mca-14; not measurements.\n")
    for arch in arches:
        report(arch, args, loops_out)


def cpu_name():
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            return line.split(":", 1)[1].strip()
    return platform.processor()


def report(arch, args, loops_out):
    a = ARCHES[arch]
    driver, module = build(arch)
    tables = list_tables(arch, driver)
    code = Code(arch, driver, module)
    cfgs = configs(args.routine or ROUTINES)
    work = tempfile.mkdtemp(prefix="kivo-estimates-")
    if args.check:
        check(arch, driver, tables, work)
    # One run per distinct function: tables that share a form share its figures.
    todo = {}
    for name, _, forms in tables:
        for cfg in cfgs:
            todo.setdefault((forms[cfg[0]], cfg), name)
    results = {}
    with concurrent.futures.ProcessPoolExecutor(max_workers=args.jobs) as pool:
        futures = {key: pool.submit(job, arch, driver, table, key[1], work)
                   for key, table in todo.items()}
        for key, f in futures.items():
            results[key] = f.result()
    os.rmdir(work)

    models = {}
    rows = []
    for cfg in cfgs:
        plain = None
        for name, shipped, forms in tables:
            r = results[(forms[cfg[0]], cfg)]
            if "mca" not in r:
                lines, wheres, funcs, pass_end = [], set(), [], None
                for i, (pc, n) in enumerate(r["window"]):
                    block, where, func = code.block(pc, n)
                    lines += block
                    wheres.add(where)
                    funcs.append(func)
                    if pass_end is None and i + 1 < len(r["window"]) and \
                            r["window"][i + 1][0] == r["window"][0][0]:
                        pass_end = len(lines)
                # Samples the window stands for: its instructions over the
                # instructions per sample.
                samples = len(lines) / r["per_sample"]
                r["mca"] = {}
                for cpu in a["cpus"]:
                    cycles, model, dropped = mca(arch, lines, cpu)
                    models[cpu] = model
                    r["mca"][cpu] = (cycles / samples, dropped)
                r["where"] = "+".join(sorted(wheres))
                if loops_out:
                    loops_out.write(
                        f"# {arch} {name} {cfg[0]} width {cfg[1]} channels {cfg[2]}: "
                        f"{r['samples_per_pass']:.3g} samples and {r['insns_per_pass']:.4g} "
                        f"instructions per pass, read from the {r['where']} "
                        f"({', '.join(dict.fromkeys(demangle(f) for f in funcs))}); the "
                        f"first of the window's {r['passes']} passes ({len(lines)} "
                        f"instructions):\n{LABEL}:\n" +
                        "".join(f"  {l}\n" for l in lines[:pass_end or len(lines)]) + "\n")
            if plain is None:
                plain = r
            rows.append((cfg, name + (" (shipped)" if shipped else ""), r, plain))

    print(f"## {arch}: {', '.join(t[0] for t in tables)} (estimates)\n")
    print(f"count_samplekit of `{a['build']}` under `{a['qemu']} -cpu max`; loops read from "
          f"`{module.relative_to(ROOT)}` (module) or `{driver.relative_to(ROOT)}` (driver). "
          "llvm-mca-14 " + ", ".join(f"`-mcpu={c}`: {models[c]}" for c in a["cpus"]) + ".\n")
    head = ["routine", "width", "ch", "table", "instr/sample (est.)", "plain/this",
            "loop: samples/pass", "instr/pass", "from"]
    head += [f"cyc/sample {c} (est.)" for c in a["cpus"]]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for (routine, width, channels), name, r, plain in rows:
        cells = [routine, str(width), str(channels) if routine == "ratecv" else "", name,
                 f"{r['per_sample']:.2f}", f"{plain['per_sample'] / r['per_sample']:.2f}",
                 f"{r['samples_per_pass']:.3g}", f"{r['insns_per_pass']:.3g}", r["where"]]
        for cpu in a["cpus"]:
            cycles, dropped = r["mca"][cpu]
            cells.append(f"{cycles:.2f}" + (f" ({dropped} dropped)" if dropped else ""))
        print("| " + " | ".join(cells) + " |")
    print()
    sys.stdout.flush()


def demangle(name):
    try:
        return run(["c++filt", name]).strip().split("(")[0]
    except (OSError, subprocess.CalledProcessError):
        return name


def check(arch, driver, tables, work):
    """Block-weighted count against one instruction per block, per table."""
    for name, _, _ in tables:
        for routine in ("add", "ratecv"):
            got = []
            for single in (False, True):
                log = Path(work) / "check.log"
                cmd = qemu_cmd(arch, driver, name, routine, 2, 2, 4096, single_step=single)
                cmd[1:1] = ["-d", "in_asm,exec,nochain", "-D", str(log)]
                run(cmd)
                counts, _, sizes = parse_log(log, *markers(arch, driver))
                log.unlink()
                got.append(sum(n * sizes[pc] for pc, n in counts.items()))
            status = "agree" if got[0] == got[1] else "DISAGREE"
            print(f"check {arch} {name} {routine}: {got[0]} instructions by blocks, "
                  f"{got[1]} one by one: {status}", file=sys.stderr)
            if got[0] != got[1]:
                sys.exit(1)


if __name__ == "__main__":
    main()

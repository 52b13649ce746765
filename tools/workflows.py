#!/usr/bin/python3
"""Runs every workflow preset of CMakePresets.json, one after another, and
closes with one summary line.

A workflow counts as
  passed   when it ran and ctest ran every test;
  failed   when a step failed;
  skipped  when a tool it needs is missing (its configure preset lists the
           commands under vendor "kivo/needs"), or when it ran but ctest
           reported tests as skipped; the reasons are printed.
A workflow is never reported as passed when anything of it did not run.
Exits 1 when a workflow failed.

With --main-preset it prints instead the configure preset that builds into
build/, where the host loader and the main job look for the modules.
"""
import json
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def presets():
    with open(os.path.join(ROOT, "CMakePresets.json")) as f:
        data = json.load(f)
    configure = {p["name"]: p for p in data.get("configurePresets", [])}
    workflows = [w["name"] for w in data.get("workflowPresets", [])]
    steps = {w["name"]: w["steps"] for w in data.get("workflowPresets", [])}
    return configure, workflows, steps


def inherited(configure, name, key):
    """A configure preset's value for key, from the preset or what it inherits."""
    preset = configure[name]
    if key in preset:
        return preset[key]
    parents = preset.get("inherits", [])
    for parent in [parents] if isinstance(parents, str) else parents:
        value = inherited(configure, parent, key)
        if value is not None:
            return value
    return None


def needs(configure, name):
    vendor = inherited(configure, name, "vendor") or {}
    return vendor.get("kivo/needs", [])


def binary_dir(configure, name):
    path = inherited(configure, name, "binaryDir") or ""
    return path.replace("${sourceDir}", ROOT)


def skipped_tests(output, build):
    """(test, reason) for every test that ctest's summary in output lists as
    skipped; the reason is the last line of the test's output in the build's
    log of the last run."""
    names = re.findall(r"^\s*\d+ - (\S+) \(Skipped\)$", output, re.M)
    log = os.path.join(build, "Testing", "Temporary", "LastTest.log")
    outputs = {}
    if os.path.exists(log):
        with open(log, errors="replace") as f:
            for block in re.split(r"\n(?=\d+/\d+ Testing: )", f.read()):
                m = re.match(r"\d+/\d+ Testing: (\S+)", block)
                if m:
                    text = block.split("Output:\n", 1)[-1].split("<end of output>", 1)[0]
                    lines = [l.strip() for l in text.splitlines()
                             if l.strip() and not l.startswith("---")]
                    outputs[m.group(1)] = lines[-1] if lines else "no reason given"
    return [(name, outputs.get(name, "no reason given")) for name in names]


def run(command):
    """Runs command in the root, its output passed on and kept; (status, output)."""
    proc = subprocess.Popen(command, cwd=ROOT, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, errors="replace")
    kept = []
    for line in proc.stdout:
        sys.stdout.write(line)
        kept.append(line)
    return proc.wait(), "".join(kept)


def main():
    configure, workflows, steps = presets()
    if sys.argv[1:] == ["--main-preset"]:
        main_build = os.path.join(ROOT, "build")
        print(next(name for name in configure if binary_dir(configure, name) == main_build))
        return 0
    results = {"passed": [], "failed": [], "skipped": []}
    for name in workflows:
        conf = next(s["name"] for s in steps[name] if s["type"] == "configure")
        missing = [tool for tool in needs(configure, conf) if not shutil.which(tool)]
        if missing:
            print("==== workflow %s: skipped: %s missing" % (name, ", ".join(missing)), flush=True)
            results["skipped"].append(name)
            continue
        print("==== workflow %s" % name, flush=True)
        status, output = run(["cmake", "--workflow", "--preset", name])
        if status != 0:
            results["failed"].append(name)
            continue
        skipped = skipped_tests(output, binary_dir(configure, conf))
        if skipped:
            print("==== workflow %s: skipped, as %d of its tests did not run here:"
                  % (name, len(skipped)))
            for test, reason in skipped:
                print("       %s: %s" % (test, reason))
            results["skipped"].append(name)
        else:
            results["passed"].append(name)
        sys.stdout.flush()
    print("==== " + "; ".join("%s: %s" % (k, " ".join(v) or "none") for k, v in results.items()))
    print("workflows: " + ", ".join("%d %s" % (len(v), k) for k, v in results.items()))
    return 1 if results["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())

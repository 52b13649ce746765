#!/usr/bin/python3
"""Builds the modules for release and installs them into one folder, with
SHA256SUMS and manifest.json (what each file is: its target, its module, the
form each fragment routine ships in, the compiler that built it).

    tools/release.py [--win64 | --all] [BUILD_DIR [DIST_DIR]]

Without an option: the shipped pair, the 32-bit Windows DLLs (preset win32).
--win64 adds the 64-bit Windows pair, --all every target: both Windows pairs,
the Linux x86-64 pair and the Linux i686 and aarch64 _samplekit. BUILD_DIR
(default build/release-win32) is the win32 build; every other preset builds
in BUILD_DIR with its trailing "win32" made the preset's name (or
BUILD_DIR-<preset>). DIST_DIR (default dist) is replaced. A target whose tools
are missing (its preset's vendor "kivo/needs" in CMakePresets.json) is left
out, with one line saying why. The builds are reproducible: clones at other
paths, built at other times, give the same bytes.

    tools/release.py --read-forms OBJECT JSON

writes the shipped forms that samplekit/forms.cpp compiled into OBJECT as JSON
(the build does this; see samplekit/CMakeLists.txt).
"""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import workflows  # noqa: E402  (the presets and their needs)

PRESETS = {None: ["win32"], "--win64": ["win32", "win64"],
           "--all": ["win32", "win64", "default", "linux-i686", "linux-aarch64"]}
MARKER = re.compile(rb"KIVO-SHIPPED-FORMS(\{[^\0]*\})\0")


def read_forms(obj, out):
    with open(obj, "rb") as f:
        m = MARKER.search(f.read())
    if not m:
        sys.exit("%s holds no shipped forms" % obj)
    forms = json.loads(m.group(1))
    with open(out, "w") as f:
        json.dump(forms, f, indent=2, sort_keys=True)
        f.write("\n")


def build_dir(base, preset):
    if preset == "win32":
        return base
    return base[:-len("win32")] + preset if base.endswith("win32") else base + "-" + preset


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main(argv):
    if argv[:1] == ["--read-forms"]:
        return read_forms(*argv[1:3])
    option = argv[0] if argv[:1] and argv[0].startswith("--") else None
    if option not in PRESETS:
        sys.exit("usage: tools/release.sh [--win64 | --all] [BUILD_DIR [DIST_DIR]]")
    args = argv[1:] if option else argv
    base = os.path.abspath(args[0] if args else os.path.join(ROOT, "build", "release-win32"))
    dist = os.path.abspath(args[1] if len(args) > 1 else os.path.join(ROOT, "dist"))
    subprocess.run(["sh", os.path.join(ROOT, "tools", "setup.sh")], check=True,
                   stdout=subprocess.DEVNULL)

    configure, _, _ = workflows.presets()
    built = []
    for preset in PRESETS[option]:
        missing = [t for t in workflows.needs(configure, preset) if not shutil.which(t)]
        if missing:
            print("release: %s left out: %s missing" % (preset, ", ".join(missing)))
            continue
        d = build_dir(base, preset)
        subprocess.run(["cmake", "--preset", preset, "-B", d, "-DKIVO_TESTS=OFF",
                        "-DKIVO_BENCH=OFF"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", d], cwd=ROOT, check=True)
        built.append(d)

    if os.path.exists(dist):
        shutil.rmtree(dist)
    files = []
    for d in built:
        subprocess.run(["cmake", "--install", d, "--prefix", dist, "--component", "modules"],
                       check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(d, "kivo_modules.json")) as f:
            facts = json.load(f)
        with open(os.path.join(d, "samplekit_forms.json")) as f:
            forms = json.load(f)
        for module, entry in sorted(facts["modules"].items()):
            record = {"file": os.path.basename(entry["file"]), "module": module,
                      "target": facts["target"], "compiler": facts["compiler"]}
            if module == "_samplekit":
                record["fragment routines"] = forms
            files.append(record)
    files.sort(key=lambda r: r["file"])
    for record in files:
        record["sha256"] = sha256(os.path.join(dist, record["file"]))
    with open(os.path.join(dist, "manifest.json"), "w") as f:
        json.dump({"files": files}, f, indent=2)
        f.write("\n")
    names = sorted(os.listdir(dist))
    with open(os.path.join(dist, "SHA256SUMS"), "w") as f:
        for name in names:
            f.write("%s  %s\n" % (sha256(os.path.join(dist, name)), name))
    with open(os.path.join(dist, "SHA256SUMS")) as f:
        sys.stdout.write(f.read())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

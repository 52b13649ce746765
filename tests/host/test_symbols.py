"""What the built modules export, need and run at load."""
import os
import re
import subprocess

import pytest

import kivohost

MODULES = ["_samplekit"]
SANITIZED = os.environ.get("KIVO_SANITIZED") == "1"


def run(*cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def present(name):
    try:
        return kivohost.module_path(name)
    except FileNotFoundError:
        return None


@pytest.mark.parametrize("name", [m for m in MODULES if present(m)])
def test_exports_exactly_the_two_entries(name):
    path = kivohost.module_path(name)
    names = [line.split()[-1] for line in
             run("nm", "-D", "--defined-only", path).splitlines() if line.strip()]
    assert sorted(names) == sorted(["_cffi_kivoinit_" + name, "PyInit_" + name])
    for line in run("nm", "-D", "--defined-only", path).splitlines():
        assert line.split()[1] == "T"   # both are functions


@pytest.mark.skipif(SANITIZED, reason="a sanitized build needs its runtime")
@pytest.mark.parametrize("name", [m for m in MODULES if present(m)])
def test_needs_only_the_c_runtime(name):
    needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]",
                        run("readelf", "-d", kivohost.module_path(name)))
    assert set(needed) <= {"libc.so.6"}, needed
    undefined = run("nm", "-D", "--undefined-only", kivohost.module_path(name))
    assert "GLIBCXX" not in undefined and "CXXABI" not in undefined


def start_up_sections(path):
    sections = {}
    for line in run("readelf", "-SW", path).splitlines():
        m = re.match(r"\s*\[\s*\d+\]\s+(\S+)\s+\S+\s+\S+\s+\S+\s+([0-9a-f]+)", line)
        if m and m.group(1) in (".init_array", ".fini_array", ".preinit_array",
                                ".ctors", ".dtors", ".tbss", ".tdata"):
            sections[m.group(1)] = int(m.group(2), 16)
    return sections


@pytest.mark.skipif(SANITIZED, reason="sanitizers add start-up code of their own")
@pytest.mark.parametrize("name", [m for m in MODULES if present(m)])
def test_no_start_up_code_of_its_own(name):
    empty = os.environ["KIVO_EMPTY_MODULE"]
    assert start_up_sections(kivohost.module_path(name)) == start_up_sections(empty)
    # The same holds for the entries themselves, not only their count.
    def init_entries(path):
        dump = run("objdump", "-s", "-j", ".init_array", path)
        return len(re.findall(r"^ [0-9a-f]+ ", dump, re.M))
    assert init_entries(kivohost.module_path(name)) == init_entries(empty)

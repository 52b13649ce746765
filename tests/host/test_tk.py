"""Tk through tclbridge on a real X display: Tk_Init, a button whose command
the host registered, and Tk_GetNumMainWindows over the window's life.

Without a DISPLAY, the tests start their own Xvfb and stop it afterwards by
its process id. Several test runs may share the machine, so the display
number is picked at random among the free ones, and the server counts as
started only once the display's lock file names its process and its socket
takes connections.
"""
import ctypes
import os
import random
import signal
import socket
import subprocess
import time

import pytest

OK, ERROR = 0, 1
PR_SET_PDEATHSIG = 1


def die_with_the_tests():
    # in the child, before Xvfb runs: a test process that dies abruptly
    # takes its server along
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def lock_owner(number):
    try:
        with open("/tmp/.X%d-lock" % number) as f:
            return int(f.read().strip() or 0)
    except (OSError, ValueError):
        return None


def accepts_connections(number):
    with socket.socket(socket.AF_UNIX) as s:
        try:
            s.connect("/tmp/.X11-unix/X%d" % number)
            return True
        except OSError:
            return False


def stop(server):
    server.terminate()
    try:
        server.wait(timeout=10)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait()


def start_xvfb():
    rng = random.Random()
    # the server's own environment: no sanitizer runtime preloaded into it
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    for _ in range(20):
        number = rng.randrange(100, 30000)
        if lock_owner(number) is not None or os.path.exists("/tmp/.X11-unix/X%d" % number):
            continue
        server = subprocess.Popen(
            ["Xvfb", ":%d" % number, "-nolisten", "tcp", "-screen", "0", "640x480x24"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, env=env, preexec_fn=die_with_the_tests)
        deadline = time.monotonic() + 30
        while server.poll() is None and time.monotonic() < deadline:
            if lock_owner(number) == server.pid and accepts_connections(number):
                return server, ":%d" % number
            time.sleep(0.05)
        stop(server)       # lost the number to another server, or hung
    pytest.fail("could not start Xvfb on a free display")


@pytest.fixture(scope="module")
def display():
    if os.environ.get("DISPLAY"):
        yield os.environ["DISPLAY"]
        return
    server, name = start_xvfb()
    try:
        yield name
    finally:
        stop(server)


def tk_interp(tcl, display_name):
    ip = tcl.Tcl_CreateInterp()
    assert tcl.Tcl_Init(ip) == OK, tcl.result(ip)
    # Tk takes the display from env(DISPLAY) of the interpreter
    tcl.Tcl_SetVar2(ip, b"env", b"DISPLAY", display_name.encode(),
                    tcl.lib.TCL_GLOBAL_ONLY)
    return ip


def run_pending(tcl):
    handled = 0
    while tcl.Tcl_DoOneEvent(tcl.lib.TCL_DONT_WAIT):
        handled += 1
        assert handled < 100000, "events keep coming"
    return handled


def test_tk_init_failure_reaches_the_caller(tcl):
    ip = tk_interp(tcl, "unix:65000")      # nothing serves this display
    try:
        assert tcl.Tk_Init(ip) == ERROR
        assert tcl.result(ip) == 'couldn\'t connect to display "unix:65000"'
        assert tcl.Tk_GetNumMainWindows() == 0
    finally:
        tcl.Tcl_DeleteInterp(ip)


def test_main_window_button_and_destroy(tcl, display):
    ffi = tcl.ffi
    assert tcl.Tk_GetNumMainWindows() == 0
    ip = tk_interp(tcl, display)
    clicks = []

    @ffi.callback("Tcl_CmdProc")
    def clicked(client_data, interp, argc, argv):
        clicks.append([ffi.string(argv[i]).decode() for i in range(argc)])
        tcl.Tcl_SetObjResult(interp, tcl.Tcl_NewLongObj(len(clicks)))
        return OK

    try:
        assert tcl.Tk_Init(ip) == OK, tcl.result(ip)
        assert tcl.Tk_GetNumMainWindows() == 1
        assert tcl.ok(ip, "winfo screen .") == display + ".0"
        assert tcl.ok(ip, "set tk_version") == ffi.string(tcl.get_tk_version()).decode()

        tcl.Tcl_CreateCommand(ip, b"clicked", clicked, ffi.NULL, ffi.NULL)
        tcl.ok(ip, "button .b -text Press -command {clicked from button}; pack .b")
        tcl.ok(ip, "update")
        assert tcl.ok(ip, "winfo ismapped .b") == "1"
        assert tcl.ok(ip, ".b invoke") == "1"
        assert clicks == [["clicked", "from", "button"]]

        # the same through the event loop: a timer invokes the button
        tcl.ok(ip, "after 0 {.b invoke}")
        run_pending(tcl)
        assert len(clicks) == 2

        tcl.ok(ip, "destroy .")
        run_pending(tcl)
        assert tcl.Tk_GetNumMainWindows() == 0
        assert len(clicks) == 2
    finally:
        tcl.Tcl_DeleteInterp(ip)

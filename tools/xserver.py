"""An Xvfb server on a free display, for runs without a display.

Several runs may share the machine, so the display number is picked at random
among the free ones, and the server counts as started only once the
display's lock file names its process and its socket takes connections. The
server is stopped by its process id, and dies with the process that started
it should that one end abruptly.
"""
import ctypes
import os
import random
import signal
import socket
import subprocess
import time

PR_SET_PDEATHSIG = 1


def _die_with_the_parent():
    # in the child, before Xvfb runs
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def _lock_owner(number):
    try:
        with open("/tmp/.X%d-lock" % number) as f:
            return int(f.read().strip() or 0)
    except (OSError, ValueError):
        return None


def _accepts_connections(number):
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


def start(screen="800x600x24"):
    """(server process, display name); raises RuntimeError when no server
    could be started."""
    rng = random.Random()
    # the server's own environment: no sanitizer runtime preloaded into it
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    for _ in range(20):
        number = rng.randrange(100, 30000)
        if _lock_owner(number) is not None or \
           os.path.exists("/tmp/.X11-unix/X%d" % number):
            continue
        try:
            server = subprocess.Popen(
                ["Xvfb", ":%d" % number, "-nolisten", "tcp", "-screen", "0", screen],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, env=env,
                preexec_fn=_die_with_the_parent)
        except FileNotFoundError:
            raise RuntimeError("Xvfb is not installed") from None
        deadline = time.monotonic() + 30
        while server.poll() is None and time.monotonic() < deadline:
            if _lock_owner(number) == server.pid and _accepts_connections(number):
                return server, ":%d" % number
            time.sleep(0.05)
        stop(server)   # lost the number to another server, or hung
    raise RuntimeError("could not start Xvfb on a free display")

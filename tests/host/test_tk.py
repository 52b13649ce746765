"""Tk through tclbridge on a real X display: Tk_Init, a button whose command
the host registered, and Tk_GetNumMainWindows over the window's life.

Without a DISPLAY, the tests start their own Xvfb (tools/xserver.py) and stop
it afterwards by its process id.
"""
import os

import pytest

import xserver

OK, ERROR = 0, 1


@pytest.fixture(scope="module")
def display():
    if os.environ.get("DISPLAY"):
        yield os.environ["DISPLAY"]
        return
    try:
        server, name = xserver.start("640x480x24")
    except RuntimeError as e:
        pytest.fail(str(e))
    try:
        yield name
    finally:
        xserver.stop(server)


def tk_interp(tcl, display_name):
    ip = tcl.Tcl_CreateInterp()
    assert tcl.Tcl_Init(ip) == OK, tcl.result(ip)
    # Tk takes the display from env(DISPLAY) of the interpreter
    tcl.Tcl_SetVar2(ip, b"env", b"DISPLAY", display_name.encode(),
                    tcl.lib.TCL_GLOBAL_ONLY)
    return ip


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
        tcl.run_pending()
        assert len(clicks) == 2

        tcl.ok(ip, "destroy .")
        tcl.run_pending()
        assert tcl.Tk_GetNumMainWindows() == 0
        assert len(clicks) == 2
    finally:
        tcl.Tcl_DeleteInterp(ip)

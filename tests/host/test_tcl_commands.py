"""Commands registered by the host with Tcl_CreateCommand, the event loop
through Tcl_DoOneEvent, and Tcl_GetCurrentThread."""
import os
import subprocess
import sys
import threading

import pytest

import kivohost

OK, ERROR = 0, 1


class Commands:
    """Python command procedures registered in an interpreter; every call
    and every deletion is noted in `log`."""

    def __init__(self, tcl, interp):
        self.tcl, self.interp, self.ffi = tcl, interp, tcl.ffi
        self.log = []
        self._keep = []
        ffi = self.ffi

        @ffi.callback("Tcl_CmdProc")
        def proc(client_data, ip, argc, argv):
            behaviour = ffi.from_handle(client_data)
            words = [ffi.string(argv[i]).decode() for i in range(argc)]
            self.log.append(("call", behaviour["tag"], words))
            code, text = behaviour["run"](ip, words)
            tcl.Tcl_SetObjResult(ip, tcl.Tcl_NewStringObj(text.encode(), -1))
            return code

        @ffi.callback("Tcl_CmdDeleteProc")
        def deleted(client_data):
            self.log.append(("deleted", ffi.from_handle(client_data)["tag"]))

        self.proc, self.deleted = proc, deleted

    def create(self, name, run, tag=None, with_delete=True):
        handle = self.ffi.new_handle({"tag": tag or name, "run": run})
        self._keep.append(handle)
        token = self.tcl.Tcl_CreateCommand(
            self.interp, name.encode(), self.proc, handle,
            self.deleted if with_delete else self.ffi.NULL)
        assert token != self.ffi.NULL
        return token


@pytest.fixture
def commands(tcl, interp):
    return Commands(tcl, interp)


def echo(ip, words):
    return OK, "|".join(words)


def test_command_gets_its_words_and_sets_the_result(tcl, interp, commands):
    commands.create("greet", echo)
    assert tcl.eval(interp, 'greet a "b c" {d $e} [expr {1 + 2}] \u00e9') == (
        OK, "greet|a|b c|d $e|3|\u00e9")
    assert tcl.eval(interp, "greet") == (OK, "greet")
    # the result is an ordinary value inside scripts
    assert tcl.ok(interp, "string length [greet xy]") == "8"
    assert commands.log == [
        ("call", "greet", ["greet", "a", "b c", "d $e", "3", "\u00e9"]),
        ("call", "greet", ["greet"]),
        ("call", "greet", ["greet", "xy"]),
    ]


def test_command_called_from_procedures_and_loops(tcl, interp, commands):
    total = []

    def add(ip, words):
        total.append(int(words[1]))
        return OK, str(sum(total))
    commands.create("add", add)
    tcl.ok(interp, "proc run {n} {for {set i 1} {$i <= $n} {incr i} {set s [add $i]}; return $s}")
    assert tcl.ok(interp, "run 100") == "5050"
    assert len(commands.log) == 100


def test_command_errors_reach_the_script_and_the_host(tcl, interp, commands):
    commands.create("fail", lambda ip, words: (ERROR, "failed with " + words[1]))
    assert tcl.eval(interp, "fail badly") == (ERROR, "failed with badly")
    assert 'while executing\n"fail badly"' in tcl.ok(interp, "set ::errorInfo")
    assert tcl.ok(interp, "list [catch {fail softly} m] $m") == "1 {failed with softly}"


def test_command_may_evaluate_scripts_itself(tcl, interp, commands):
    def twice(ip, words):
        code = tcl.Tcl_Eval(ip, ("string repeat {%s} 2" % words[1]).encode())
        return code, tcl.result(ip)
    commands.create("twice", twice)
    assert tcl.ok(interp, "twice [twice ab]") == "abababab"


def test_delete_command_calls_its_delete_proc_once(tcl, interp, commands):
    commands.create("temp", echo, tag="first")
    assert tcl.ok(interp, "temp 1") == "temp|1"
    assert tcl.Tcl_DeleteCommand(interp, b"temp") == 0
    assert commands.log[-1] == ("deleted", "first")
    assert tcl.ok(interp, "info commands temp") == ""
    assert tcl.eval(interp, "temp 2") == (ERROR, 'invalid command name "temp"')
    # no such command any more: -1, and no second deletion
    assert tcl.Tcl_DeleteCommand(interp, b"temp") == -1
    assert [e for e in commands.log if e[0] == "deleted"] == [("deleted", "first")]


def test_redefinition_and_interpreter_deletion_delete_commands(tcl):
    ip = tcl.Tcl_CreateInterp()
    own = Commands(tcl, ip)
    own.create("cmd", echo, tag="old")
    own.create("cmd", echo, tag="new")          # replaces: the old one goes
    assert own.log == [("deleted", "old")]
    own.create("other", echo, tag="other")
    own.create("plain", echo, with_delete=False)
    assert tcl.ok(ip, "plain x") == "plain|x"
    tcl.Tcl_DeleteInterp(ip)
    assert sorted(e for e in own.log[1:] if e[0] == "deleted") == [
        ("deleted", "new"), ("deleted", "other")]


def test_command_deleted_by_rename(tcl, interp, commands):
    commands.create("gone", echo)
    tcl.ok(interp, "rename gone {}")
    assert commands.log == [("deleted", "gone")]
    assert tcl.Tcl_DeleteCommand(interp, b"gone") == -1


# -- events ----------------------------------------------------------------------

def test_do_one_event_without_waiting(tcl, interp, commands):
    tcl.run_pending()
    assert tcl.Tcl_DoOneEvent(tcl.lib.TCL_DONT_WAIT) == 0     # nothing ready

    commands.create("tick", echo)
    tcl.ok(interp, "set fired {}; after 0 {lappend fired timer; tick}; "
                   "after idle {lappend fired idle}")
    tcl.ok(interp, "set late [after 600000 {set late fired}]")
    assert tcl.ok(interp, "set fired") == ""           # nothing runs by itself
    assert tcl.run_pending() >= 1
    assert tcl.ok(interp, "set fired") == "timer idle"
    assert commands.log == [("call", "tick", ["tick"])]
    # the far timer is pending, but TCL_DONT_WAIT never waits for it
    assert tcl.Tcl_DoOneEvent(tcl.lib.TCL_DONT_WAIT) == 0
    assert tcl.ok(interp, "string match after#* $late") == "1"
    tcl.ok(interp, "after cancel $late")


# -- threads ---------------------------------------------------------------------

def thread_id(tcl):
    return int(tcl.ffi.cast("uintptr_t", tcl.Tcl_GetCurrentThread()))


def test_current_thread_is_this_thread(tcl):
    here = thread_id(tcl)
    assert here != 0 and here == thread_id(tcl)
    # Tcl and the host name threads alike (the POSIX thread)
    assert here == threading.get_ident()
    seen = []
    worker = threading.Thread(target=lambda: seen.append(
        (thread_id(tcl), threading.get_ident())))
    worker.start()
    worker.join()
    (there, ident), = seen
    assert there == ident and there != here


def test_demonstration_runs_without_a_display(tclbridge):
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
    tool = os.path.join(kivohost.ROOT, "demo", "demo_tcl.py")
    out = subprocess.run([sys.executable, tool, tclbridge.path], env=env,
                         check=True, capture_output=True, text=True).stdout
    assert "py_upper hello from tcl" in out and "TCL_OK: HELLO FROM TCL" in out
    assert "py_upper was called 4 times" in out
    assert "TCL_ERROR: divide by zero" in out

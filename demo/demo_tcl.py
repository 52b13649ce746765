#!/usr/bin/python3
"""Drive a Tcl interpreter through tclbridge, the way the host does.

Loads the built module through the host path (kivohost), creates and
initialises an interpreter, evaluates a script, registers a command written
in Python with Tcl_CreateCommand and calls it from Tcl, and reports the Tcl
and Tk versions the module was built with. Needs no X display.

usage: demo_tcl.py [MODULE_FILE]
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import kivohost  # noqa: E402


def main(argv):
    module = kivohost.Module("tclbridge", argv[0] if argv else None)
    ffi, lib, fn = module.ffi, module.lib, module.function
    print("module: %s" % os.path.basename(module.path))
    print("Tcl version %s, Tk version %s (from get_tcl_version, get_tk_version)"
          % (ffi.string(fn("get_tcl_version")()).decode(),
             ffi.string(fn("get_tk_version")()).decode()))

    fn("Tcl_FindExecutable")(ffi.NULL)
    interp = fn("Tcl_CreateInterp")()

    def run(script):
        code = fn("Tcl_Eval")(interp, script.encode())
        result = ffi.string(fn("Tcl_GetStringResult")(interp)).decode()
        status = {lib.TCL_OK: "TCL_OK", lib.TCL_ERROR: "TCL_ERROR"}.get(
            code, "code %d" % code)
        print("  %-48s -> %s: %s" % (script, status, result))
        return code

    try:
        if fn("Tcl_Init")(interp) != lib.TCL_OK:
            print("Tcl_Init failed: %s"
                  % ffi.string(fn("Tcl_GetStringResult")(interp)).decode())
            return 1
        print("script:")
        run("info patchlevel")
        run("foreach i {1 2 3 4 5} {lappend squares [expr {$i*$i}]}; set squares")
        run("expr {[tcl::mathop::+ {*}$squares] / 5.0}")

        calls = []

        @ffi.callback("Tcl_CmdProc")
        def py_upper(client_data, ip, argc, argv):
            words = [ffi.string(argv[i]).decode() for i in range(1, argc)]
            calls.append(words)
            text = " ".join(words).upper()
            fn("Tcl_SetObjResult")(ip, fn("Tcl_NewStringObj")(text.encode(), -1))
            return lib.TCL_OK

        fn("Tcl_CreateCommand")(interp, b"py_upper", py_upper, ffi.NULL, ffi.NULL)
        print("command py_upper, written in Python, called from Tcl:")
        run("py_upper hello from tcl")
        run("string length [py_upper {two words}]")
        run("lmap w {alpha beta} {py_upper $w}")
        print("  py_upper was called %d times with %s" % (len(calls), calls))
        print("an error reaches the caller unchanged:")
        run("expr {1 / 0}")
        return 0
    finally:
        fn("Tcl_DeleteInterp")(interp)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

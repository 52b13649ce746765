"""tclbridge driving a real Tcl interpreter: life cycle, evaluation, errors,
variables, expressions and conversions of strings."""
import pytest

OK, ERROR = 0, 1


@pytest.fixture
def probe(tcl, interp):
    """A command `probe` in `interp` that calls probe.action(interp, argv)
    from Python; its return value becomes the command's result. Used to run
    calls inside a procedure, where local and global scopes differ."""
    ffi = tcl.ffi

    class Probe:
        action = None

    @ffi.callback("Tcl_CmdProc")
    def command(client_data, ip, argc, argv):
        args = [ffi.string(argv[i]).decode() for i in range(argc)]
        text = Probe.action(ip, args)
        tcl.Tcl_SetObjResult(ip, tcl.Tcl_NewStringObj(str(text).encode(), -1))
        return OK

    Probe.command = command   # kept alive as long as the interpreter
    tcl.Tcl_CreateCommand(interp, b"probe", command, ffi.NULL, ffi.NULL)
    return Probe


def test_interpreters_are_independent_and_init_loads_the_script_library(tcl):
    bare, other = tcl.Tcl_CreateInterp(), tcl.Tcl_CreateInterp()
    assert bare != other
    try:
        # Before Tcl_Init the script library's procedures are missing.
        assert tcl.ok(bare, "info procs auto_load") == ""
        assert tcl.Tcl_Init(bare) == OK
        assert tcl.ok(bare, "info procs auto_load") == "auto_load"
        assert tcl.ok(bare, "file isdirectory $tcl_library") == "1"
        tcl.ok(bare, "set shared 1")
        assert tcl.ok(other, "info exists shared") == "0"
    finally:
        tcl.Tcl_DeleteInterp(bare)
        tcl.Tcl_DeleteInterp(other)


def test_init_failure_reaches_the_caller(tcl):
    ip = tcl.Tcl_CreateInterp()
    try:
        # Tcl_Init runs an existing tclInit instead of its own.
        tcl.ok(ip, "proc tclInit {} {error {no script library here}}")
        assert tcl.Tcl_Init(ip) == ERROR
        assert tcl.result(ip) == "no script library here"
    finally:
        tcl.Tcl_DeleteInterp(ip)


@pytest.mark.parametrize("script, code, result", [
    ("expr {6 * 7}", OK, "42"),
    ("set a {x y}; llength $a", OK, "2"),
    ("string toupper \u00e9t\u00e9", OK, "\u00c9T\u00c9"),
    ("return early", OK, "early"),
    ("", OK, ""),
    ("error boom", ERROR, "boom"),
    ("expr {1 / 0}", ERROR, "divide by zero"),
    ("no_such_command 1", ERROR, 'invalid command name "no_such_command"'),
    ("set a {unbalanced", ERROR, 'missing close-brace'),
    ("break", ERROR, 'invoked "break" outside of a loop'),
])
def test_eval_returns_code_and_result_unchanged(tcl, interp, script, code, result):
    assert tcl.eval(interp, script) == (code, result)


def test_error_leaves_error_info_behind(tcl, interp):
    tcl.ok(interp, "proc fails {} {error inner}")
    assert tcl.eval(interp, "fails") == (ERROR, "inner")
    info = tcl.ok(interp, "set ::errorInfo")
    assert info.startswith("inner\n") and '(procedure "fails" line 1)' in info


def test_eval_file(tcl, interp, tmp_path):
    script = tmp_path / "script.tcl"
    script.write_text("set here [info script]\nexpr {$base * 2}\n")
    tcl.ok(interp, "set base 21")
    assert tcl.Tcl_EvalFile(interp, str(script).encode()) == OK
    assert tcl.result(interp) == "42"
    assert tcl.ok(interp, "set here") == str(script)

    broken = tmp_path / "broken.tcl"
    broken.write_text("set x 1\nerror {bad line}\n")
    assert tcl.Tcl_EvalFile(interp, str(broken).encode()) == ERROR
    assert tcl.result(interp) == "bad line"
    assert '(file "%s" line 2)' % broken in tcl.ok(interp, "set ::errorInfo")

    missing = tmp_path / "missing.tcl"
    assert tcl.Tcl_EvalFile(interp, str(missing).encode()) == ERROR
    assert tcl.result(interp) == (
        'couldn\'t read file "%s": no such file or directory' % missing)


def new_objv(tcl, words):
    objv = tcl.ffi.new("Tcl_Obj *[]", len(words))
    for i, w in enumerate(words):
        objv[i] = tcl.Tcl_NewStringObj(w.encode(), -1)
        tcl.Tcl_IncrRefCount(objv[i])
    return objv


def free_objv(tcl, objv):
    for obj in objv:
        tcl.Tcl_DecrRefCount(obj)


def flags_of(tcl, names):
    value = 0
    for name in names:
        value |= getattr(tcl.lib, name)
    return value


@pytest.mark.parametrize("flag_names", [(), ("TCL_EVAL_DIRECT",), ("TCL_EVAL_GLOBAL",),
                                        ("TCL_EVAL_GLOBAL", "TCL_EVAL_DIRECT")])
def test_eval_objv_passes_words_whole(tcl, interp, flag_names):
    value = flags_of(tcl, flag_names)
    objv = new_objv(tcl, ["list", "a b", "{", "$x"])
    try:
        # The words are not parsed again: no splitting, no substitution.
        assert tcl.Tcl_EvalObjv(interp, 4, objv, value) == OK
        assert tcl.result(interp) == "{a b} \\{ {$x}"
        assert tcl.Tcl_EvalObjv(interp, 2, objv, value) == OK
        assert tcl.result(interp) == "{a b}"
    finally:
        free_objv(tcl, objv)
    objv = new_objv(tcl, ["error", "from objv"])
    try:
        assert tcl.Tcl_EvalObjv(interp, 2, objv, value) == ERROR
        assert tcl.result(interp) == "from objv"
    finally:
        free_objv(tcl, objv)


@pytest.mark.parametrize("flag_names, scope", [
    ((), "local"), (("TCL_EVAL_DIRECT",), "local"),
    (("TCL_EVAL_GLOBAL",), "global"),
    (("TCL_EVAL_GLOBAL", "TCL_EVAL_DIRECT"), "global"),
])
def test_eval_objv_global_flag_selects_the_scope(tcl, interp, probe, flag_names, scope):
    flags = flags_of(tcl, flag_names)

    def action(ip, argv):
        objv = new_objv(tcl, ["set", "v"])
        try:
            assert tcl.Tcl_EvalObjv(ip, 2, objv, flags) == OK
            return tcl.result(ip)
        finally:
            free_objv(tcl, objv)
    probe.action = action
    tcl.ok(interp, "set v global; proc p {} {set v local; probe}")
    assert tcl.ok(interp, "p") == scope


def test_obj_result_and_string_result_agree(tcl, interp):
    tcl.ok(interp, "expr {2 ** 70}")
    obj = tcl.Tcl_GetObjResult(interp)
    assert tcl.text(obj) == b"1180591620717411303424"
    mine = tcl.Tcl_NewStringObj(b"set by the host", -1)
    tcl.Tcl_SetObjResult(interp, mine)
    assert tcl.Tcl_GetObjResult(interp) == mine
    assert tcl.result(interp) == "set by the host"


# -- variables ------------------------------------------------------------------

def test_set_and_get_variables(tcl, interp):
    lib, ffi = tcl.lib, tcl.ffi
    stored = tcl.Tcl_SetVar(interp, b"greeting", b"hello world", 0)
    assert ffi.string(stored) == b"hello world"
    assert ffi.string(tcl.Tcl_GetVar(interp, b"greeting", 0)) == b"hello world"
    assert tcl.ok(interp, "set greeting") == "hello world"

    assert ffi.string(tcl.Tcl_SetVar2(interp, b"arr", b"k", b"v", 0)) == b"v"
    assert tcl.ok(interp, "array get arr") == "k v"
    obj = tcl.Tcl_NewWideIntObj(1 << 40)
    assert tcl.Tcl_SetVar2Ex(interp, b"arr", b"n", obj, lib.TCL_LEAVE_ERR_MSG) == obj
    assert tcl.Tcl_GetVar2Ex(interp, b"arr", b"n", 0) == obj
    assert tcl.ok(interp, "expr {$arr(n) + 1}") == str((1 << 40) + 1)
    assert tcl.Tcl_GetVar2Ex(interp, b"greeting", ffi.NULL, 0) != ffi.NULL

    assert tcl.Tcl_UnsetVar2(interp, b"arr", b"k", 0) == OK
    assert tcl.ok(interp, "array names arr") == "n"
    assert tcl.Tcl_UnsetVar2(interp, b"greeting", ffi.NULL, 0) == OK
    assert tcl.ok(interp, "info exists greeting") == "0"


def test_global_only_reaches_past_the_local_scope(tcl, interp, probe):
    lib, ffi = tcl.lib, tcl.ffi
    seen = {}

    def action(ip, argv):
        tcl.Tcl_SetVar(ip, b"v", b"set-global", lib.TCL_GLOBAL_ONLY)
        seen["local"] = ffi.string(tcl.Tcl_GetVar(ip, b"v", 0))
        seen["global"] = ffi.string(tcl.Tcl_GetVar(ip, b"v", lib.TCL_GLOBAL_ONLY))
        tcl.Tcl_SetVar2(ip, b"w", ffi.NULL, b"set-local", 0)
        return ""
    probe.action = action
    tcl.ok(interp, "proc p {} {set v local; probe; return $v,[info exists w]}")
    # probe ran inside p: its unflagged calls used p's variables
    assert tcl.ok(interp, "p") == "local,1"
    assert seen == {"local": b"local", "global": b"set-global"}
    assert tcl.ok(interp, "set v") == "set-global"
    assert tcl.ok(interp, "info exists w") == "0"


def test_variable_errors_leave_a_message_only_when_asked(tcl, interp):
    lib, ffi = tcl.lib, tcl.ffi
    tcl.ok(interp, "set scalar 1; set before unchanged")
    # without TCL_LEAVE_ERR_MSG the result stays what it was
    assert tcl.Tcl_GetVar(interp, b"nope", 0) == ffi.NULL
    assert tcl.result(interp) == "unchanged"
    assert tcl.Tcl_UnsetVar2(interp, b"nope", ffi.NULL, 0) == ERROR
    assert tcl.result(interp) == "unchanged"

    leave = lib.TCL_LEAVE_ERR_MSG
    assert tcl.Tcl_GetVar(interp, b"nope", leave) == ffi.NULL
    assert tcl.result(interp) == 'can\'t read "nope": no such variable'
    assert tcl.Tcl_GetVar2Ex(interp, b"scalar", b"k", leave) == ffi.NULL
    assert tcl.result(interp) == 'can\'t read "scalar(k)": variable isn\'t array'
    assert tcl.Tcl_SetVar2(interp, b"scalar", b"k", b"v", leave) == ffi.NULL
    assert tcl.result(interp) == 'can\'t set "scalar(k)": variable isn\'t array'
    obj = tcl.Tcl_NewStringObj(b"x", -1)
    tcl.Tcl_IncrRefCount(obj)
    assert tcl.Tcl_SetVar2Ex(interp, b"scalar", b"k", obj, leave) == ffi.NULL
    tcl.Tcl_DecrRefCount(obj)
    assert tcl.Tcl_UnsetVar2(interp, b"nope", ffi.NULL, leave) == ERROR
    assert tcl.result(interp) == 'can\'t unset "nope": no such variable'
    assert tcl.Tcl_SetVar(interp, b"ok", b"fine", leave) != ffi.NULL


# -- expressions and conversions of strings -----------------------------------

MISSING_OPERAND = 'missing operand at _@_\nin expression "1 +_@_"'


@pytest.mark.parametrize("function, ctype, text, code, value", [
    ("Tcl_ExprBoolean", "int", "3 < 4", OK, 1),
    ("Tcl_ExprBoolean", "int", "\"no\"", OK, 0),
    ("Tcl_ExprBoolean", "int", "0.5", OK, 1),
    ("Tcl_ExprBoolean", "int", "\"maybe\"", ERROR, 'expected boolean value but got "maybe"'),
    ("Tcl_ExprDouble", "double", "1.0 / 3", OK, 1.0 / 3),
    ("Tcl_ExprDouble", "double", "1 / 3", OK, 0.0),        # integer division
    ("Tcl_ExprDouble", "double", "sqrt(2)", OK, 2 ** 0.5),
    ("Tcl_ExprDouble", "double", "1 +", ERROR, MISSING_OPERAND),
    ("Tcl_ExprLong", "long", "6 * 7", OK, 42),
    ("Tcl_ExprLong", "long", "-(1 << 31)", OK, -(1 << 31)),
    ("Tcl_ExprLong", "long", "int(7.9)", OK, 7),
    ("Tcl_ExprLong", "long", "\"abc\"", ERROR, 'expected number but got "abc"'),
    ("Tcl_GetInt", "int", "42", OK, 42),
    ("Tcl_GetInt", "int", " 0x10 ", OK, 16),
    ("Tcl_GetInt", "int", "-2147483648", OK, -2147483648),
    ("Tcl_GetInt", "int", "abc", ERROR, 'expected integer but got "abc"'),
    ("Tcl_GetInt", "int", "1.5", ERROR, 'expected integer but got "1.5"'),
    ("Tcl_GetInt", "int", "99999999999", ERROR, "integer value too large to represent"),
    ("Tcl_GetDouble", "double", "1e3", OK, 1000.0),
    ("Tcl_GetDouble", "double", "0.1", OK, 0.1),
    ("Tcl_GetDouble", "double", "-7", OK, -7.0),
    ("Tcl_GetDouble", "double", "x1", ERROR, 'expected floating-point number but got "x1"'),
    ("Tcl_GetBoolean", "int", "yes", OK, 1),
    ("Tcl_GetBoolean", "int", "off", OK, 0),
    ("Tcl_GetBoolean", "int", "TRUE", OK, 1),
    ("Tcl_GetBoolean", "int", "maybe", ERROR, 'expected boolean value but got "maybe"'),
])
def test_expressions_and_conversions(tcl, interp, function, ctype, text, code, value):
    out = tcl.ffi.new(ctype + " *")
    assert getattr(tcl, function)(interp, text.encode(), out) == code
    if code == OK:
        assert out[0] == value
    else:
        assert tcl.result(interp) == value


def test_conversions_without_an_interpreter_leave_no_message(tcl, interp):
    out = tcl.ffi.new("int *")
    assert tcl.Tcl_GetInt(tcl.ffi.NULL, b"abc", out) == ERROR
    assert tcl.Tcl_GetBoolean(tcl.ffi.NULL, b"abc", out) == ERROR


def test_expr_string_leaves_the_value_as_result(tcl, interp):
    assert tcl.Tcl_ExprString(interp, b"[string repeat ab 2]") == OK
    assert tcl.result(interp) == "abab"
    assert tcl.Tcl_ExprString(interp, b"2 ** 64") == OK
    assert tcl.result(interp) == str(2 ** 64)
    assert tcl.Tcl_ExprString(interp, b"1 +") == ERROR
    assert tcl.result(interp) == MISSING_OPERAND

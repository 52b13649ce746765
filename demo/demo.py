#!/usr/bin/python3
"""The main job: both modules at work, loaded the way the host loads them.

1. an audio run over a sound file (by default the shipped sample), every
   channel at the file's own sample width: G.711 u-law and A-law round trips,
   an ADPCM round trip coded in 20 ms pieces with one state per channel, rate
   conversion to a lower rate and back in pieces, a mix with a delayed copy
   and a stereo expansion panned across the sound; each result is written as
   a WAV file, a table of figures is printed, and one PNG figure shows them;
2. one line per built module saying what it declares (the whole listing with
   --declarations);
3. Tcl driven through tclbridge: a script evaluated, a command written in
   Python registered with Tcl_CreateCommand and called from Tcl, the versions;
4. a Tk window driven only through tclbridge, showing the table; a button runs
   a command registered with Tcl_CreateCommand. With no display the window
   opens on Xvfb, the button is clicked with `event generate`, and a
   screenshot is saved.

The results are made in a fresh folder beside the output folder, which
replaces the output folder only when the run has finished: a run that stops
half-way leaves the previous results as they were.
"""
import argparse
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path[:0] = [HERE, ROOT, os.path.join(ROOT, "tools")]
import audio  # noqa: E402
import demo_tcl  # noqa: E402
import figure  # noqa: E402
import kivohost  # noqa: E402
import wavfile  # noqa: E402
import xserver  # noqa: E402
from kivohost import show_declarations  # noqa: E402

DEFAULT_SAMPLE = os.path.join(HERE, "chord16k.wav")
PIECE_SECONDS = 0.020
ECHO_SECONDS = 0.250
SUMMARY = "summary.json"


def step(text):
    print("\n== " + text, flush=True)


# -- audio ---------------------------------------------------------------------

def lower_rate(rate):
    """The rate of the conversion round trip: 8 kHz, or half the rate for
    inputs of 8 kHz and less."""
    return 8000 if rate > 8000 else max(1, rate // 2)


def snr_text(snr):
    if snr is None:
        return "silence"
    return "identical" if math.isinf(snr) else "%.1f" % snr


def audio_run(kit, sound, name, out_dir):
    """Runs the routines over `sound`, writes the results into `out_dir` and
    returns the rows of the results table."""
    width, rate, channels, n = sound.width, sound.rate, sound.channels, sound.frames
    piece = max(2, int(rate * PIECE_SECONDS))
    piece -= piece % 2
    source = wavfile.full_scale(sound.values, width)
    results, trips = [], []

    def result(label, stored_bits, output, speed, unit, file, note=""):
        snr = audio.snr_db(source, output)
        results.append(dict(codec=label, bits_per_sample=stored_bits,
                            snr_db=None if snr is None or math.isinf(snr) else snr,
                            snr=snr_text(snr), speed=speed, speed_unit=unit,
                            file=file, note=note))
        return snr_text(snr)

    def save(file, values, at_width, at_rate=rate):
        wavfile.write(os.path.join(out_dir, file), values, at_width, at_rate)

    sixteen = wavfile.to_16bit(sound.values, width)
    for law, encode, decode, subtype in (
            ("u-law", "st_14linear2ulaw", "st_ulaw2linear16", "ULAW"),
            ("A-law", "st_linear2alaw", "st_alaw2linear16", "ALAW")):
        to_code, to_value, calls = kit.g711_tables(encode, decode)
        codes = to_code[sixteen + 32768]
        decoded = to_value[codes]
        file = "g711_%s.wav" % law.replace("-", "").lower()
        save(file, decoded, 2)
        note = ""
        if sound.law == subtype:
            same = int(np.sum(codes == sound.codes))
            note = "%d of %d codes as in the file" % (same, codes.size)
        text = result("G.711 %s" % law, 8, wavfile.full_scale(decoded, 2), calls,
                      "calls/s", file, note)
        trips.append(("G.711 %s, coded and decoded" % law,
                      wavfile.full_scale(decoded, 2), "SNR " + text, None))

    decoded, elapsed = kit.adpcm_round_trip(sound.values, width, piece)
    save("adpcm.wav", decoded, width)
    text = result("IMA ADPCM", 4, wavfile.full_scale(decoded, width),
                  2 * decoded.size / elapsed if elapsed else math.inf,
                  "samples/s", "adpcm.wav")
    trips.append(("IMA ADPCM in %d ms pieces" % round(PIECE_SECONDS * 1000),
                  wavfile.full_scale(decoded, width), "SNR " + text, None))

    low_rate = lower_rate(rate)
    low, down = kit.rate_convert(sound.values, width, rate, low_rate, piece)
    back, up = kit.rate_convert(low, width, low_rate, rate,
                                max(1, int(low_rate * PIECE_SECONDS)))
    low_file = "ratecv_%gk.wav" % (low_rate / 1000)
    save(low_file, low, width, low_rate)
    save("ratecv_back.wav", back, width)
    lag = audio.best_lag(source, wavfile.full_scale(back, width))
    aligned = np.concatenate([back[lag:lag + n],
                              np.repeat(back[-1:], max(0, n - len(back) + lag), axis=0)])
    label = "rate %g kHz and back" % (low_rate / 1000)
    text = result(label, None, wavfile.full_scale(aligned, width),
                  (n + len(low)) * channels / (down + up) if down + up else math.inf,
                  "samples/s", low_file + ", ratecv_back.wav",
                  "%d -> %d -> %d Hz%s" % (rate, low_rate, rate,
                                            ", output trails by %d frames" % lag
                                            if lag else ""))
    at = (np.arange(len(low)) - lag * low_rate / rate) / low_rate
    trips.append(("%d -> %d -> %d Hz" % (rate, low_rate, rate),
                  wavfile.full_scale(aligned, width), "SNR " + text,
                  (at, wavfile.full_scale(low[:, 0], width))))

    delay = min(int(rate * ECHO_SECONDS), n)
    delayed = np.concatenate([np.zeros((delay, channels), np.int64), sound.values[:n - delay]])
    mix, mix_time = kit.mix_in_place(sound.values, delayed, width)
    save("mix_echo.wav", mix, width)

    mono = sound.values.mean(axis=1).astype(np.int64)    # truncated toward zero
    stereo, pan_time = kit.pan(mono, width, piece)
    save("stereo_pan.wav", stereo, width)

    print_results(results, width, channels)
    print("add, a copy %d ms later mixed in (in place, saturating): %s samples/s; "
          "written mix_echo.wav" % (round(delay / rate * 1000),
                                    speed_text(mix.size / mix_time if mix_time else math.inf)))
    print("tostereo, %s panned from left to right in %d ms pieces: %s samples/s; "
          "written stereo_pan.wav (2 channels)"
          % ("the input" if channels == 1 else "the mean of the channels",
             round(PIECE_SECONDS * 1000),
             speed_text(len(mono) / pan_time if pan_time else math.inf)))

    title = "%s: %s" % (name, sound.description)
    if figure.draw(os.path.join(out_dir, "codecs.png"), title, rate, source, trips,
                   wavfile.full_scale(mix, width), wavfile.full_scale(stereo, width)):
        print("figure of every result: written codecs.png")
    else:
        print("matplotlib is not installed: no figure")
    return results


def speed_text(per_second):
    if math.isinf(per_second):
        return "too fast to time"
    for scale, prefix in ((1e9, "G"), (1e6, "M"), (1e3, "k")):
        if per_second >= scale:
            return "%.1f %s" % (per_second / scale, prefix)
    return "%.0f" % per_second


def print_results(results, width, channels):
    print()
    print("%-22s %-13s %10s  %s" % ("round trip", "stored as", "SNR (dB)", "speed"))
    for r in results:
        stored = ("%d bits/sample" % r["bits_per_sample"] if r["bits_per_sample"]
                  else "-")
        print("%-22s %-13s %10s  %s %s%s" % (
            r["codec"], stored, r["snr"], speed_text(r["speed"]), r["speed_unit"],
            "  (%s)" % r["note"] if r["note"] else ""))
    print()
    print("stored as: bits the coded form keeps per input sample (the input has "
          "%d). SNR: input power over the power of the difference, on every "
          "channel." % (8 * width))
    print("speed: G.711 is timed per call from Python (each of the 65,536 values "
          "coded once, each code decoded once), so Python's call overhead "
          "dominates; the fragment routines are timed over whole %d ms pieces "
          "of %d channel(s), inside the calls." % (round(PIECE_SECONDS * 1000),
                                                  channels))
    print("written: %s" % ", ".join(r["file"] for r in results))


# -- Tk window -----------------------------------------------------------------

class Display:
    """The display to use: the user's, or an Xvfb of our own."""

    def __init__(self):
        self.server = None

    def __enter__(self):
        if not os.environ.get("DISPLAY"):
            self.server, name = xserver.start()
            os.environ["DISPLAY"] = name
            print("no display: started Xvfb on %s (pid %d)" % (name, self.server.pid))
        return self

    def __exit__(self, *exc):
        if self.server:
            xserver.stop(self.server)
            del os.environ["DISPLAY"]


def tk_window(module, results, out_dir, keep_open):
    ffi, f = module.ffi, module.function
    lib = module.lib
    interp = f("Tcl_CreateInterp")()
    try:
        for name in ("Tcl_Init", "Tk_Init"):
            if f(name)(interp) != lib.TCL_OK:
                raise RuntimeError("%s: %s" % (name, ffi.string(
                    f("Tcl_GetStringResult")(interp)).decode()))
        evaluate = lambda script: f("Tcl_Eval")(interp, script.encode())
        clicks = []

        @ffi.callback("Tcl_CmdProc")
        def on_click(client_data, cb_interp, argc, argv):
            args = [ffi.string(argv[i]).decode() for i in range(argc)]
            clicks.append(args)
            f("Tcl_Eval")(cb_interp, (".status configure -text {button clicked "
                                      "%d time(s); command saw %s}"
                                      % (len(clicks), " ".join(args[1:]))).encode())
            return lib.TCL_OK

        f("Tcl_CreateCommand")(interp, b"demo_clicked", on_click, ffi.NULL, ffi.NULL)
        tcl_version = ffi.string(f("get_tcl_version")()).decode()
        tk_version = ffi.string(f("get_tk_version")()).decode()
        rows = ["wm title . {samplekit results (Tcl %s, Tk %s)}" % (tcl_version,
                                                                    tk_version)]
        for col, head in enumerate(("round trip", "SNR (dB)", "stored as",
                                    "speed")):
            rows.append("grid [label .h%d -text {%s} -font {TkHeadingFont}] "
                        "-row 0 -column %d -sticky w -padx 6" % (col, head, col))
        for i, r in enumerate(results, start=1):
            cells = (r["codec"], r["snr"],
                     "%d bits/sample" % r["bits_per_sample"] if r["bits_per_sample"]
                     else "-", "%s %s" % (speed_text(r["speed"]), r["speed_unit"]))
            for col, cell in enumerate(cells):
                rows.append("grid [label .c%d_%d -text {%s}] -row %d -column %d "
                            "-sticky w -padx 6" % (i, col, cell, i, col))
        n = len(results) + 1
        rows.append("grid [button .b -text {Say hello} -command {demo_clicked hello "
                    "from Tk}] -row %d -column 0 -columnspan 4 -pady 6" % n)
        rows.append("grid [label .status -text {not clicked yet}] -row %d "
                    "-column 0 -columnspan 4" % (n + 1))
        if evaluate("\n".join(rows)) != lib.TCL_OK:
            raise RuntimeError(ffi.string(f("Tcl_GetStringResult")(interp)).decode())

        pump = lambda: [f("Tcl_DoOneEvent")(lib.TCL_DONT_WAIT)
                        for _ in range(200)]
        evaluate("update")
        pump()
        # A real click: press and release over the button.
        evaluate("event generate .b <Enter>; event generate .b <ButtonPress-1> "
                 "-x 5 -y 5; event generate .b <ButtonRelease-1> -x 5 -y 5")
        deadline = time.time() + 5
        while not clicks and time.time() < deadline:
            pump()
            time.sleep(0.01)
        evaluate("update")
        print("Tk window: %d main window(s); button click reached the demo's "
              "callback with %s" % (f("Tk_GetNumMainWindows")(),
                                    clicks[0][1:] if clicks else "nothing"))
        shot = os.path.join(out_dir, "window.png")
        if shutil.which("import"):
            evaluate("raise .; update")
            window_id = subprocess.run(
                ["xwininfo", "-root", "-tree"], capture_output=True,
                text=True).stdout if shutil.which("xwininfo") else ""
            target = "root"
            for line in window_id.splitlines():
                if "samplekit results" in line:
                    target = line.split()[0]
                    break
            subprocess.run(["import", "-window", target, shot], check=True)
            print("screenshot: written %s" % os.path.basename(shot))
        else:
            print("ImageMagick's import is not installed: no screenshot")
        if keep_open:
            print("close the window to finish")
            while f("Tk_GetNumMainWindows")() > 0:
                f("Tcl_DoOneEvent")(0)
        else:
            evaluate("destroy .")
            pump()
        return bool(clicks)
    finally:
        f("Tcl_DeleteInterp")(interp)


def previous_results(out):
    """Whether `out` may be replaced: missing, empty, or an earlier run's."""
    return (not os.path.exists(out) or
            os.path.isdir(out) and (not os.listdir(out) or
                                    os.path.isfile(os.path.join(out, SUMMARY))))


def replace_folder(made, out):
    """Puts the finished folder `made` in the place of `out`."""
    if os.path.exists(out):
        old = tempfile.mkdtemp(prefix=".old-", dir=os.path.dirname(out))
        os.rename(out, os.path.join(old, "out"))
        os.rename(made, out)
        shutil.rmtree(old)
    else:
        os.rename(made, out)


def g711_decoders(module):
    return {"ULAW": module.lib.st_ulaw2linear16, "ALAW": module.lib.st_alaw2linear16}


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("wav", nargs="?", default=DEFAULT_SAMPLE, metavar="FILE",
                    help="a WAV file (default: the shipped demo/chord16k.wav)")
    ap.add_argument("--out", default=os.path.join(ROOT, "out"),
                    help="the output folder, replaced as a whole (default: out/)")
    ap.add_argument("--no-window", action="store_true", help="no Tk window")
    ap.add_argument("--declarations", action="store_true",
                    help="print every declaration of the modules, not a summary")
    args = ap.parse_args(argv)
    out = os.path.abspath(args.out)
    name = os.path.basename(args.wav)
    if not previous_results(out):
        print("demo.py: %s is not an output folder of this demonstration (it holds "
              "no %s): not replaced" % (args.out, SUMMARY), file=sys.stderr)
        return 2

    samplekit = kivohost.Module("_samplekit")
    try:
        sound = wavfile.read(args.wav, g711_decoders(samplekit))
    except wavfile.InputError as error:
        print("demo.py: %s: %s" % (args.wav, error), file=sys.stderr)
        return 1

    step("Audio through _samplekit")
    print("input: %s, %s" % (name, sound.description))
    if sound.frames == 0:
        print("%s holds no samples: nothing to do, %s left as it was"
              % (name, args.out))
        return 0
    print("%d frames (%.4g s) of %d channel(s); the routines work on %d-bit "
          "samples (width %d)" % (sound.frames, sound.frames / sound.rate,
                                  sound.channels, 8 * sound.width, sound.width))
    os.makedirs(os.path.dirname(out), exist_ok=True)
    made = tempfile.mkdtemp(prefix=".%s-" % os.path.basename(out),
                            dir=os.path.dirname(out))
    umask = os.umask(0)
    os.umask(umask)
    os.chmod(made, 0o777 & ~umask)      # mkdtemp's folder is private
    try:
        results = audio_run(audio.Kit(samplekit), sound, name, made)
        summary = dict(input=dict(file=args.wav, description=sound.description,
                                  rate=sound.rate, channels=sound.channels,
                                  width=sound.width, frames=sound.frames),
                       results=results, clicked=None)
        finish(args, made, summary)
        with open(os.path.join(made, SUMMARY), "w") as f:
            json.dump(summary, f, indent=1, default=str)
        replace_folder(made, out)
    finally:
        if os.path.exists(made):
            shutil.rmtree(made)
    print("\noutputs in %s" % args.out)
    return 0


def finish(args, made, summary):
    """The declarations, Tcl and the Tk window."""
    step("Declarations of the built modules, read back from their type contexts")
    if args.declarations:
        show_declarations.main([])
    else:
        for module in sorted(kivohost.built_modules()):
            if kivohost.find_module(module):
                print(show_declarations.summary(kivohost.Module(module)))
        print("(every declaration: demo.py --declarations, or "
              "python3 -m kivohost.show_declarations)")

    step("Tcl driven through tclbridge: a script, a command written in Python")
    try:
        tcl = kivohost.Module("tclbridge")
    except FileNotFoundError:
        tcl = None
        print("tclbridge is not built: no Tcl")
    if tcl is not None:
        demo_tcl.main([tcl.path])

    step("A Tk window driven through tclbridge")
    if tcl is None:
        print("tclbridge is not built: no window")
    elif args.no_window:
        print("--no-window: skipped")
    else:
        try:
            interactive = bool(os.environ.get("DISPLAY")) and sys.stdin.isatty()
            with Display():
                summary["clicked"] = tk_window(tcl, summary["results"], made,
                                               interactive)
        except RuntimeError as e:
            print("no window: %s" % e)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

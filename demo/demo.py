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
import tqdm

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path[:0] = [HERE, ROOT, os.path.join(ROOT, "tools")]
import audio  # noqa: E402
import demo_tcl  # noqa: E402
import figure  # noqa: E402
import kivohost  # noqa: E402
import measures  # noqa: E402
import wavfile  # noqa: E402
import xserver  # noqa: E402
from kivohost import show_declarations  # noqa: E402

DEFAULT_SAMPLE = os.path.join(HERE, "chord16k.wav")
PIECE_SECONDS = 0.020
ECHO_SECONDS = 0.250
BLOCK_SECONDS = 1.0
MAX_BLOCK_SAMPLES = 1 << 18
MAX_LAG = 8             # frames a rate conversion's output may trail by
G711_LAWS = (("u-law", "st_14linear2ulaw", "st_ulaw2linear16"),
             ("A-law", "st_linear2alaw", "st_alaw2linear16"))
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


def block_frames(piece, channels, seconds):
    """Frames per block: whole pieces (so that the ADPCM coder, which drops a
    final odd sample per call, and the pan, whose gain is per piece, give the
    results of one block), about `seconds` long, at most MAX_BLOCK_SAMPLES."""
    pieces = max(1, round(seconds / PIECE_SECONDS))
    return piece * max(1, min(pieces, MAX_BLOCK_SAMPLES // (piece * channels)))


def progress(blocks, sound, name):
    """The blocks, with a bar on a terminal's error stream (position in the
    input and throughput) once the run has taken more than a second."""
    if not sys.stderr.isatty():
        yield from blocks
        return
    with tqdm.tqdm(total=sound.frames, desc=name, unit=" frames", unit_scale=True,
                   file=sys.stderr, delay=1.0, leave=False) as bar:
        for values, codes in blocks:
            yield values, codes
            bar.update(len(values))


def audio_run(kit, sound, name, out_dir, block_seconds=BLOCK_SECONDS):
    """Streams `sound` block by block through one stage per routine into the
    result files, the quality figures and the figure; returns the rows of
    the results table."""
    width, rate, channels, n = sound.width, sound.rate, sound.channels, sound.frames
    piece = max(2, int(rate * PIECE_SECONDS))
    piece -= piece % 2
    low_rate = lower_rate(rate)
    delay = min(int(rate * ECHO_SECONDS), n)
    block = block_frames(piece, channels, block_seconds)

    g711 = {law: audio.G711(kit, width, channels, encode, decode)
            for law, encode, decode in G711_LAWS}
    adpcm = audio.Adpcm(kit, width, channels)
    down = audio.Ratecv(kit, width, channels, rate, low_rate)
    up = audio.Ratecv(kit, width, channels, low_rate, rate)
    echo = audio.Echo(kit, width, channels, delay)
    pan = audio.Pan(kit, width, channels, n, piece)

    g711_files = {law: "g711_%s.wav" % law.replace("-", "").lower() for law in g711}
    low_file = "ratecv_%gk.wav" % (low_rate / 1000)
    files = {g711_files["u-law"]: (2, rate, channels), g711_files["A-law"]: (2, rate, channels),
             "adpcm.wav": (width, rate, channels), low_file: (width, low_rate, channels),
             "ratecv_back.wav": (width, rate, channels),
             "mix_echo.wav": (width, rate, channels), "stereo_pan.wav": (width, rate, 2)}
    writers = {file: wavfile.Output(os.path.join(out_dir, file), *kind)
               for file, kind in files.items()}
    quality, lags = measures.Quality(), measures.Lags(channels, MAX_LAG)
    rate_trip = "%d -> %d -> %d Hz" % (rate, low_rate, rate)
    drawing = figure.Figure(rate, n, channels, low_rate)
    for law in g711:
        drawing.round_trip(law, "G.711 %s, coded and decoded" % law)
    drawing.round_trip("adpcm", "IMA ADPCM, one state per channel")
    drawing.round_trip("rate", rate_trip, MAX_LAG, lower=True)
    same_codes = dict.fromkeys(g711, 0)

    def rate_trip_block(source, low, back):
        writers[low_file].write(low)
        writers["ratecv_back.wav"].write(back)
        back = wavfile.full_scale(back, width)
        lags.feed(source, back)
        drawing.lower(wavfile.full_scale(low, width))
        drawing.output("rate", back)

    try:
        for values, file_codes in progress(sound.blocks(block), sound, name):
            source = wavfile.full_scale(values, width)
            quality.reference(source)
            drawing.input(source)
            for law, stage in g711.items():
                codes, decoded = stage(values)
                writers[g711_files[law]].write(decoded)
                decoded = wavfile.full_scale(decoded, 2)
                quality.compare(law, source, decoded)
                drawing.output(law, decoded)
                if file_codes is not None and wavfile.G711.get(sound.law) == law:
                    same_codes[law] += int(np.count_nonzero(codes == file_codes))

            decoded = adpcm(values)
            writers["adpcm.wav"].write(decoded)
            decoded = wavfile.full_scale(decoded, width)
            quality.compare("adpcm", source, decoded)
            drawing.output("adpcm", decoded)

            low = down(values)
            rate_trip_block(source, low, up(low))

            mixed = echo(values)
            writers["mix_echo.wav"].write(mixed)
            drawing.mix(wavfile.full_scale(mixed, width))

            stereo = pan(values)
            writers["stereo_pan.wav"].write(stereo)
            drawing.stereo(wavfile.full_scale(stereo, width))

        # The conversions' last frames are due only once the input has ended:
        # the lower rate's within the input, and as many back as went in.
        low = down.finish()
        back = up(low)
        rate_trip_block(np.zeros((0, channels)), low,
                        np.concatenate([back, up.finish(down.frames_in)]))
    finally:
        for writer in writers.values():
            writer.close()

    results = []

    def result(label, stored_bits, snr, speed, unit, file, note=""):
        results.append(dict(codec=label, bits_per_sample=stored_bits,
                            snr_db=None if snr is None or math.isinf(snr) else snr,
                            snr=snr_text(snr), speed=speed, speed_unit=unit,
                            file=file, note=note))
        return "SNR " + snr_text(snr)

    notes = {}
    for law, stage in g711.items():
        note = ("%d of %d codes as in the file" % (same_codes[law], n * channels)
                if wavfile.G711.get(sound.law) == law else "")
        notes[law] = result("G.711 %s" % law, 8, quality.db(law), stage.calls_per_second,
                            "calls/s", g711_files[law], note)
    notes["adpcm"] = result("IMA ADPCM", 4, quality.db("adpcm"), adpcm.speed(),
                               "samples/s", "adpcm.wav")
    lag, quality.noise["rate"] = lags.result()
    notes["rate"] = result(
        "rate %g kHz and back" % (low_rate / 1000), None, quality.db("rate"),
        (down.samples + up.samples) / (down.elapsed + up.elapsed)
        if down.elapsed + up.elapsed else math.inf, "samples/s",
        low_file + ", ratecv_back.wav",
        rate_trip + (", output trails by %d frames" % lag if lag else ""))

    print_results(results, width, channels, block)
    print("add, a copy %d ms later mixed in (in place, saturating): %s samples/s; "
          "written mix_echo.wav" % (round(delay / rate * 1000), speed_text(echo.speed())))
    print("tostereo, %s panned from left to right in %d ms pieces: %s samples/s; "
          "written stereo_pan.wav (2 channels)"
          % ("the input" if channels == 1 else "the mean of the channels",
             round(PIECE_SECONDS * 1000), speed_text(pan.speed())))

    title = "%s: %s" % (name, sound.description)
    if drawing.draw(os.path.join(out_dir, "codecs.png"), title, notes, lag):
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


def print_results(results, width, channels, block):
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
          "dominates; the fragment routines are timed inside the calls, one call "
          "per block of %d frames of %d channel(s) (tostereo: one per %d ms "
          "piece)." % (block, channels, round(PIECE_SECONDS * 1000)))
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
    ap.add_argument("--block", type=float, default=BLOCK_SECONDS, metavar="SECONDS",
                    help="the length of the blocks the input is read and processed "
                         "in, in whole 20 ms pieces (default: %g)" % BLOCK_SECONDS)
    ap.add_argument("--declarations", action="store_true",
                    help="print every declaration of the modules, not a summary")
    args = ap.parse_args(argv)
    out = os.path.abspath(args.out)
    name = os.path.basename(args.wav)
    if not previous_results(out):
        print("demo.py: %s is not an output folder of this demonstration (it holds "
              "no %s): not replaced" % (args.out, SUMMARY), file=sys.stderr)
        return 2

    try:
        samplekit = kivohost.Module("_samplekit")
    except kivohost.NotBuilt as error:
        print("demo.py: %s" % error, file=sys.stderr)
        return 1
    try:
        sound = wavfile.open_input(args.wav, g711_decoders(samplekit))
    except wavfile.InputError as error:
        print("demo.py: %s: %s" % (args.wav, error), file=sys.stderr)
        return 1

    step("Audio through _samplekit")
    print("input: %s, %s" % (name, sound.description))
    if sound.cut_short():
        print("demo.py: %s: cut short within its data: the header promises %d frames, "
              "%d are there; processed as far as it goes"
              % (args.wav, sound.promised, sound.frames), file=sys.stderr)
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
        try:
            results = audio_run(samplekit, sound, name, made, args.block)
        except wavfile.InputError as error:
            print("demo.py: %s: %s" % (args.wav, error), file=sys.stderr)
            return 1
        summary = dict(input=dict(file=args.wav, description=sound.description,
                                  rate=sound.rate, channels=sound.channels,
                                  width=sound.width, frames=sound.frames,
                                  frames_promised=sound.promised),
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

#!/usr/bin/python3
"""The main job: both modules at work, loaded the way the host loads them.

1. the declarations of every built module, as the host reads them;
2. an audio run over a WAV file (by default the shipped sample): G.711 u-law
   and A-law round trips, an ADPCM round trip coded in 20 ms pieces with the
   state carried across pieces, rate conversion to 8 kHz and back in pieces,
   a mix with a delayed copy and a stereo expansion with a pan; each result is
   written as a WAV file, a table of figures is printed, and one PNG figure
   shows the waveforms and the error of each codec;
3. Tcl driven through tclbridge: a script evaluated, a command written in
   Python registered with Tcl_CreateCommand and called from Tcl, the versions;
4. a Tk window driven only through tclbridge, showing the table; a button runs
   a command registered with Tcl_CreateCommand. With no display the window
   opens on Xvfb, the button is clicked with `event generate`, and a
   screenshot is saved.

usage: demo.py [--out DIR] [--no-window] [WAV]
"""
import argparse
import array
import json
import math
import os
import shutil
import subprocess
import sys
import time
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path[:0] = [HERE, ROOT, os.path.join(ROOT, "tools")]
import demo_tcl  # noqa: E402
import kivohost  # noqa: E402
import xserver  # noqa: E402
from kivohost import show_declarations  # noqa: E402

DEFAULT_SAMPLE = os.path.join(HERE, "chord16k.wav")
PIECE_SECONDS = 0.020


def step(text):
    print("\n== " + text, flush=True)


# -- audio ---------------------------------------------------------------------

def read_wav(path):
    """Mono 16-bit samples and the rate; other widths are brought to 16 bits
    and only the first channel of a multi-channel file is used."""
    with wave.open(path, "rb") as w:
        width, channels, rate = w.getsampwidth(), w.getnchannels(), w.getframerate()
        data = w.readframes(w.getnframes())
    frame = width * channels
    samples = array.array("h")
    for i in range(0, len(data) - frame + 1, frame):
        raw = data[i:i + width]
        if width == 1:
            v = (raw[0] - 128) << 8      # WAV stores 8-bit samples unsigned
        else:
            v = int.from_bytes(raw[-2:], "little", signed=True)
        samples.append(v)
    return samples, rate


def write_wav(path, samples, rate, channels=1):
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(samples.tobytes())


def snr_db(reference, decoded):
    signal = sum(x * x for x in reference)
    noise = sum((x - y) ** 2 for x, y in zip(reference, decoded))
    if noise == 0:
        return math.inf
    return 10 * math.log10(signal / noise)


class Audio:
    def __init__(self, module):
        self.ffi = module.ffi
        f = module.function
        self.names = [n.decode() for n, _ in module.globals()]
        self.fn = {name: f(name) for name in self.names}

    def has(self, *names):
        return all(n in self.fn for n in names)

    def g711(self, encode, decode, samples):
        enc, dec = self.fn[encode], self.fn[decode]
        start = time.perf_counter()
        out = array.array("h", (dec(enc(x)) for x in samples))
        return out, time.perf_counter() - start

    def adpcm(self, samples, piece):
        ffi, enc, dec = self.ffi, self.fn["lin2adcpm"], self.fn["adcpm2lin"]
        enc_state, dec_state = ffi.new("int[2]"), ffi.new("int[2]")
        out = array.array("h")
        coded = 0
        start = time.perf_counter()
        piece -= piece % 2    # whole pairs, so no code is dropped between pieces
        for i in range(0, len(samples), piece):
            chunk = samples[i:i + piece]
            raw = ffi.from_buffer("unsigned char[]", chunk)
            codes = ffi.new("unsigned char[]", len(chunk) // 2)
            enc(codes, raw, len(chunk) * 2, 2, enc_state)
            pcm = ffi.new("unsigned char[]", len(codes) * 4)
            dec(pcm, codes, len(codes), 2, dec_state)
            out.frombytes(ffi.buffer(pcm))
            coded += len(codes)
        elapsed = time.perf_counter() - start
        # an odd final sample has no code: repeat the last decoded value
        out.extend([out[-1] if out else 0] * (len(samples) - len(out)))
        return out, elapsed, coded * 8 / len(samples)

    def ratecv(self, samples, rate_in, rate_out, piece):
        # Each call writes floor(P / rate_in') + 1 frames with P = phase +
        # frames in * rate_out' (the rates reduced by their gcd), none when
        # P < 0: the output of each piece is sized from that.
        def ratecv_output_frames(phase, nframes, rate_in, rate_out):
            g = math.gcd(rate_in, rate_out)
            p = phase + nframes * (rate_out // g)
            return p // (rate_in // g) + 1 if p >= 0 else 0

        ffi, cv = self.ffi, self.fn["ratecv"]
        g = math.gcd(rate_in, rate_out)
        phase = ffi.new("int *", -(rate_out // g))
        previous, current = ffi.new("int[1]"), ffi.new("int[1]")
        out = array.array("h")
        for i in range(0, len(samples), piece):
            chunk = samples[i:i + piece]
            raw = ffi.from_buffer("char[]", chunk)
            frames = ratecv_output_frames(phase[0], len(chunk), rate_in, rate_out)
            buf = ffi.new("char[]", max(1, frames * 2))
            written = cv(buf, raw, len(chunk), 2, 1, rate_in, rate_out, phase,
                         previous, current, 1, 0)
            out.frombytes(ffi.buffer(buf, written))
        return out

    def add(self, a, b):
        ffi = self.ffi
        out = ffi.new("char[]", len(a) * 2)
        self.fn["add"](out, ffi.from_buffer("char[]", a),
                       ffi.from_buffer("char[]", b), len(a) * 2, 2)
        return array.array("h", bytes(ffi.buffer(out)))

    def tostereo(self, samples, lgain, rgain):
        ffi = self.ffi
        out = ffi.new("char[]", len(samples) * 4)
        self.fn["tostereo"](out, ffi.from_buffer("char[]", samples),
                            len(samples) * 2, 2, lgain, rgain)
        return array.array("h", bytes(ffi.buffer(out)))


def aligned_snr(reference, converted, max_lag=8):
    """SNR of a resampled round trip, at the lag (in samples) that fits best:
    the converter's output trails its input."""
    best = (-math.inf, 0)
    for lag in range(max_lag + 1):
        n = min(len(reference), len(converted) - lag)
        best = max(best, (snr_db(reference[:n], converted[lag:lag + n]), lag))
    return best


def audio_run(module, wav_path, out_dir):
    audio = Audio(module)
    samples, rate = read_wav(wav_path)
    print("input: %s, %d samples at %d Hz (%.2f s)"
          % (os.path.basename(wav_path), len(samples), rate, len(samples) / rate))
    piece = max(2, int(rate * PIECE_SECONDS))
    results, curves = [], {}

    for law, enc, dec in (("G.711 u-law", "st_14linear2ulaw", "st_ulaw2linear16"),
                          ("G.711 A-law", "st_linear2alaw", "st_alaw2linear16")):
        decoded, elapsed = audio.g711(enc, dec, samples)
        name = law.split()[1].replace("-", "").lower()
        write_wav(os.path.join(out_dir, "g711_%s.wav" % name), decoded, rate)
        results.append(dict(codec=law, snr_db=snr_db(samples, decoded),
                            bits_per_sample=8.0,
                            samples_per_second=len(samples) / elapsed))
        curves[law] = decoded
        print("%s round trip: written g711_%s.wav" % (law, name))

    if audio.has("lin2adcpm", "adcpm2lin"):
        decoded, elapsed, bits = audio.adpcm(samples, piece)
        write_wav(os.path.join(out_dir, "adpcm.wav"), decoded, rate)
        results.append(dict(codec="IMA ADPCM", snr_db=snr_db(samples, decoded),
                            bits_per_sample=bits,
                            samples_per_second=len(samples) / elapsed))
        curves["IMA ADPCM"] = decoded
        print("ADPCM round trip in %d-sample pieces, state carried: written adpcm.wav"
              % piece)

    if audio.has("ratecv"):
        start = time.perf_counter()
        low = audio.ratecv(samples, rate, 8000, piece)
        back = audio.ratecv(low, 8000, rate, max(2, int(8000 * PIECE_SECONDS)))
        elapsed = time.perf_counter() - start
        write_wav(os.path.join(out_dir, "ratecv_8k.wav"), low, 8000)
        write_wav(os.path.join(out_dir, "ratecv_back.wav"), back, rate)
        snr, lag = aligned_snr(samples, back)
        results.append(dict(codec="rate 8 kHz and back", snr_db=snr,
                            bits_per_sample=16.0 * 8000 / rate,
                            samples_per_second=len(samples) / elapsed))
        n = len(samples)
        curves["rate 8 kHz and back"] = (back[lag:lag + n] +
                                         array.array("h", [0] * max(0, n - len(back) + lag)))
        print("rate conversion %d -> 8000 -> %d Hz in pieces (output trails by %d "
              "samples): written ratecv_8k.wav, ratecv_back.wav" % (rate, rate, lag))

    if audio.has("add"):
        delay = int(rate * 0.25)
        delayed = array.array("h", [0] * delay) + samples[:len(samples) - delay]
        mixed = audio.add(samples, delayed)
        write_wav(os.path.join(out_dir, "mix_echo.wav"), mixed, rate)
        print("mix with a copy delayed by 250 ms, saturating: written mix_echo.wav")

    if audio.has("tostereo"):
        stereo = audio.tostereo(samples, 0.9, 0.3)
        write_wav(os.path.join(out_dir, "stereo_pan.wav"), stereo, rate, channels=2)
        print("stereo expansion panned left (gains 0.9 and 0.3): written stereo_pan.wav")

    print()
    print("%-22s %10s %16s %18s" % ("codec", "SNR (dB)", "bits per sample",
                                   "samples per second"))
    for r in results:
        print("%-22s %10.2f %16.2f %18.0f" % (r["codec"], r["snr_db"],
                                             r["bits_per_sample"],
                                             r["samples_per_second"]))
    figure(samples, rate, curves, os.path.join(out_dir, "codecs.png"))
    return results


def figure(samples, rate, curves, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("matplotlib is not installed: no figure")
        return
    start = int(rate * 1.39)
    span = slice(start, start + int(rate * 0.03))   # 30 ms: chord, then the burst
    t = [i / rate * 1000 for i in range(span.start, span.stop)]
    fig, axes = plt.subplots(len(curves), 2, figsize=(11, 2.2 * len(curves)),
                             squeeze=False)
    for row, (name, decoded) in enumerate(curves.items()):
        wave_ax, err_ax = axes[row]
        wave_ax.plot(t, samples[span], label="input", linewidth=1)
        wave_ax.plot(t, decoded[span], label=name, linewidth=1)
        wave_ax.set_title(name, fontsize=9)
        wave_ax.legend(fontsize=7, loc="upper right")
        err_ax.plot(t, [a - b for a, b in zip(samples[span], decoded[span])],
                    color="tab:red", linewidth=1)
        err_ax.set_title("error: %s" % name, fontsize=9)
    for ax in axes[-1]:
        ax.set_xlabel("ms")
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)
    print("figure of waveforms and errors: written %s" % os.path.basename(path))


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
        for col, head in enumerate(("codec", "SNR (dB)", "bits/sample",
                                    "samples/s")):
            rows.append("grid [label .h%d -text {%s} -font {TkHeadingFont}] "
                        "-row 0 -column %d -sticky w -padx 6" % (col, head, col))
        for i, r in enumerate(results, start=1):
            cells = (r["codec"], "%.1f" % r["snr_db"], "%.2f" % r["bits_per_sample"],
                     "%.0f" % r["samples_per_second"])
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


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("wav", nargs="?", default=DEFAULT_SAMPLE)
    ap.add_argument("--out", default=os.path.join(ROOT, "out"))
    ap.add_argument("--no-window", action="store_true")
    args = ap.parse_args(argv)
    os.makedirs(args.out, exist_ok=True)

    step("Declarations of the built modules, read back from their type contexts")
    show_declarations.main([])

    step("Audio through _samplekit")
    results = audio_run(kivohost.Module("_samplekit"), args.wav, args.out)
    summary = dict(results=results, clicked=None)

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
                summary["clicked"] = tk_window(tcl, results, args.out, interactive)
        except RuntimeError as e:
            print("no window: %s" % e)
    with open(os.path.join(args.out, "summary.json"), "w") as f:
        json.dump(summary, f, indent=1, default=str)
    print("\noutputs in %s" % args.out)


if __name__ == "__main__":
    main(sys.argv[1:])

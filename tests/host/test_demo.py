"""The main job's demonstration, run as a user would with no display."""
import json
import os
import subprocess
import sys
import wave

import numpy as np
import pytest
import soundfile

import kivohost

DEMO = os.path.join(kivohost.ROOT, "demo", "demo.py")
WAVS = ("g711_ulaw.wav", "g711_alaw.wav", "adpcm.wav", "ratecv_8k.wav",
        "ratecv_back.wav", "mix_echo.wav", "stereo_pan.wav")


@pytest.fixture(scope="module")
def run(tmp_path_factory):
    out = tmp_path_factory.mktemp("demo")
    env = dict(os.environ)
    env.pop("DISPLAY", None)   # the demonstration must bring its own X server
    result = subprocess.run([sys.executable, DEMO, "--out", str(out)], env=env,
                            capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    with open(out / "summary.json") as f:
        return out, result.stdout, json.load(f)


def test_every_step_reports_itself(run):
    _, stdout, _ = run
    for text in ("Declarations of the built modules", "Audio through _samplekit",
                 "A Tk window driven through tclbridge",
                 "9 functions, 0 constants, 1 type names",
                 "55 functions, 12 constants, 10 type names"):
        assert text in stdout


def test_results_are_written_as_wav_files(run):
    out, _, _ = run
    with wave.open(str(out / "g711_ulaw.wav")) as w:
        frames, rate = w.getnframes(), w.getframerate()
    assert rate == 16000 and frames == 48000
    for name in WAVS:
        with wave.open(str(out / name)) as w:
            assert w.getnframes() > 0 and w.getsampwidth() == 2
    with wave.open(str(out / "stereo_pan.wav")) as w:
        assert w.getnchannels() == 2 and w.getnframes() == frames
    with wave.open(str(out / "ratecv_8k.wav")) as w:
        assert w.getframerate() == 8000 and w.getnframes() == frames // 2
    assert soundfile.info(str(out / "ratecv_back.wav")).frames == frames


def test_codec_figures_are_sane(run):
    _, _, summary = run
    by_codec = {r["codec"]: r for r in summary["results"]}
    assert by_codec["G.711 u-law"]["snr_db"] > 30
    assert by_codec["G.711 A-law"]["snr_db"] > 30
    assert by_codec["IMA ADPCM"]["snr_db"] > 20
    assert by_codec["IMA ADPCM"]["bits_per_sample"] == pytest.approx(4.0, abs=0.01)
    assert by_codec["rate 8 kHz and back"]["snr_db"] > 5
    assert all(r["speed"] > 0 for r in summary["results"])


def test_window_was_clicked_and_photographed(run):
    out, _, summary = run
    assert summary["clicked"] is True
    import matplotlib.image
    pixels = matplotlib.image.imread(str(out / "window.png"))
    assert pixels.shape[0] > 50 and pixels.shape[1] > 100
    assert pixels.std() > 0.02   # not a blank image


def test_figure_is_drawn(run):
    out, _, _ = run
    import matplotlib.image
    assert matplotlib.image.imread(str(out / "codecs.png")).std() > 0.02


# (libsndfile container, encoding, channels, frames) -> demo.py's exit status
INPUTS = {"u8-mono": ("WAV", "PCM_U8", 1, 1600),
          "24bit-stereo-extensible": ("WAVEX", "PCM_24", 2, 1600),
          "float-mono": ("WAV", "FLOAT", 1, 1600),
          "ulaw-stereo": ("WAV", "ULAW", 2, 1600),
          "alaw-mono": ("WAV", "ALAW", 1, 7),
          "no-samples": ("WAV", "PCM_16", 1, 0)}


@pytest.mark.parametrize("case", sorted(INPUTS) + ["not-a-wav"])
def test_any_input_gives_results_or_one_line(case, tmp_path):
    path, out = tmp_path / (case + ".wav"), tmp_path / "out"
    if case == "not-a-wav":
        path.write_text("hello\n")
    else:
        container, encoding, channels, frames = INPUTS[case]
        tone = 0.5 * np.sin(np.arange(frames) * 0.3)
        soundfile.write(str(path), np.column_stack([tone] * channels), 8000,
                        subtype=encoding, format=container)
    result = subprocess.run([sys.executable, DEMO, "--no-window", "--out", str(out),
                             str(path)], capture_output=True, text=True, timeout=300)
    assert "Traceback" not in result.stdout + result.stderr
    if case == "not-a-wav":
        assert result.returncode == 1 and not out.exists()
        assert result.stderr.count("\n") == 1 and str(path) in result.stderr
    elif case == "no-samples":
        assert result.returncode == 0 and not out.exists()
        assert "nothing to do" in result.stdout
    else:
        assert result.returncode == 0, result.stderr
        n = INPUTS[case][2]
        channels = {w.name: soundfile.info(str(w)).channels for w in out.glob("*.wav")}
        assert channels == {"g711_ulaw.wav": n, "g711_alaw.wav": n, "adpcm.wav": n,
                            "ratecv_4k.wav": n, "ratecv_back.wav": n,
                            "mix_echo.wav": n, "stereo_pan.wav": 2}


# (rate, channels, encoding) of short inputs whose frame count no block size
# divides; the mix's delay (250 ms) spans many of the small blocks. Their last
# frames back (11025 Hz, 48 kHz) or at 8 kHz (10 kHz) need the end's flush.
STREAMED = {"11025Hz-stereo-16bit": (11025, 2, "PCM_16"),
            "48kHz-3-channels-24bit": (48000, 3, "PCM_24"),
            "10kHz-mono-8bit": (10000, 1, "PCM_U8")}


@pytest.mark.parametrize("case", sorted(STREAMED))
def test_small_blocks_give_the_results_of_one_block(case, tmp_path):
    rate, channels, encoding = STREAMED[case]
    path = tmp_path / "in.wav"
    steps = np.arange(rate // 2 + 3)[:, None] * (0.05 + 0.02 * np.arange(channels))
    soundfile.write(str(path), 0.4 * np.sin(steps), rate, subtype=encoding)
    runs = []
    for block in ("0.02", "10"):    # seconds: one 20 ms piece, the whole input
        out = tmp_path / block
        result = subprocess.run([sys.executable, DEMO, "--no-window", "--block", block,
                                 "--out", str(out), str(path)],
                                capture_output=True, text=True, timeout=300)
        assert result.returncode == 0, result.stderr
        with open(out / "summary.json") as f:
            snrs = [r["snr_db"] for r in json.load(f)["results"]]
        runs.append(({w.name: w.read_bytes() for w in out.glob("*.wav")}, snrs))
    (small, small_snrs), (whole, whole_snrs) = runs
    assert sorted(small) == sorted(WAVS)
    assert small == whole
    assert small_snrs == pytest.approx(whole_snrs, rel=1e-9)


# rate, each channel's input -> the files at the lower rate and back, from one
# ratecv call over the input and copies of its last frame, cut to the input
ENDS = {"44.1kHz": (44100, [[0] * 5 + [1000], [-900] * 5 + [100]], [[0, -900], [1000, 100]],
                    [[0, -900], [181, -719], [362, -538], [544, -356], [725, -175], [907, 7]]),
        "8kHz": (8000, [[400, -800, 1000, 3001]], [[400], [1000]], [[400], [700], [1000], [1000]]),
        "16kHz-one-frame": (16000, [[-1234]], [[-1234]], [[-1234]])}


@pytest.mark.parametrize("case", sorted(ENDS))
def test_rate_conversions_end_with_the_last_frames_due(case, tmp_path):
    rate, channels, low, back = ENDS[case]
    wav, out = tmp_path / "in.wav", tmp_path / "out"
    soundfile.write(str(wav), np.array(channels, np.int16).T, rate)
    subprocess.run([sys.executable, DEMO, "--no-window", "--out", str(out), str(wav)], check=True)
    assert [soundfile.read(str(f), dtype="int16", always_2d=True)[0].tolist()   # lower rate, back
            for f in sorted(out.glob("ratecv_*.wav"))] == [low, back]

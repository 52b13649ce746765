"""The demonstration's input and output files.

A sound is handed around as a numpy array of native sample values, one row per
frame and one column per channel, with the sample width in bytes (1 to 4): the
values the routines see once the rows are laid out as a fragment. Files are
read and written with libsndfile (python3-soundfile), except the samples of a
G.711 WAV: its data chunk is read as raw codes and decoded with the module's
own decoders, so the run starts from exactly what a caller of the module gets.
"""
import os

import numpy as np
import soundfile

# libsndfile's name of a PCM encoding -> the width the routines take it at
PCM_WIDTHS = {"PCM_U8": 1, "PCM_16": 2, "PCM_24": 3, "PCM_32": 4}
G711 = {"ULAW": "u-law", "ALAW": "A-law"}
WRITE_SUBTYPES = {1: "PCM_U8", 2: "PCM_16", 3: "PCM_24", 4: "PCM_32"}


class InputError(Exception):
    """An input that cannot be used; the message says in a few words why."""


class Sound:
    def __init__(self, values, width, rate, description, codes=None, law=None):
        self.values = values            # int64, shape (frames, channels)
        self.width = width              # bytes per sample, 1 to 4
        self.rate = rate                # frames per second
        self.description = description  # what the file holds, for people
        self.codes = codes              # a G.711 file's own codes, or None
        self.law = law                  # their law: "ULAW" or "ALAW"

    @property
    def frames(self):
        return self.values.shape[0]

    @property
    def channels(self):
        return self.values.shape[1]


def full_scale(values, width):
    """Native values as fractions of full scale (-1 to just below 1)."""
    return np.asarray(values, dtype=np.float64) / float(1 << (8 * width - 1))


def to_16bit(values, width):
    """Native values at the 16-bit scale the G.711 routines take: the top
    16 bits, as the coder's own 16-bit scale reads them."""
    return values << 8 if width == 1 else values >> (8 * width - 16)


def data_chunk(path):
    """The bytes of a RIFF WAVE file's data chunk (what is there of it when
    the file is cut short)."""
    with open(path, "rb") as f:
        raw = f.read()
    if raw[:4] != b"RIFF" or raw[8:12] != b"WAVE":
        raise InputError("not a RIFF WAVE file")
    pos = 12
    while pos + 8 <= len(raw):
        ident, size = raw[pos:pos + 4], int.from_bytes(raw[pos + 4:pos + 8], "little")
        if ident == b"data":
            return raw[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)     # chunks are padded to even sizes
    raise InputError("WAV file without a data chunk")


def read(path, g711_decoders):
    """The sound in the file `path`. `g711_decoders` maps "ULAW" and "ALAW" to
    a function from a code to its 16-bit value. Raises InputError."""
    if not os.path.exists(path):
        raise InputError("no such file")
    if os.path.isdir(path):
        raise InputError("a folder, not a sound file")
    if os.path.getsize(path) == 0:
        return Sound(np.zeros((0, 1), np.int64), 2, 1, "an empty file (0 bytes)")
    try:
        info = soundfile.info(path)
    except (RuntimeError, OSError) as error:
        reason = str(error).split(": ", 1)[-1].rstrip(".")
        raise InputError("not a sound file libsndfile can read (%s)" % reason) from None
    kind = "%s %s, %s, %d Hz" % (info.format, info.subtype_info,
                                 {1: "mono", 2: "stereo"}.get(
                                     info.channels, "%d channels" % info.channels),
                                 info.samplerate)
    if info.subtype in G711 and info.format in ("WAV", "WAVEX"):
        codes = np.frombuffer(data_chunk(path), np.uint8)
        codes = codes[:len(codes) - len(codes) % info.channels].reshape(-1, info.channels)
        table = np.array([g711_decoders[info.subtype](c) for c in range(256)], np.int64)
        return Sound(table[codes], 2, info.samplerate,
                     kind + ", decoded with the module's %s decoder"
                     % G711[info.subtype], codes, info.subtype)
    try:
        if info.subtype in PCM_WIDTHS:
            width = PCM_WIDTHS[info.subtype]
            data, _ = soundfile.read(path, dtype="int32", always_2d=True)
            return Sound(data.astype(np.int64) >> (32 - 8 * width), width,
                         info.samplerate, kind)
        if info.subtype in ("FLOAT", "DOUBLE"):
            data, _ = soundfile.read(path, dtype="float64", always_2d=True)
            values = np.clip(np.round(data * 2.0 ** 31), -2 ** 31, 2 ** 31 - 1)
            return Sound(values.astype(np.int64), 4, info.samplerate,
                         kind + ", converted to 32-bit integers (1.0 is full "
                         "scale, beyond it clipped)")
        data, _ = soundfile.read(path, dtype="int16", always_2d=True)
    except (RuntimeError, OSError) as error:
        raise InputError("unreadable sound data (%s)" % str(error).rstrip(".")) from None
    return Sound(data.astype(np.int64), 2, info.samplerate,
                 kind + ", decoded to 16 bits by libsndfile")


def write(path, values, width, rate):
    """Native values of `width` as a PCM WAV file of that width."""
    left_justified = (np.asarray(values, np.int64) << (32 - 8 * width)).astype(np.int32)
    soundfile.write(path, left_justified, rate, subtype=WRITE_SUBTYPES[width],
                    format="WAV")

"""The demonstration's input and output files, read and written block by block.

A block of sound is a numpy int32 array of native sample values, one row per
frame and one column per channel, with the sample width in bytes (1 to 4)
beside it: the values the routines see once the rows are laid out as a
fragment. Files are read and written with libsndfile (python3-soundfile),
except the samples of a G.711 WAV: its data chunk is read as raw codes and
decoded with the module's own decoders, so the run starts from exactly what a
caller of the module gets.
"""
import os

import numpy as np
import soundfile

# libsndfile's name of a PCM encoding -> the width the routines take it at
PCM_WIDTHS = {"PCM_U8": 1, "PCM_16": 2, "PCM_24": 3, "PCM_32": 4}
G711 = {"ULAW": "u-law", "ALAW": "A-law"}
WRITE_SUBTYPES = {1: "PCM_U8", 2: "PCM_16", 3: "PCM_24", 4: "PCM_32"}
# WAVE format tags whose data chunk holds whole frames of block_align bytes:
# PCM, IEEE float, A-law, u-law and the extensible header.
FRAMED_TAGS = (1, 3, 6, 7, 0xFFFE)
# A data size that writers which cannot seek back leave in the header.
UNKNOWN_SIZES = (0, 0xFFFFFFFF)


class InputError(Exception):
    """An input that cannot be used; the message says in a few words why."""


def full_scale(values, width):
    """Native values as fractions of full scale (-1 to just below 1)."""
    return np.multiply(values, 1.0 / (1 << (8 * width - 1)), dtype=np.float64)


def channel_mean(values):
    """The mean of each frame's channels; for a few channels, adding the
    columns is much faster than numpy's mean along rows, and it gives the
    same sums (the values are whole multiples of one step, so any order of
    addition is exact)."""
    total = values[:, 0].astype(np.float64)
    for column in values.T[1:]:
        total += column
    return total / values.shape[1]


def to_16bit(values, width):
    """Native values at the 16-bit scale the G.711 routines take: the top
    16 bits, as the coder's own 16-bit scale reads them."""
    return values << 8 if width == 1 else values >> (8 * width - 16)


class Layout:
    """What a RIFF WAVE header says of its data chunk."""

    def __init__(self, offset, size, available, block_align, tag):
        self.offset = offset            # of the first data byte in the file
        self.size = size                # bytes the header promises
        self.available = available      # bytes that are there
        self.block_align = block_align  # bytes per frame
        self.tag = tag                  # format tag

    def promised_frames(self):
        """Frames the header promises, when its data chunk is counted in
        whole frames and its size is known; else None."""
        if self.tag not in FRAMED_TAGS or not self.block_align or self.size in UNKNOWN_SIZES:
            return None
        return self.size // self.block_align

    def data_bytes(self):
        return min(self.size, self.available)


def wav_layout(path):
    """The Layout of a RIFF WAVE file's data chunk, read from its chunk
    headers alone; None when it is no such file."""
    size = os.path.getsize(path)
    with open(path, "rb") as f:
        head = f.read(12)
        if head[:4] != b"RIFF" or head[8:12] != b"WAVE":
            return None
        pos, block_align, tag = 12, 0, None
        while pos + 8 <= size:
            f.seek(pos)
            chunk = f.read(16 + 8)
            ident, length = chunk[:4], int.from_bytes(chunk[4:8], "little")
            if ident == b"fmt " and len(chunk) >= 22:
                tag = int.from_bytes(chunk[8:10], "little")
                block_align = int.from_bytes(chunk[20:22], "little")
            elif ident == b"data":
                return Layout(pos + 8, length, size - pos - 8, block_align, tag)
            pos += 8 + length + (length & 1)     # chunks are padded to even sizes
    return None


class Input:
    """A sound file opened for reading in blocks (see `blocks`)."""

    def __init__(self, path, width, rate, channels, frames, description,
                 law=None, promised=None):
        self.path = path
        self.width = width              # bytes per sample, 1 to 4
        self.rate = rate                # frames per second
        self.channels = channels
        self.frames = frames            # frames that are there
        self.promised = promised        # frames the header promises, if known
        self.description = description  # what the file holds, for people
        self.law = law                  # "ULAW" or "ALAW" for a G.711 WAV
        self._read = None               # size -> (values, codes); set below
        self._close = lambda: None

    def cut_short(self):
        return self.promised is not None and self.promised > self.frames

    def blocks(self, size):
        """(values, codes) of each block of `size` frames (the last may be
        shorter); codes are a G.711 file's own codes, else None."""
        try:
            while True:
                values, codes = self._read(size)
                if not len(values):
                    return
                yield values, codes
        except (RuntimeError, OSError) as error:
            raise InputError("unreadable sound data (%s)"
                             % str(error).rstrip(".")) from None
        finally:
            self._close()


def open_input(path, g711_decoders):
    """The sound in the file `path`, ready to be read in blocks.
    `g711_decoders` maps "ULAW" and "ALAW" to a function from a code to its
    16-bit value. Raises InputError."""
    if not os.path.exists(path):
        raise InputError("no such file")
    if os.path.isdir(path):
        raise InputError("a folder, not a sound file")
    if os.path.getsize(path) == 0:
        return Input(path, 2, 1, 1, 0, "an empty file (0 bytes)")
    try:
        info = soundfile.info(path)
    except (RuntimeError, OSError) as error:
        reason = str(error).split(": ", 1)[-1].rstrip(".")
        raise InputError("not a sound file libsndfile can read (%s)" % reason) from None
    kind = "%s %s, %s, %d Hz" % (info.format, info.subtype_info,
                                 {1: "mono", 2: "stereo"}.get(
                                     info.channels, "%d channels" % info.channels),
                                 info.samplerate)
    layout = wav_layout(path) if info.format in ("WAV", "WAVEX") else None
    promised = layout.promised_frames() if layout else None
    if info.subtype in G711 and layout:
        return g711_input(path, info, layout, kind, promised,
                          g711_decoders[info.subtype])
    if info.subtype == "PCM_16":
        width, description = 2, kind
        dtype, convert = "int16", lambda data: data.astype(np.int32)
    elif info.subtype in PCM_WIDTHS:
        width, description = PCM_WIDTHS[info.subtype], kind
        dtype, convert = "int32", lambda data: data >> (32 - 8 * width)
    elif info.subtype in ("FLOAT", "DOUBLE"):
        width, dtype = 4, "float64"
        description = kind + ", converted to 32-bit integers (1.0 is full scale, beyond it clipped)"
        convert = lambda data: np.clip(np.round(data * 2.0 ** 31), -2 ** 31,
                                       2 ** 31 - 1).astype(np.int32)
    else:
        width, dtype = 2, "int16"
        description = kind + ", decoded to 16 bits by libsndfile"
        convert = lambda data: data.astype(np.int32)
    try:
        f = soundfile.SoundFile(path)
    except (RuntimeError, OSError) as error:
        raise InputError("unreadable sound data (%s)" % str(error).rstrip(".")) from None
    sound = Input(path, width, info.samplerate, info.channels, info.frames,
                  description, promised=promised)
    sound._read = lambda size: (convert(f.read(size, dtype=dtype, always_2d=True)), None)
    sound._close = f.close
    return sound


def g711_input(path, info, layout, kind, promised, decode):
    channels = info.channels
    frames = layout.data_bytes() // channels
    table = np.array([decode(c) for c in range(256)], np.int32)
    f = open(path, "rb")
    f.seek(layout.offset)
    left = [frames * channels]

    def read(size):
        data = f.read(min(size * channels, left[0]))
        left[0] -= len(data)
        codes = np.frombuffer(data, np.uint8).reshape(-1, channels)
        return table[codes], codes

    sound = Input(path, 2, info.samplerate, channels, frames,
                  kind + ", decoded with the module's %s decoder" % G711[info.subtype],
                  info.subtype, promised)
    sound._read, sound._close = read, f.close
    return sound


class Output:
    """A PCM WAV file of the sound's width, written block by block; its
    header gets the length when it is closed."""

    def __init__(self, path, width, rate, channels):
        self.width = width
        self.file = soundfile.SoundFile(path, "w", rate, channels,
                                        WRITE_SUBTYPES[width], format="WAV")

    def write(self, values):
        # libsndfile takes int32 samples left-justified and keeps their top
        # bits; 16-bit ones go as they are.
        if self.width == 2:
            self.file.write(values.astype(np.int16))
        else:
            self.file.write(np.asarray(values, np.int32) << (32 - 8 * self.width))

    def close(self):
        self.file.close()

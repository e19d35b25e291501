#!/usr/bin/python3
"""Independent reference model of the offline renderer (`rkv render`).

Written from the sound model and the render conventions only, so that it can
catch mistakes in the engine.  Everything that the engine does in 32-bit
integers is done here in Python ints or int64 arrays and then wrapped
explicitly; mixing is done in float64 (the engine mixes in float, so the
comparison allows a couple of LSB).

Library use:   render(song_bytes, drums, frames) -> int16 array (frames, 2)
               (raises SongRefused for songs the player will not load)
Command line:  rkv_model.py SONG --seconds S -o OUT.wav [--resources DIR]
"""

import argparse
import os
import struct
import sys

import numpy as np

RATE = 22050
HEADER_SIZE = 1048
INSTRUMENT_OFFSETS = (24, 364, 704)
DRUM_VOLUME_OFFSET = 1044

NOTE_STEP_TABLE = (1551, 1652, 1747, 1848, 1955, 2074, 2205, 2324, 2461, 2616, 2770, 2938)
PAN_TABLE = (0, 96, 180, 224, 256, 288, 332, 420)
CENTRE_PAN = 256

VOICES_PER_TRACK = 24
FIRST_TRACK_SLOT = 400
DRUM_FIRST_SLOT = 472

MIN_VOICE_BYTES = 4
MAX_VOICE_BYTES = 0x0FFFFFFF
BANK_LIMIT_BYTES = 1 << 30

MIN_VOLUME = -10000
MAX_VOLUME = 0
MIN_PAN = -10000
MAX_PAN = 10000

MAX_STEP_TIME_MS = 1000000

DRUM_NAMES = ("BASS1", "BASS2", "SNARE1", "HAT1", "HAT2", "SYMBAL1")
# The order matters: every created voice counts towards the bank limit.
# Slots 478 and 479 (keys 6 and 7) are never filled.
DRUM_LOAD_ORDER = (
    ("BASS1", 472), ("BASS1", 473), ("BASS2", 474), ("BASS2", 475),
    ("SNARE1", 476), ("SNARE1", 477), ("HAT1", 480), ("HAT1", 481),
    ("HAT2", 482), ("HAT2", 483), ("SYMBAL1", 484), ("SYMBAL1", 485),
) + tuple(("HAT2", s) for s in range(486, 496))

# Drum resource layout: fixed offsets, no chunk walking.
DRUM_FORMAT_OFFSET = 20
DRUM_SIZE_OFFSET = 54
DRUM_DATA_OFFSET = 58


class SongRefused(Exception):
    """The song file is one the player refuses to load."""


# ---------------------------------------------------------------- integers

def wrap32(x):
    """Python int -> signed 32-bit value (two's complement wrap)."""
    x &= 0xFFFFFFFF
    return x - (1 << 32) if x & 0x80000000 else x


def tdiv(a, b):
    """Integer division truncating toward zero (C semantics)."""
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def wrap32_np(a):
    """int64 array -> int64 array holding the signed 32-bit wrap of each value."""
    a = np.asarray(a, dtype=np.int64)
    return ((a + (1 << 31)) & 0xFFFFFFFF) - (1 << 31)


def tdiv_np(a, b):
    """int64 array divided by a positive int, truncating toward zero."""
    assert b > 0
    a = np.asarray(a, dtype=np.int64)
    q = np.abs(a) // b
    return np.where(a < 0, -q, q)


def s32(data, offset):
    return struct.unpack_from("<i", data, offset)[0]


def u32(data, offset):
    return struct.unpack_from("<I", data, offset)[0]


# ---------------------------------------------------------------- song file

class Instrument:
    def __init__(self, record):
        self.octave = record[0]
        self.note_length = u32(record, 4)
        self.volume = s32(record, 8)
        self.wave = np.frombuffer(record, dtype=np.int8, count=256, offset=20).astype(np.int64)
        self.envelope = np.frombuffer(record, dtype=np.int8, count=64, offset=276).astype(np.int64)

    @property
    def multiplier(self):
        # The octave byte is a shift count modulo 32; octave 31 gives INT_MIN.
        return wrap32(1 << (self.octave % 32))


class Song:
    def __init__(self, data):
        data = bytes(data)
        # Before the first load the header is all zeros: missing bytes stay zero.
        header = data[:HEADER_SIZE].ljust(HEADER_SIZE, b"\0")
        self.step_time = u32(header, 8)
        self.loop_start = s32(header, 12)
        self.loop_end = s32(header, 16)
        self.step_count = s32(header, 20)
        self.instruments = [Instrument(header[o:o + 340]) for o in INSTRUMENT_OFFSETS]
        self.drum_volume = s32(header, DRUM_VOLUME_OFFSET)
        if self.step_count < 1:
            raise SongRefused("step count %d is below 1" % self.step_count)
        # Tracks are zero-filled and take only the bytes the file holds.
        self._tracks = data[HEADER_SIZE:HEADER_SIZE + 16 * self.step_count]

    def word(self, track, position):
        assert 0 <= position < self.step_count
        off = 4 * (track * self.step_count + position)
        chunk = self._tracks[off:off + 4].ljust(4, b"\0")
        return struct.unpack("<I", chunk)[0]


# ---------------------------------------------------------------- synthesis

def note_step(multiplier, pitch):
    """Phase step of pitch 0..23 for a multiplier (signed 32-bit products, truncating division)."""
    if pitch < 12:
        return tdiv(wrap32(multiplier * NOTE_STEP_TABLE[pitch]), 16)
    return tdiv(wrap32(multiplier * NOTE_STEP_TABLE[pitch - 12]), 8)


def synthesize_pitch(wave, envelope, multiplier, length, pitch, chunk=1 << 20):
    """The `length` unsigned 8-bit samples of one pitch, as a uint8 array."""
    wave = np.asarray(wave, dtype=np.int64)
    envelope = np.asarray(envelope, dtype=np.int64)
    step = note_step(multiplier, pitch)
    out = np.empty(length, dtype=np.uint8)
    for start in range(0, length, chunk):
        i = np.arange(start, min(length, start + chunk), dtype=np.int64)
        # phase after i additions of step, wrapped at 32 bits and read as signed;
        # |i*step| < 2^28 * 2^31 fits in int64.
        phase = wrap32_np(i * step)
        env_index = ((i * 64) & 0xFFFFFFFF) // length
        e = envelope[env_index]
        w = wave[tdiv_np(phase, 256) & 0xFF]
        out[start:start + len(i)] = ((tdiv_np(w * e, 128) + 128) & 0xFF).astype(np.uint8)
    return out


# ---------------------------------------------------------------- voices and mixing

def gains(volume, pan):
    amp = 10.0 ** (volume / 2000.0)
    left = amp * (10.0 ** (-pan / 2000.0) if pan > 0 else 1.0)
    right = amp * (10.0 ** (pan / 2000.0) if pan < 0 else 1.0)
    return left, right


class Voice:
    def __init__(self, n):
        self.n = n
        self.samples = None          # None: created but never written, i.e. silence
        self.volume = 0
        self.pan = 0
        self.playing = False
        self.run_frame = 0           # output frame where the current run began
        self.run_index = 0           # sample index at run_frame


class Bank:
    """The voice slots and the mixer, rendering into float accumulators."""

    def __init__(self, frames):
        self.frames = frames
        self.slots = {}
        self.total_bytes = 0
        self.left = np.zeros(frames, dtype=np.float64)
        self.right = np.zeros(frames, dtype=np.float64)

    # -- filling
    def create(self, slot, n):
        assert slot not in self.slots
        if n < MIN_VOICE_BYTES or n > MAX_VOICE_BYTES:
            return False
        if self.total_bytes + n > BANK_LIMIT_BYTES:
            return False
        self.slots[slot] = Voice(n)
        self.total_bytes += n
        return True

    def write(self, slot, samples):
        v = self.slots[slot]
        assert len(samples) == v.n
        v.samples = np.asarray(samples, dtype=np.uint8)

    # -- settings (refused values keep the previous one)
    def set_volume(self, slot, level):
        v = self.slots.get(slot)
        if v is None:
            return
        value = wrap32(wrap32(level * 8) - 2400)
        if MIN_VOLUME <= value <= MAX_VOLUME:
            v.volume = value

    def set_pan(self, slot, pan_value, frame):
        v = self.slots.get(slot)
        if v is None:
            return
        value = wrap32(wrap32(pan_value * 10) - 2560)
        if not (MIN_PAN <= value <= MAX_PAN) or value == v.pan:
            return
        self._flush(v, frame)
        v.pan = value

    def restart(self, slot, frame):
        v = self.slots.get(slot)
        if v is None:
            return
        self._flush(v, frame)
        v.playing = True
        v.run_frame = frame
        v.run_index = 0

    # -- mixing
    def _flush(self, v, frame):
        """Mix v's current run up to (not including) `frame` and start a new run there."""
        if not v.playing:
            return
        count = min(frame - v.run_frame, v.n - v.run_index)
        if count > 0 and v.samples is not None:
            seg = (v.samples[v.run_index:v.run_index + count].astype(np.float64) - 128.0) / 128.0
            lg, rg = gains(v.volume, v.pan)
            self.left[v.run_frame:v.run_frame + count] += seg * lg
            self.right[v.run_frame:v.run_frame + count] += seg * rg
        v.run_index += max(count, 0)
        v.run_frame = frame
        if v.run_index >= v.n:
            v.playing = False

    def finish(self):
        for v in self.slots.values():
            self._flush(v, self.frames)
        out = np.empty((self.frames, 2), dtype=np.int16)
        for ch, acc in enumerate((self.left, self.right)):
            x = np.clip(acc, -1.0, 1.0) * 32767.0
            # round half away from zero
            out[:, ch] = (np.sign(x) * np.floor(np.abs(x) + 0.5)).astype(np.int16)
        return out


# ---------------------------------------------------------------- drum kit

def read_drum_sound(data):
    """(n, samples) from a drum resource in the fixed layout."""
    n = u32(data, DRUM_SIZE_OFFSET)
    samples = data[DRUM_DATA_OFFSET:DRUM_DATA_OFFSET + n]
    if len(samples) != n:
        raise ValueError("drum resource holds %d sample bytes, header says %d" % (len(samples), n))
    return n, np.frombuffer(samples, dtype=np.uint8)


def load_drum_kit(bank, drums):
    """drums: name -> resource bytes, or None/absent for a missing resource."""
    for name, slot in DRUM_LOAD_ORDER:
        data = drums.get(name)
        if data is None:
            continue
        n, samples = read_drum_sound(data)
        if bank.create(slot, n):
            bank.write(slot, samples)


def soft_drum_level(volume):
    return tdiv(wrap32(volume * 70), 100)


def apply_drum_mix(bank, drum_volume):
    for k in range(12):
        loud, soft = DRUM_FIRST_SLOT + 2 * k, DRUM_FIRST_SLOT + 2 * k + 1
        bank.set_pan(loud, CENTRE_PAN, 0)
        bank.set_pan(soft, CENTRE_PAN, 0)
        bank.set_volume(loud, drum_volume)
        bank.set_volume(soft, soft_drum_level(drum_volume))


def load_drum_files(directory):
    drums = {}
    for name in DRUM_NAMES:
        path = os.path.join(directory, name + ".wav")
        try:
            with open(path, "rb") as f:
                drums[name] = f.read()
        except FileNotFoundError:
            drums[name] = None
    return drums


# ---------------------------------------------------------------- instruments

def synthesize_instrument(bank, inst, first_slot):
    length = inst.note_length
    # All 24 voices are created before any sound is written: a failure part way
    # leaves the earlier voices created but silent.
    for j in range(VOICES_PER_TRACK):
        if not bank.create(first_slot + j, length):
            return False
    for j in range(VOICES_PER_TRACK):
        bank.write(first_slot + j,
                   synthesize_pitch(inst.wave, inst.envelope, inst.multiplier, length, j))
    return True


def prepare_song_voices(bank, song):
    for k, inst in enumerate(song.instruments):
        base = FIRST_TRACK_SLOT + VOICES_PER_TRACK * k
        synthesize_instrument(bank, inst, base)
        for slot in range(base, base + VOICES_PER_TRACK):
            bank.set_volume(slot, inst.volume)
            bank.set_pan(slot, CENTRE_PAN, 0)
    apply_drum_mix(bank, song.drum_volume)


# ---------------------------------------------------------------- sequencer

class Sequencer:
    def __init__(self, song):
        self.song = song
        self.position = -1

    def advance(self):
        """Move to the step the next tick plays and return it."""
        s = self.song
        pos = self.position + 1
        if pos > wrap32(s.loop_end - 1) or pos > wrap32(s.step_count - 1):
            # A loop start outside the song is clamped so the tracks are never read outside.
            pos = max(0, min(s.loop_start, s.step_count - 1))
        self.position = pos
        return pos

    def tick(self, bank, frame):
        pos = self.advance()
        for t in range(4):
            base = FIRST_TRACK_SLOT + VOICES_PER_TRACK * t
            w = self.song.word(t, pos)
            code = w >> 24
            if 1 <= code <= 7:
                for slot in range(base, base + VOICES_PER_TRACK):
                    bank.set_pan(slot, PAN_TABLE[code], frame)
            for i in range(VOICES_PER_TRACK):
                if w & (1 << i):
                    bank.restart(base + i, frame)


def tick_frames(step_time, frames):
    """Frames on which the sequencer ticks, starting with step 0 at frame 0."""
    if step_time < 1 or step_time > MAX_STEP_TIME_MS:
        return
    k = 0
    while True:
        f = (k * step_time * 441) // 20
        if f >= frames:
            return
        yield f
        k += 1


# ---------------------------------------------------------------- whole render

def render(song_bytes, drums, frames):
    """16-bit stereo frames of `rkv render` for a song file's bytes."""
    bank = Bank(frames)
    load_drum_kit(bank, drums)
    song = Song(song_bytes)
    prepare_song_voices(bank, song)
    seq = Sequencer(song)
    for f in tick_frames(song.step_time, frames):
        seq.tick(bank, f)
    return bank.finish()


def frames_for_seconds(seconds):
    return int(round(seconds * RATE))


def wav_bytes(frames_i16):
    data = np.ascontiguousarray(frames_i16, dtype="<i2").tobytes()
    fmt = struct.pack("<HHIIHH", 1, 2, RATE, RATE * 4, 4, 16)
    return (b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(data)) + b"WAVE"
            + b"fmt " + struct.pack("<I", len(fmt)) + fmt
            + b"data" + struct.pack("<I", len(data)) + data)


def main(argv=None):
    here = os.path.dirname(os.path.abspath(__file__))
    p = argparse.ArgumentParser(description="Reference render of an .rkv song to 16-bit stereo WAV.")
    p.add_argument("song")
    p.add_argument("--seconds", type=float, required=True)
    p.add_argument("-o", "--output", required=True)
    p.add_argument("--resources", default=os.path.join(here, "..", "..", "resources"))
    a = p.parse_args(argv)
    drums = load_drum_files(a.resources)
    missing = [n for n, d in drums.items() if d is None]
    if missing:
        print("rkv_model: warning: missing drum sounds in %s: %s (their keys stay silent)"
              % (a.resources, ", ".join(missing)), file=sys.stderr)
    try:
        with open(a.song, "rb") as f:
            data = f.read()
    except OSError as e:
        print("rkv_model: %s: %s" % (a.song, e.strerror), file=sys.stderr)
        return 1
    try:
        out = render(data, drums, frames_for_seconds(a.seconds))
    except SongRefused as e:
        print("rkv_model: %s: refused: %s" % (a.song, e), file=sys.stderr)
        return 2
    with open(a.output, "wb") as f:
        f.write(wav_bytes(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Writes a deterministic corpus of .rkv songs for comparing the renderer with the model.

    make_corpus.py OUTDIR [--resources DIR]

Ordinary songs (melody, bass, drums, pans, envelopes) plus songs aimed at the
edge cases of loading, synthesis, volumes, pans, the sequencer and the clock.
With --resources, two more songs probe the 1 GiB voice-bank limit exactly; the
drum sounds take part of that budget, so their sizes are needed.

OUTDIR/manifest.json maps every file to the seconds to render and a short note.
"""

import argparse
import json
import math
import os
import random
import struct
import sys

HEADER_SIZE = 1048
# Levels with headroom, so that most songs do not clip and every voice shows in the output.
QUIET = 220
DRUM_QUIET = 200
INT_MIN = -(1 << 31)
INT_MAX = (1 << 31) - 1


# ---------------------------------------------------------------- building blocks

def sine_wave(amp=127):
    return [int(round(amp * math.sin(2 * math.pi * k / 256))) for k in range(256)]


def square_wave():
    return [127] * 128 + [-128] * 128


def saw_wave():
    return [k - 128 for k in range(256)]


def triangle_wave():
    return [max(-128, min(127, int(round(127 - abs(k - 128) * 254 / 128)))) for k in range(256)]


def noise_wave(seed=12345):
    out, x = [], seed
    for _ in range(256):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out.append(((x >> 16) & 0xFF) - 128)
    return out


def const_env(v):
    return [v] * 64


def decay_env(peak=127):
    return [int(peak * (63 - k) / 63) for k in range(64)]


def attack_decay_env():
    return [min(127, k * 16) if k < 8 else int(127 * (63 - k) / 55) for k in range(64)]


def swell_env():
    # negative entries invert the wave for that part of the note
    return [int(127 * math.sin(2 * math.pi * k / 64)) for k in range(64)]


def instrument(octave=3, length=4000, volume=QUIET, wave=None, env=None, junk=0):
    wave = sine_wave() if wave is None else wave
    env = decay_env() if env is None else env
    assert len(wave) == 256 and len(env) == 64
    rec = bytearray(340)
    rec[0] = octave & 0xFF
    rec[1:4] = bytes([junk & 0xFF] * 3)          # ignored bytes
    struct.pack_into("<I", rec, 4, length & 0xFFFFFFFF)
    struct.pack_into("<i", rec, 8, volume)
    rec[12:20] = bytes([junk & 0xFF] * 8)        # ignored bytes
    rec[20:276] = bytes(v & 0xFF for v in wave)
    rec[276:340] = bytes(v & 0xFF for v in env)
    return bytes(rec)


SILENT = instrument(length=64, volume=QUIET)


def word(notes=(), pan=0):
    w = 0
    for n in notes:
        w |= 1 << n
    return (pan << 24) | w


def song(step_time=125, loop_start=0, loop_end=None, step_count=16, instruments=None,
         drum_volume=DRUM_QUIET, tracks=None, pad_byte=0, ignored=0):
    """Header + 4 tracks. tracks: up to four lists of step words (shorter lists are zero-padded)."""
    if loop_end is None:
        loop_end = step_count
    instruments = list(instruments or [])
    while len(instruments) < 3:
        instruments.append(SILENT)
    h = bytearray(HEADER_SIZE)
    h[0:3] = b"RKV"
    h[3] = pad_byte & 0xFF
    struct.pack_into("<I", h, 4, ignored & 0xFFFFFFFF)
    struct.pack_into("<I", h, 8, step_time & 0xFFFFFFFF)
    struct.pack_into("<i", h, 12, loop_start)
    struct.pack_into("<i", h, 16, loop_end)
    struct.pack_into("<i", h, 20, step_count)
    for k, rec in enumerate(instruments):
        h[24 + 340 * k:24 + 340 * (k + 1)] = rec
    struct.pack_into("<i", h, 1044, drum_volume)
    body = bytearray()
    tracks = list(tracks or [])
    while len(tracks) < 4:
        tracks.append([])
    n = max(step_count, 0)
    for t in tracks:
        t = list(t)[:n] + [0] * (n - min(len(t), n))
        for w in t:
            body += struct.pack("<I", w & 0xFFFFFFFF)
    return bytes(h) + bytes(body)


def melody_track(n, notes, pan=0):
    """A step per note, None for a rest; pan applied on the first step."""
    out = []
    for i in range(n):
        nt = notes[i % len(notes)]
        w = word(() if nt is None else (nt if isinstance(nt, tuple) else (nt,)))
        if i == 0 and pan:
            w |= pan << 24
        out.append(w)
    return out


BASIC_DRUMS = [word((0, 8)), word((9,)), word((4, 10)), word((11,)),
               word((0, 8)), word((0, 9)), word((4, 10)), word((12,)) ]


# ---------------------------------------------------------------- the corpus

def corpus(resources=None):
    """List of (file name, bytes, seconds, note)."""
    C = []

    def add(name, data, seconds, note):
        C.append((name + ".rkv", data, seconds, note))

    # --- ordinary songs
    melody = [0, 4, 7, 12, 11, 7, 4, None, 2, 5, 9, 14, 12, 9, 5, None]
    bass = [0, None, 0, None, 5, None, 7, None]
    add("ordinary_pop", song(
        step_time=125, step_count=16,
        instruments=[instrument(3, 5000, 280, sine_wave(), attack_decay_env()),
                     instrument(1, 8000, QUIET, square_wave(), decay_env()),
                     instrument(4, 2500, 240, saw_wave(), decay_env(100))],
        drum_volume=DRUM_QUIET,
        tracks=[melody_track(16, melody, pan=3), melody_track(16, bass),
                melody_track(16, [None, 12, None, 16]), BASIC_DRUMS * 2]),
        3.0, "melody, bass, lead and drums")
    add("ordinary_chords", song(
        step_time=100, step_count=12, loop_start=4, loop_end=12,
        instruments=[instrument(2, 6000, 200, triangle_wave(), swell_env()),
                     instrument(2, 3000, 190, sine_wave(100), const_env(127)),
                     instrument(5, 1200, 170, noise_wave(), decay_env())],
        drum_volume=200,
        tracks=[[word((0, 4, 7), 1), 0, word((5, 9, 12), 7), 0, word((7, 11, 14), 4), 0] * 2,
                melody_track(12, [12, 16, 19, 16]),
                melody_track(12, [None, None, 0, None]),
                [word((2, 13)), word((3,)), word((5, 14)), word((1, 15))] * 3]),
        3.0, "chords, pans on track 0, loop 4..12")
    add("ordinary_pans_moving", song(
        step_time=90, step_count=14,
        instruments=[instrument(3, 9000, QUIET, saw_wave(), attack_decay_env()),
                     instrument(2, 12000, 290, square_wave(), decay_env()),
                     instrument(4, 700, QUIET, triangle_wave(), const_env(100))],
        drum_volume=280,
        # long notes keep sounding while later steps move the pan
        tracks=[[word((0,), 1)] + [word((), p) for p in (2, 3, 4, 5, 6, 7)] + [word((7,), 7)]
                + [word((), p) for p in (6, 5, 4, 3, 2, 1)],
                [word((12,), 7), 0, 0, word((), 1), 0, 0, word((), 4)] * 2,
                [word((k,), 1 + k % 7) for k in range(14)],
                [word((8,), 1 + (k % 7)) for k in range(14)]]),
        2.5, "pans change while long notes play")
    add("ordinary_fast_arp", song(
        step_time=40, step_count=32,
        instruments=[instrument(4, 1500, 200, square_wave(), decay_env()),
                     instrument(2, 3000, 200, sine_wave(), const_env(127)),
                     instrument(6, 500, 180, noise_wave(7), decay_env())],
        drum_volume=240,
        tracks=[melody_track(32, [0, 3, 7, 10, 12, 15, 19, 22]),
                melody_track(32, [0, None, None, None, None, None, None, None, 5, None, None,
                                  None, None, None, None, None]),
                melody_track(32, [None, 23]),
                [word((0, 1)) if k % 4 == 0 else word((10,)) for k in range(32)]]),
        2.0, "fast arpeggio; restarts of sounding notes")

    # --- short files
    add("short_3_bytes", b"RKV", 1.0, "only the magic: step count 0, refused")
    full = song(step_time=100, step_count=4, loop_end=4,
                instruments=[instrument(3, 3000, QUIET)],
                tracks=[[word((0,))] * 4])
    add("short_inside_header", full[:29], 1.0,
        "ends inside instrument 0's note length: only its low byte counts; tracks empty")
    add("short_inside_header_long", full[:400], 1.0,
        "ends inside instrument 1: instrument 0 complete, tracks empty")
    add("short_exact_header", full[:HEADER_SIZE], 1.0, "exactly 1048 bytes: tracks all zero")
    s = song(step_time=100, step_count=8,
             instruments=[instrument(3, 3000, QUIET), instrument(2, 3000, QUIET),
                          instrument(4, 3000, QUIET)],
             tracks=[[word((0,))] * 8, [word((1,))] * 8,
                     [word((0, 8)), word((2, 8)), word((4, 8)), 0x04FF0101, 0x04FF0101,
                      0x04FF0101, word((1,)), word((1,))],
                     [word((0,))] * 8])
    # track 2 starts at 1048 + 2*32; keep 3 words and the two low bytes of the fourth
    add("short_inside_track2", s[:HEADER_SIZE + 64 + 12 + 2], 2.0,
        "ends inside a step word of track 2: its present bytes count, the rest is 0")

    # --- step counts
    for name, sc in (("stepcount_zero", 0), ("stepcount_minus1", -1), ("stepcount_intmin", INT_MIN)):
        add(name, song(step_count=sc, tracks=[[word((0,))] * 4]) + b"\0" * 64, 1.0,
            "step count %d: refused" % sc)
    big = song(step_time=100, step_count=4, loop_end=3,
               instruments=[instrument(3, 3000, QUIET)], tracks=[[word((0,)), word((4,)), word((7,)),
                                                                 word((12,))]])
    big = bytearray(big)
    struct.pack_into("<i", big, 20, INT_MAX)
    add("stepcount_intmax_small_file", bytes(big), 2.0,
        "step count 2^31-1, file holds 4 words of track 0: loop end 3 bounds it")
    struct.pack_into("<i", big, 16, INT_MAX)
    add("stepcount_intmax_walks_past_data", bytes(big), 1.5,
        "step count and loop end 2^31-1: after 4 steps everything reads as 0")

    # --- loop region
    loop_tracks = [[word((k,)) for k in range(8)], [], [], [word((8,))] + [0] * 7]
    loop_insts = [instrument(3, 1500, QUIET, sine_wave(), decay_env())]
    for name, ls, le, note in (
            ("loop_2_4_of_8", 2, 4, "plays 0,1,2,3,2,3,..."),
            ("loop_start_negative", -5, 4, "loop start below 0"),
            ("loop_start_intmin", INT_MIN, 5, "loop start INT_MIN"),
            ("loop_start_past_end", 100, 6, "loop start past the song end"),
            ("loop_start_eq_count", 8, 8, "loop start equal to step count"),
            ("loop_end_zero", 3, 0, "loop end 0: loop start repeats"),
            ("loop_end_negative", 1, -3, "negative loop end"),
            ("loop_end_intmin", 2, INT_MIN, "loop end INT_MIN: only the step count bounds"),
            ("loop_end_intmax", 5, INT_MAX, "loop end INT_MAX"),
            ("loop_end_past_count", 3, 20, "loop end past the step count"),
            ("loop_start_after_end", 6, 3, "loop start after loop end")):
        add(name, song(step_time=100, step_count=8, loop_start=ls, loop_end=le,
                       instruments=loop_insts, tracks=loop_tracks), 2.5, note)

    # --- pan codes 0..255 (8..255 change nothing, their notes still play)
    pan_tracks = [[word((k % 24,), k) for k in range(256)],
                  [word((0,), (k * 37) % 256) if k % 3 == 0 else word((), (k * 11) % 256)
                   for k in range(256)],
                  [],
                  [word((10,), (255 - k)) for k in range(256)]]
    add("pan_codes_all", song(
        step_time=13, step_count=256,
        instruments=[instrument(3, 2000, QUIET, sine_wave(), decay_env()),
                     instrument(2, 6000, 280, saw_wave(), const_env(90))],
        tracks=pan_tracks), 3.4, "pan codes 0..255 on track 0, mixed on track 1 and drums")
    add("pan_code_8_first", song(
        step_time=100, step_count=4,
        instruments=[instrument(3, 8000, QUIET, square_wave(), const_env(60))],
        tracks=[[word((0,), 8), word((), 1), word((12,), 200), word((), 255)],
                [], [], [word((0,), 9), word((4,), 7), word((8,), 128), 0]]),
        2.0, "pan code 8 before any other: stays centre")

    # --- octaves
    for name, octs in (("octaves_0_3_19", (0, 3, 19)), ("octaves_20_25_31", (20, 25, 31)),
                       ("octaves_32_255_10", (32, 255, 10))):
        insts = [instrument(o, 3000, 180, w, e) for o, w, e in
                 zip(octs, (sine_wave(), saw_wave(), square_wave()),
                     (decay_env(), const_env(127), swell_env()))]
        tr = [[word((j,)) for j in (0, 11, 12, 23, 5, 17, 1, 13)] for _ in range(3)]
        add(name, song(step_time=150, step_count=8, instruments=insts, tracks=tr),
            1.5, "octaves %s" % (octs,))

    # --- note lengths
    for name, lengths, secs, note in (
            ("length_0_3_4", (0, 3, 4), 1.0, "0 and 3 cannot be created, 4 can"),
            ("length_64_640_1000", (64, 640, 1000), 1.0, "one envelope entry per sample; 10 per entry"),
            ("length_200000", (200000, 64, 4), 3.0,
             "long notes, phase wraps at high pitch; 24 x 200000 samples"),
            ("length_max_voice", (0x0FFFFFFF, 100, 100), 1.0,
             "0x0FFFFFFF: 3 voices fit in the bank, the 4th fails; instrument 0 silent"),
            ("length_over_max", (0x10000000, 200, 300), 1.0, "0x10000000 cannot be created"),
            ("length_bank_overflow", (50000000, 2000, 3000), 1.0,
             "50,000,000: 21 voices fit, the 22nd fails before any sound is written"),
            ("length_bank_across_instruments", (0x0FFFFFFF, 200000000, 500), 1.0,
             "3 huge voices, then instrument 1 fails at its 2nd voice; instrument 2 fits"),
            ("length_top_bit_set", (0xFFFFFFFF, 500, 1 << 31), 1.0,
             "note lengths with the top bit set")):
        octs = (9, 3, 5) if name == "length_200000" else (3, 4, 5)
        insts = [instrument(o, L, QUIET, w, e) for o, L, w, e in
                 zip(octs, lengths, (saw_wave(), sine_wave(), square_wave()),
                     (swell_env(), decay_env(), const_env(127)))]
        tr = [[word((j,)) for j in (0, 23, 7, 12, 19, 2)] for _ in range(3)]
        add(name, song(step_time=120, step_count=6, instruments=insts,
                       tracks=tr + [[word((4,))] * 6]), secs, note)

    # --- volumes
    for name, vols in (("volume_300_0_400", (300, 0, 400)),
                       ("volume_neg1000_neg5_1", (-1000, -5, 1)),
                       ("volume_wrap", ((1 << 29) + 300, (1 << 29) + 100, INT_MAX)),
                       ("volume_wrap2", (INT_MIN, -(1 << 29) + 250, 301))):
        insts = [instrument(3, 4000, v, w, decay_env()) for v, w in
                 zip(vols, (sine_wave(), saw_wave(), triangle_wave()))]
        tr = [[word((0 + 4 * k,)), word((), 0), word((7 + 4 * k,)), 0] for k in range(3)]
        add(name, song(step_time=150, step_count=4, instruments=insts, tracks=tr),
            1.0, "instrument volumes %s" % (vols,))

    # --- drums
    all_keys = list(range(24))
    drum_track = [word((0, 12)), word((0, 1)), word((6, 7)), word((6, 7, 4)),
                  word((10, 14, 16, 18, 20, 22)), word((11, 15, 17, 19, 21, 23)),
                  word((2, 3)), word((12, 13, 8, 9))]
    for v in (300, 255, 1, 0, -5, 400, (1 << 29) + 300, -1250, 100000):
        add("drums_volume_%s" % str(v).replace("-", "neg"),
            song(step_time=110, step_count=8, drum_volume=v, tracks=[[], [], [], drum_track]),
            1.5, "drum volume %d" % v)
    add("drums_all_24_keys", song(
        step_time=150, step_count=4, drum_volume=100,
        tracks=[[], [], [], [word(all_keys), 0, word(range(1, 24, 2)), word(range(0, 24, 2))]]),
        1.5, "every drum key at once; keys 6 and 7 stay silent")
    add("drums_restart_cut", song(
        step_time=60, step_count=6, drum_volume=230,
        tracks=[[], [], [], [word((8,)), word((8,)), word((8, 9)), word((12,)), word((12, 13)),
                             word((9,))]]), 2.0, "long drums cut and restarted; soft copy separate")
    add("drums_pan_all", song(
        step_time=100, step_count=8, drum_volume=250,
        tracks=[[], [], [], [word((8, 13), 1), word((), 7), word((12,), 2), word((), 6),
                             word((9, 0), 3), word((), 5), word((8,), 4), word((1,), 0)]]),
        2.0, "drum track pans move long drum sounds")

    # --- step times and the clock
    st_tracks = [[word((k % 24,)) for k in range(16)], [], [], [word((0,)), word((10,))] * 8]
    for st, secs in ((1, 1.0), (13, 1.5), (100, 1.5), (125, 1.5), (0, 1.0), (1000000, 1.0),
                     (1000001, 1.0), (0xFFFFFFFF, 1.0), (7, 1.2), (999, 2.0)):
        add("steptime_%d" % st, song(
            step_time=st, step_count=16,
            instruments=[instrument(3, 300, 150, square_wave(), decay_env())],
            tracks=st_tracks), secs, "step time %d" % st)

    # --- synthesis corner cases
    add("square_env_127", song(
        step_time=200, step_count=5,
        instruments=[instrument(0, 4000, 300, square_wave(), const_env(127)),
                     instrument(3, 4000, 300, square_wave(), const_env(-128)),
                     instrument(1, 4000, 200, square_wave(), const_env(127))],
        tracks=[[word((0,)), 0, word((12,)), 0, 0], [0, word((11,)), 0, word((23,)), 0],
                [0, 0, 0, 0, word((5,))]]), 1.2, "square waves, envelopes 127 and -128")
    add("wave_m128_env_m128", song(
        step_time=200, step_count=3,
        instruments=[instrument(2, 3000, 300, [-128] * 256, const_env(-128)),
                     instrument(2, 3000, 240, [-128] * 256, const_env(-128)),
                     instrument(2, 3000, 300, [-128] * 255 + [127], const_env(-128))],
        tracks=[[word((0,)), 0, word((0, 1, 2))], [0, word((3,)), 0], [word((4,)), 0, 0]]),
        1.0, "wave -128 x envelope -128 stores 0: full negative DC, clamping with several voices")
    add("clamp_many_voices", song(
        step_time=150, step_count=3,
        instruments=[instrument(1, 5000, 300, square_wave(), const_env(127)),
                     instrument(1, 5000, 300, saw_wave(), const_env(127)),
                     instrument(2, 5000, 300, sine_wave(), const_env(127))],
        tracks=[[word(range(24)), 0, word(range(0, 24, 2))], [word(range(24))] * 3,
                [word(range(12), 4)] * 3, [word(range(24))] * 3]), 1.0,
        "72 instrument voices and 22 drums at once: clamped output")
    add("ignored_fields_noise", song(
        step_time=100, step_count=4, pad_byte=0xAB, ignored=0xDEADBEEF,
        instruments=[instrument(3, 3000, QUIET, junk=0xEE)], tracks=[[word((0,)), word((4,))] * 2]),
        1.0, "byte 3 and the ignored fields hold junk")
    trailing = song(step_time=100, step_count=4, instruments=[instrument(3, 3000, QUIET)],
                    tracks=[[word((0,)), word((4,))] * 2]) + bytes(range(256)) * 4
    add("trailing_bytes", trailing, 1.0, "bytes after the fourth track are never read")

    # --- seeded random songs: every field drawn over its interesting range
    for seed in range(12):
        add("random_%02d" % seed, random_song(seed), 2.0, "random song, seed %d" % seed)

    # --- the exact 1 GiB boundary, which depends on the drum sounds' sizes
    if resources:
        drum_total = drum_bank_bytes(resources)
        if drum_total is not None:
            huge = 0x0FFFFFFF
            used = drum_total + 3 * huge            # instrument 0: 3 voices fit, the 4th fails
            l2 = 2000
            l1 = (1 << 30) - used - 24 * l2         # instrument 1: one voice, then it fails
            for name, extra, note in (("bank_exactly_1gib", 0, "all voices end at exactly 1 GiB:"
                                       " instrument 2 is created and plays"),
                                      ("bank_1gib_plus_1", 1, "one byte past 1 GiB:"
                                       " instrument 2's last voice fails, it stays silent")):
                insts = [instrument(3, huge, QUIET), instrument(3, l1 + extra, QUIET),
                         instrument(5, l2, QUIET, square_wave(), const_env(127))]
                tr = [[word((0,))] * 4, [word((0,))] * 4, [word((0, 7, 12))] * 4, [word((0,))] * 4]
                add(name, song(step_time=100, step_count=4, instruments=insts, tracks=tr), 1.0,
                    note)
    return C


def random_song(seed):
    rng = random.Random(seed)

    def pick(*choices):
        return rng.choice(choices)

    def level():
        return pick(rng.randint(120, 240), rng.randint(-1300, 400),
                    rng.randint(INT_MIN, INT_MAX), (1 << 29) + rng.randint(0, 300))

    insts = []
    for _ in range(3):
        wave = pick(sine_wave(), square_wave(), saw_wave(), triangle_wave(),
                    noise_wave(rng.randint(1, 1000)), [rng.randint(-128, 127) for _ in range(256)])
        env = pick(decay_env(), attack_decay_env(), swell_env(), const_env(rng.randint(-128, 127)),
                   [rng.randint(-128, 127) for _ in range(64)])
        octave = pick(rng.randint(0, 7), rng.randint(0, 255))
        length = pick(rng.randint(4, 12000), rng.randint(0, 8), rng.randint(12000, 40000))
        insts.append(instrument(octave, length, level(), wave, env, junk=rng.randint(0, 255)))
    step_count = rng.randint(1, 24)
    tracks = []
    for t in range(4):
        words = []
        for _ in range(step_count):
            notes = rng.sample(range(24), pick(0, 1, 1, 2, 3, rng.randint(0, 24)))
            pan = pick(0, 0, 0, rng.randint(1, 7), rng.randint(0, 255))
            words.append(word(notes, pan))
        tracks.append(words)
    data = song(step_time=pick(rng.randint(20, 200), rng.randint(1, 20)),
                step_count=step_count,
                loop_start=pick(0, rng.randint(-3, step_count + 3)),
                loop_end=pick(step_count, rng.randint(-3, step_count + 3), INT_MIN),
                instruments=insts, drum_volume=level(), tracks=tracks,
                pad_byte=rng.randint(0, 255), ignored=rng.getrandbits(32))
    if rng.random() < 0.25:   # sometimes the file ends early
        data = data[:rng.randint(HEADER_SIZE, len(data))]
    return data


def drum_bank_bytes(resources):
    """Bytes the drum kit takes in the bank, from the sizes at offset 54 of each file."""
    sizes = {}
    for name in ("BASS1", "BASS2", "SNARE1", "HAT1", "HAT2", "SYMBAL1"):
        path = os.path.join(resources, name + ".wav")
        try:
            with open(path, "rb") as f:
                data = f.read(58)
        except OSError:
            return None
        if len(data) < 58:
            return None
        n = struct.unpack_from("<I", data, 54)[0]
        sizes[name] = n if 4 <= n <= 0x0FFFFFFF else 0
    copies = {"BASS1": 2, "BASS2": 2, "SNARE1": 2, "HAT1": 2, "HAT2": 12, "SYMBAL1": 2}
    return sum(sizes[k] * c for k, c in copies.items())


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("outdir")
    p.add_argument("--resources", help="drum sound directory (adds the 1 GiB boundary songs)")
    a = p.parse_args()
    os.makedirs(a.outdir, exist_ok=True)
    manifest = {}
    for name, data, seconds, note in corpus(a.resources):
        assert name not in manifest, name
        with open(os.path.join(a.outdir, name), "wb") as f:
            f.write(data)
        manifest[name] = {"seconds": seconds, "note": note}
    with open(os.path.join(a.outdir, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1, sort_keys=True)
    print("wrote %d songs to %s" % (len(manifest), a.outdir))
    return 0


if __name__ == "__main__":
    sys.exit(main())

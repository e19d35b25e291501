#!/usr/bin/python3
"""Self-test of the reference model: hand-computed facts, plus a literal frame-by-frame
simulation that the fast event-based mixer must agree with."""

import os
import struct
import sys
import unittest

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import make_corpus as mc  # noqa: E402
import rkv_model as m  # noqa: E402

INT_MIN, INT_MAX = -(1 << 31), (1 << 31) - 1


def drum_file(samples):
    """A drum resource in the fixed layout, with the pad byte for odd sizes."""
    n = len(samples)
    body = (b"WAVE" + b"fmt " + struct.pack("<IHHIIHHH", 18, 1, 1, 22050, 22050, 1, 8, 0)
            + b"fact" + struct.pack("<II", 4, n) + b"data" + struct.pack("<I", n)
            + bytes(samples) + (b"\0" if n % 2 else b""))
    return b"RIFF" + struct.pack("<I", len(body)) + body


# Six short, distinct sounds (sizes differ so a mix-up of keys shows).
DRUMS = {name: drum_file([(128 + (37 * (i + 1) * (k + 1)) % 200 - 100) & 0xFF
                          for i in range(40 + 13 * k)])
         for k, name in enumerate(m.DRUM_NAMES)}


def to_i16(x):
    x = np.clip(x, -1.0, 1.0) * 32767.0
    return (np.sign(x) * np.floor(np.abs(x) + 0.5)).astype(np.int16)


def literal_render(song_bytes, drums, frames):
    """Frame by frame, exactly as the rules read: ticks before the frame, each playing voice
    takes sample i then i += 1, stops at n. Slow; only for short renders."""
    bank = m.Bank(frames)
    m.load_drum_kit(bank, drums)
    song = m.Song(song_bytes)
    m.prepare_song_voices(bank, song)
    voices = bank.slots
    state = {slot: None for slot in voices}  # None = stopped, else sample index
    pans = {slot: v.pan for slot, v in voices.items()}
    ticks = set(m.tick_frames(song.step_time, frames))
    seq = m.Sequencer(song)
    out = np.zeros((2, frames))
    for f in range(frames):
        if f in ticks:
            pos = seq.advance()
            for t in range(4):
                base, w = 400 + 24 * t, song.word(t, pos)
                if 1 <= w >> 24 <= 7:
                    for slot in set(range(base, base + 24)) & set(voices):
                        pans[slot] = m.PAN_TABLE[w >> 24] * 10 - 2560
                for i in range(24):
                    if w >> i & 1 and (base + i) in voices:
                        state[base + i] = 0
        for slot, i in state.items():
            if i is not None:
                v = voices[slot]
                b = 128 if v.samples is None else int(v.samples[i])
                out[:, f] += np.array(m.gains(v.volume, pans[slot])) * (b - 128) / 128
                state[slot] = i + 1 if i + 1 < v.n else None
    return np.stack([to_i16(out[0]), to_i16(out[1])], axis=1)


def literal_pitch(wave, env, multiplier, length, pitch):
    """The synthesis loop written out with a real 32-bit phase accumulator."""
    step, phase, out = m.note_step(multiplier, pitch), 0, []
    for i in range(length):
        e = env[((i * 64) & 0xFFFFFFFF) // length]
        out.append((m.tdiv(wave[m.tdiv(phase, 256) & 0xFF] * e, 128) + 128) & 0xFF)
        phase = m.wrap32(phase + step)
    return out


def octave_multiplier(octave):
    rec = bytearray(340)
    rec[0] = octave
    return m.Instrument(bytes(rec)).multiplier


class Facts(unittest.TestCase):
    def test_hand_computed_values(self):
        for got, want in [
                (m.wrap32(1 << 31), INT_MIN), (m.wrap32(-(1 << 31) - 1), INT_MAX),
                (m.tdiv(-7, 2), -3), (m.tdiv(7, -2), -3),
                (list(m.tdiv_np(np.array([-7, -1, 7, -(1 << 40)]), 2)), [-3, 0, 3, -(1 << 39)]),
                (list(m.wrap32_np(np.array([1 << 31, (1 << 32) + 5]))), [INT_MIN, 5]),
                (m.note_step(1, 0), 96), (m.note_step(1, 12), 193), (m.note_step(8, 11), 1469),
                (m.note_step(8, 23), 2938), (m.note_step(512, 23), 188032),
                (m.note_step(INT_MIN, 0), INT_MIN // 16), (m.note_step(INT_MIN, 1), 0),
                (m.note_step(1 << 20, 11), m.tdiv(m.wrap32((1 << 20) * 2938), 16)),
                ([octave_multiplier(o) for o in (0, 3, 31, 32, 255)], [1, 8, INT_MIN, 1, INT_MIN]),
                ([m.soft_drum_level(v) for v in (300, 255, 1, 0, -5, 400)],
                 [210, 178, 0, 0, -3, 280]),
                (m.gains(0, 0), (1.0, 1.0)),
                (list(m.tick_frames(125, 9000)), [0, 2756, 5512, 8268]),
                (list(m.tick_frames(1, 70)), [0, 22, 44, 66]),
                (list(m.tick_frames(0, 10000)), []), (list(m.tick_frames(1000001, 10000)), []),
                (list(m.tick_frames(1000000, 100000)), [0])]:
            self.assertEqual(got, want)
        for (volume, pan), want in [((-2400, -1600), (10 ** -1.2, 10 ** -2.0)),
                                    ((0, 1640), (10 ** -0.82, 1.0))]:
            for g, w in zip(m.gains(volume, pan), want):
                self.assertAlmostEqual(g, w)

    def test_synthesis(self):
        s = m.synthesize_pitch(mc.square_wave(), [127] * 64, 1, 1400, 0)
        # step 96: the index reaches 128 at sample 342 and 256 at 683
        for a, b, v in ((0, 342, 254), (342, 683, 1), (683, 1024, 254), (1024, 1366, 1)):
            self.assertTrue(np.all(s[a:b] == v))
        for wave, env, length, want in (([-128] * 256, [-128] * 64, 64, [0] * 64),
                                        ([127] * 256, [-128] * 64, 64, [1] * 64),
                                        ([64] * 256, [100] * 32 + [-100] * 32, 640,
                                         [178] * 320 + [78] * 320),
                                        ([127] * 256, list(range(64)), 640,
                                         [128 + m.tdiv(127 * e, 128) for e in range(64)
                                          for _ in range(10)])):
            self.assertEqual(list(m.synthesize_pitch(wave, env, 1, length, 0)), want)
        rng = np.random.default_rng(7)
        for octave, length, pitch in ((0, 700, 0), (3, 999, 11), (12, 3001, 23), (19, 2000, 7),
                                      (20, 2000, 11), (25, 1500, 17), (31, 1000, 0),
                                      (31, 1000, 13), (9, 20000, 23)):
            wave = [int(x) for x in rng.integers(-128, 128, 256)]
            env = [int(x) for x in rng.integers(-128, 128, 64)]
            mult = m.wrap32(1 << octave)
            self.assertEqual(list(m.synthesize_pitch(wave, env, mult, length, pitch, chunk=333)),
                             literal_pitch(wave, env, mult, length, pitch), (octave, pitch))

    def test_bank_levels_pans_and_limits(self):
        bank = m.Bank(10)
        self.assertTrue(bank.create(5, 10))
        bank.set_volume(5, 400)  # refused on a new voice: stays 0
        self.assertEqual(bank.slots[5].volume, 0)
        for level, want in ((300, 0), (0, -2400), (400, -2400), (-1000, -2400), (-5, -2440),
                            ((1 << 29) + 300, 0), ((1 << 29) + 100, -1600), (INT_MAX, -2408),
                            (INT_MIN, -2400), (301, -2400), (-950, -10000), (-951, -10000)):
            bank.set_volume(5, level)
            self.assertEqual(bank.slots[5].volume, want, level)
        for code, want in ((96, -1600), (420, 1640), (2000, 1640)):  # +17440 refused
            bank.set_pan(5, code, 0)
            self.assertEqual(bank.slots[5].pan, want)
        bank = m.Bank(1)
        self.assertEqual([bank.create(1, n) for n in (3, 0, 0x10000000, 4)],
                         [False, False, False, True])
        self.assertTrue(all(bank.create(s, 0x0FFFFFFF) for s in (2, 3, 4)))
        left = (1 << 30) - bank.total_bytes
        self.assertEqual([bank.create(5, left + 1), bank.create(5, left), bank.create(6, 4)],
                         [False, True, False])

    def test_sequencing_and_parsing(self):
        for start, end, count, want in ((2, 4, 8, [0, 1, 2, 3, 2, 3, 2, 3]),
                                        (1, INT_MIN, 5, [0, 1, 2, 3, 4, 1, 2]),
                                        (3, 0, 8, [3, 3, 3]), (1, -3, 8, [1, 1, 1]),
                                        (3, 20, 6, [0, 1, 2, 3, 4, 5, 3, 4, 5]),
                                        (-5, 4, 8, [0, 1, 2, 3, 0, 1]),
                                        (100, 6, 8, [0, 1, 2, 3, 4, 5, 7, 7]),
                                        (INT_MIN, 2, 8, [0, 1, 0, 1])):
            seq = m.Sequencer(m.Song(mc.song(loop_start=start, loop_end=end, step_count=count)))
            self.assertEqual([seq.advance() for _ in want], want)
        for data in [mc.song(step_count=sc) for sc in (0, -1, INT_MIN)] + [b"RKV"]:
            with self.assertRaises(m.SongRefused):
                m.Song(data)
        data = mc.song(step_count=2, tracks=[[0x11223344, 0x55667788], [0x01020304]])
        song = m.Song(data[:m.HEADER_SIZE + 8 + 3])
        self.assertEqual([song.word(t, i) for t, i in ((0, 0), (0, 1), (1, 0), (1, 1), (3, 1))],
                         [0x11223344, 0x55667788, 0x00020304, 0, 0])
        # a file ending inside a field keeps the bytes of it that are present
        for cut, length in ((30, 64), (28, 0)):
            song = m.Song(data[:cut])
            self.assertEqual((song.step_count, song.instruments[0].note_length), (2, length))


class Rendering(unittest.TestCase):
    def render(self, tracks, frames, drums=DRUMS, **kw):
        return m.render(mc.song(step_time=kw.pop("step_time", 100), tracks=tracks,
                                step_count=max(len(t) for t in tracks), drum_volume=300, **kw),
                        drums, frames)

    def test_drums_and_voices(self):
        bass = m.read_drum_sound(DRUMS["BASS1"])[1]
        raw = (bass.astype(float) - 128) / 128
        for word, gain in ((1, 1.0), (2, 10 ** (-720 / 2000))):  # loud, then soft at 70 %
            out = self.render([[], [], [], [word, 0]], 200)
            self.assertTrue(np.array_equal(out[:len(bass), 0], to_i16(raw * gain)))
            self.assertTrue(np.array_equal(out[:len(bass), 1], to_i16(raw * gain)))
            self.assertTrue(np.all(out[len(bass):] == 0))
        silent = [([[], [], [], [mc.word((6, 7))]], DRUMS, {}),
                  ([[], [], [], [mc.word((10, 11, 14, 23))]], dict(DRUMS, HAT2=None), {}),
                  ([[], [], [], [1]], DRUMS, {"step_time": 0})]
        for tracks, drums, kw in silent:
            self.assertTrue(np.all(self.render(tracks, 500, drums, **kw) == 0), tracks)
        self.assertTrue(np.any(self.render([[], [], [], [mc.word((4,))]], 500,
                                           dict(DRUMS, HAT2=None)) != 0))
        # step time 1 ms: ticks on frames 0, 22, 44; HAT1 is longer, and is cut, not layered
        hat = m.read_drum_sound(DRUMS["HAT1"])[1]
        out = self.render([[], [], [], [1 << 8]], 66, step_time=1)
        for start in (0, 22, 44):
            self.assertTrue(np.array_equal(out[start:start + 22, 0],
                                           to_i16((hat[:22].astype(float) - 128) / 128)))
        inst = [mc.instrument(0, 1000, 300, mc.square_wave(), mc.const_env(127))]
        out = self.render([[mc.word((0,), 1)]], 10, instruments=inst)  # pan first, then notes
        self.assertEqual(list(out[0]), [round(126 / 128 * 32767),
                                        round(126 / 128 * 10 ** (-1600 / 2000) * 32767)])
        out = self.render([[mc.word((0,), 8)]], 10, instruments=inst)  # code 8 ignored
        self.assertEqual(list(out[0]), [32255, 32255])
        insts = [mc.instrument(3, 50000000, 300), mc.instrument(3, 100, 300)]
        self.assertTrue(np.all(self.render([[mc.word((0,))], []], 300, instruments=insts) == 0))
        self.assertTrue(np.any(self.render([[], [mc.word((0,))]], 300, instruments=insts) != 0))

    def test_event_mixer_matches_literal_simulation(self):
        songs = [
            mc.song(step_time=3, step_count=6, loop_start=2, drum_volume=255,
                    instruments=[mc.instrument(3, 150, 260, mc.saw_wave(), mc.swell_env()),
                                 mc.instrument(5, 90, 400, mc.square_wave(), mc.decay_env()),
                                 mc.instrument(1, 400, -5, mc.sine_wave(), mc.const_env(127))],
                    tracks=[[mc.word((0, 5), 1), mc.word((), 7), mc.word((12,), 9), 0,
                             mc.word((23,), 4), mc.word((), 2)],
                            [mc.word((3,)), mc.word((3,), 6), 0, mc.word((7, 19))],
                            [mc.word((0,)), 0, 0, mc.word((0,), 3)],
                            [mc.word((0, 1, 6, 10)), mc.word((8,), 5), mc.word(range(24)),
                             mc.word((13,), 1), 0, mc.word((4, 5), 7)]]),
            mc.song(step_time=2, step_count=3, loop_end=INT_MIN, drum_volume=-5,
                    instruments=[mc.instrument(0, 4, 300, mc.noise_wave(), mc.const_env(-128)),
                                 mc.instrument(20, 64, 300, mc.noise_wave(3), mc.decay_env()),
                                 mc.instrument(31, 100, 300, mc.saw_wave(), mc.const_env(90))],
                    tracks=[[mc.word((0, 1, 2)), mc.word((23,), 200)],
                            [mc.word((11,)), mc.word((4,), 5)],
                            [mc.word((0, 1))], [mc.word((2, 3, 12), 3)]]),
        ]
        for s in songs:
            fast = m.render(s, DRUMS, 900)
            diff = np.abs(fast.astype(int) - literal_render(s, DRUMS, 900).astype(int))
            self.assertLessEqual(int(diff.max()), 1)
            self.assertTrue(np.any(fast != 0))


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/python3
"""Self-test of the reference model: hand-computed facts, plus a literal
frame-by-frame simulation that the fast event-based mixer must agree with."""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import make_corpus as mc  # noqa: E402
import rkv_model as m  # noqa: E402

INT_MIN = -(1 << 31)
INT_MAX = (1 << 31) - 1


def drum_file(samples):
    """A drum resource in the fixed layout, with the pad byte for odd sizes."""
    n = len(samples)
    body = (b"WAVE" + b"fmt " + struct.pack("<IHHIIHHH", 18, 1, 1, 22050, 22050, 1, 8, 0)
            + b"fact" + struct.pack("<II", 4, n) + b"data" + struct.pack("<I", n)
            + bytes(samples) + (b"\0" if n % 2 else b""))
    return b"RIFF" + struct.pack("<I", len(body)) + body


def tiny_drums():
    """Six short, distinct sounds (sizes differ so a mix-up of keys shows)."""
    drums = {}
    for k, name in enumerate(m.DRUM_NAMES):
        n = 40 + 13 * k
        drums[name] = drum_file([(128 + (37 * (i + 1) * (k + 1)) % 200 - 100) & 0xFF
                                 for i in range(n)])
    return drums


def drum_samples(drums, name):
    return m.read_drum_sound(drums[name])[1]


def to_i16(x):
    x = np.clip(x, -1.0, 1.0) * 32767.0
    return (np.sign(x) * np.floor(np.abs(x) + 0.5)).astype(np.int16)


def plain_song(**kw):
    return mc.song(**kw)


# ---------------------------------------------------------------- literal simulation

def literal_render(song_bytes, drums, frames):
    """Frame by frame, exactly as the rules read: ticks before the frame, each playing
    voice takes sample i then i += 1, stops at n.  Slow; only for short renders."""
    bank = m.Bank(frames)
    m.load_drum_kit(bank, drums)
    song = m.Song(song_bytes)
    m.prepare_song_voices(bank, song)
    voices = bank.slots
    state = {slot: None for slot in voices}       # None = stopped, else sample index
    pans = {slot: v.pan for slot, v in voices.items()}
    ticks = set(m.tick_frames(song.step_time, frames))
    seq = m.Sequencer(song)
    left = np.zeros(frames)
    right = np.zeros(frames)
    for f in range(frames):
        if f in ticks:
            pos = seq.advance()
            for t in range(4):
                base = 400 + 24 * t
                w = song.word(t, pos)
                code = w >> 24
                if 1 <= code <= 7:
                    for slot in range(base, base + 24):
                        if slot in voices:
                            pans[slot] = m.PAN_TABLE[code] * 10 - 2560
                for i in range(24):
                    if w >> i & 1 and (base + i) in voices:
                        state[base + i] = 0
        for slot, i in state.items():
            if i is None:
                continue
            v = voices[slot]
            b = 128 if v.samples is None else int(v.samples[i])
            lg, rg = m.gains(v.volume, pans[slot])
            left[f] += (b - 128) / 128 * lg
            right[f] += (b - 128) / 128 * rg
            state[slot] = i + 1 if i + 1 < v.n else None
    return np.stack([to_i16(left), to_i16(right)], axis=1)


def literal_pitch(wave, env, multiplier, length, pitch):
    """The synthesis loop written out with a real 32-bit phase accumulator."""
    step = m.note_step(multiplier, pitch)
    out = []
    phase = 0
    for i in range(length):
        e = env[((i * 64) & 0xFFFFFFFF) // length]
        w = wave[m.tdiv(phase, 256) & 0xFF]
        out.append((m.tdiv(w * e, 128) + 128) & 0xFF)
        phase = m.wrap32(phase + step)
    return out


class Integers(unittest.TestCase):
    def test_wrap_and_truncation(self):
        self.assertEqual(m.wrap32(1 << 31), INT_MIN)
        self.assertEqual(m.wrap32(-(1 << 31) - 1), INT_MAX)
        self.assertEqual(m.tdiv(-7, 2), -3)
        self.assertEqual(m.tdiv(7, -2), -3)
        a = np.array([-7, -1, 0, 1, 7, -(1 << 40)], dtype=np.int64)
        self.assertEqual(list(m.tdiv_np(a, 2)), [-3, 0, 0, 0, 3, -(1 << 39)])
        self.assertEqual(list(m.wrap32_np(np.array([1 << 31, (1 << 32) + 5, -(1 << 31) - 2]))),
                         [INT_MIN, 5, INT_MAX - 1])


class Synthesis(unittest.TestCase):
    def test_note_steps(self):
        self.assertEqual(m.note_step(1, 0), 96)
        self.assertEqual(m.note_step(1, 12), 193)
        self.assertEqual(m.note_step(8, 11), 1469)
        self.assertEqual(m.note_step(8, 23), 2938)

    def test_multiplier_of_octaves(self):
        def mult(octave):
            rec = bytearray(340)
            rec[0] = octave
            return m.Instrument(bytes(rec)).multiplier
        self.assertEqual(mult(0), 1)
        self.assertEqual(mult(3), 8)
        self.assertEqual(mult(31), INT_MIN)
        self.assertEqual(mult(32), 1)
        self.assertEqual(mult(255), INT_MIN)
        # octave 20: 2^20 * 2938 no longer fits in 32 bits and wraps
        self.assertEqual(m.note_step(1 << 20, 11), m.tdiv(m.wrap32((1 << 20) * 2938), 16))
        self.assertLess(m.wrap32((1 << 20) * 2938), 0)
        # octave 31 with an odd table entry: INT_MIN * odd wraps back to INT_MIN
        self.assertEqual(m.note_step(INT_MIN, 0), INT_MIN // 16)
        self.assertEqual(m.note_step(INT_MIN, 1), 0)

    def test_square_wave_envelope_127_alternates_254_and_1(self):
        s = m.synthesize_pitch(mc.square_wave(), [127] * 64, 1, 1400, 0)
        # step 96: the index reaches 128 at sample 342 (342*96/256 = 128.25) and 256 at 683
        self.assertTrue(np.all(s[0:342] == 254))
        self.assertTrue(np.all(s[342:683] == 1))
        self.assertTrue(np.all(s[683:1024] == 254))
        self.assertTrue(np.all(s[1024:1366] == 1))
        self.assertEqual(set(np.unique(s)), {1, 254})

    def test_minus128_times_minus128_stores_0(self):
        s = m.synthesize_pitch([-128] * 256, [-128] * 64, 1, 64, 5)
        self.assertTrue(np.all(s == 0))
        s = m.synthesize_pitch([127] * 256, [-128] * 64, 1, 64, 5)
        self.assertTrue(np.all(s == 1))

    def test_negative_envelope_inverts(self):
        env = [100] * 32 + [-100] * 32
        s = m.synthesize_pitch([64] * 256, env, 1, 640, 0).astype(int)
        self.assertTrue(np.all(s[:320] == 128 + 50))
        self.assertTrue(np.all(s[320:] == 128 - 50))

    def test_envelope_spread(self):
        env = list(range(64))
        s = m.synthesize_pitch([127] * 256, env, 1, 64, 0).astype(int)
        self.assertEqual(list(s - 128), [m.tdiv(127 * e, 128) for e in env])
        s = m.synthesize_pitch([127] * 256, env, 1, 640, 0).astype(int)
        self.assertEqual(list(s - 128), [m.tdiv(127 * e, 128) for e in env for _ in range(10)])

    def test_vectorised_synthesis_matches_the_loop(self):
        rng = np.random.default_rng(7)
        for octave, length, pitch in ((0, 700, 0), (3, 999, 11), (12, 3001, 23), (19, 2000, 7),
                                      (20, 2000, 11), (25, 1500, 17), (31, 1000, 0),
                                      (31, 1000, 13), (9, 20000, 23)):
            wave = [int(x) for x in rng.integers(-128, 128, 256)]
            env = [int(x) for x in rng.integers(-128, 128, 64)]
            mult = m.wrap32(1 << octave)
            got = m.synthesize_pitch(wave, env, mult, length, pitch, chunk=333)
            self.assertEqual(list(got), literal_pitch(wave, env, mult, length, pitch),
                             (octave, length, pitch))

    def test_phase_wraps_negative_on_long_high_notes(self):
        # octave 9, pitch 23: step 512*2938/8 = 188032, past 2^31 after 11421 samples
        step = m.note_step(512, 23)
        self.assertEqual(step, 188032)
        i = np.arange(20000, dtype=np.int64)
        self.assertTrue(np.any(m.wrap32_np(i * step) < 0))


class Gains(unittest.TestCase):
    def setUp(self):
        self.bank = m.Bank(10)
        self.assertTrue(self.bank.create(5, 10))

    def test_volume_levels(self):
        v = self.bank.slots[5]
        for level, expect in ((300, 0), (0, -2400), (400, -2400), (-1000, -2400), (-5, -2440),
                              ((1 << 29) + 300, 0), ((1 << 29) + 100, -1600), (INT_MAX, -2408),
                              (INT_MIN, -2400), (301, -2400), (-950, -10000), (-951, -10000)):
            self.bank.set_volume(5, level)
            self.assertEqual(v.volume, expect, level)

    def test_new_voice_refused_volume_stays_0(self):
        self.bank.set_volume(5, 400)
        self.assertEqual(self.bank.slots[5].volume, 0)

    def test_pan_values(self):
        v = self.bank.slots[5]
        self.bank.set_pan(5, 96, 0)
        self.assertEqual(v.pan, -1600)
        self.bank.set_pan(5, 420, 0)
        self.assertEqual(v.pan, 1640)
        self.bank.set_pan(5, 2000, 0)      # +17440: refused
        self.assertEqual(v.pan, 1640)

    def test_gains(self):
        self.assertEqual(m.gains(0, 0), (1.0, 1.0))
        left, right = m.gains(-2400, -1600)
        self.assertAlmostEqual(left, 10 ** -1.2)
        self.assertAlmostEqual(right, 10 ** -2.0)
        left, right = m.gains(0, 1640)
        self.assertAlmostEqual(left, 10 ** -0.82)
        self.assertEqual(right, 1.0)

    def test_soft_drum_levels(self):
        self.assertEqual(m.soft_drum_level(300), 210)
        self.assertEqual(m.soft_drum_level(255), 178)
        self.assertEqual(m.soft_drum_level(1), 0)
        self.assertEqual(m.soft_drum_level(0), 0)
        self.assertEqual(m.soft_drum_level(-5), -3)
        self.assertEqual(m.soft_drum_level(400), 280)

    def test_voice_size_limits(self):
        bank = m.Bank(1)
        self.assertFalse(bank.create(1, 3))
        self.assertFalse(bank.create(1, 0))
        self.assertFalse(bank.create(1, 0x10000000))
        self.assertTrue(bank.create(1, 4))
        self.assertTrue(bank.create(2, 0x0FFFFFFF))
        self.assertTrue(bank.create(3, 0x0FFFFFFF))
        self.assertTrue(bank.create(4, 0x0FFFFFFF))
        left = (1 << 30) - bank.total_bytes
        self.assertFalse(bank.create(5, left + 1))
        self.assertTrue(bank.create(5, left))
        self.assertFalse(bank.create(6, 4))


class Sequencing(unittest.TestCase):
    def positions(self, loop_start, loop_end, step_count, n):
        song = m.Song(mc.song(loop_start=loop_start, loop_end=loop_end, step_count=step_count))
        seq = m.Sequencer(song)
        return [seq.advance() for _ in range(n)]

    def test_loop_2_4_of_8(self):
        self.assertEqual(self.positions(2, 4, 8, 8), [0, 1, 2, 3, 2, 3, 2, 3])

    def test_loop_end_intmin_only_step_count_bounds(self):
        self.assertEqual(self.positions(1, INT_MIN, 5, 11), [0, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2])

    def test_loop_end_zero_and_negative_repeat_loop_start(self):
        self.assertEqual(self.positions(3, 0, 8, 4), [3, 3, 3, 3])
        self.assertEqual(self.positions(1, -3, 8, 3), [1, 1, 1])

    def test_loop_end_past_step_count(self):
        self.assertEqual(self.positions(3, 20, 6, 9), [0, 1, 2, 3, 4, 5, 3, 4, 5])

    def test_loop_start_clamped(self):
        self.assertEqual(self.positions(-5, 4, 8, 6), [0, 1, 2, 3, 0, 1])
        self.assertEqual(self.positions(100, 6, 8, 8), [0, 1, 2, 3, 4, 5, 7, 7])
        self.assertEqual(self.positions(INT_MIN, 2, 8, 4), [0, 1, 0, 1])

    def test_tick_frames(self):
        self.assertEqual(list(m.tick_frames(125, 9000)), [0, 2756, 5512, 8268])
        self.assertEqual(list(m.tick_frames(1, 70)), [0, 22, 44, 66])
        self.assertEqual(list(m.tick_frames(0, 10000)), [])
        self.assertEqual(list(m.tick_frames(1000001, 10000)), [])
        self.assertEqual(list(m.tick_frames(1000000, 100000)), [0])

    def test_step_count_below_1_refused(self):
        for sc in (0, -1, INT_MIN):
            with self.assertRaises(m.SongRefused):
                m.Song(mc.song(step_count=sc))
        with self.assertRaises(m.SongRefused):
            m.Song(b"RKV")

    def test_short_file_reads_zeros(self):
        data = mc.song(step_count=2, tracks=[[0x11223344, 0x55667788], [0x01020304]])
        song = m.Song(data[:m.HEADER_SIZE + 8 + 3])
        self.assertEqual(song.word(0, 0), 0x11223344)
        self.assertEqual(song.word(0, 1), 0x55667788)
        self.assertEqual(song.word(1, 0), 0x00020304)
        self.assertEqual(song.word(1, 1), 0)
        self.assertEqual(song.word(3, 1), 0)
        # a file ending inside a field keeps the bytes of it that are present
        song = m.Song(data[:30])
        self.assertEqual((song.step_count, song.instruments[0].note_length), (2, 64))
        song = m.Song(data[:28])
        self.assertEqual((song.step_count, song.instruments[0].note_length), (2, 0))


class Rendering(unittest.TestCase):
    def setUp(self):
        self.drums = tiny_drums()

    def test_loud_drum_at_frame_0(self):
        s = mc.song(step_time=100, step_count=2, drum_volume=300, tracks=[[], [], [], [1, 0]])
        out = m.render(s, self.drums, 200)
        bass = drum_samples(self.drums, "BASS1")
        expect = to_i16((bass.astype(float) - 128) / 128)
        self.assertTrue(np.array_equal(out[:len(bass), 0], expect))
        self.assertTrue(np.array_equal(out[:len(bass), 1], expect))
        self.assertTrue(np.all(out[len(bass):] == 0))

    def test_soft_drum_is_seventy_percent_level(self):
        s = mc.song(step_time=100, step_count=1, drum_volume=300, tracks=[[], [], [], [2]])
        out = m.render(s, self.drums, 100)
        bass = drum_samples(self.drums, "BASS1")
        expect = to_i16((bass.astype(float) - 128) / 128 * 10 ** (-720 / 2000))
        self.assertTrue(np.array_equal(out[:len(bass), 0], expect))

    def test_keys_6_and_7_silent(self):
        s = mc.song(step_time=100, step_count=1, drum_volume=300,
                    tracks=[[], [], [], [mc.word((6, 7))]])
        self.assertTrue(np.all(m.render(s, self.drums, 500) == 0))

    def test_missing_hat2_silences_its_keys_only(self):
        drums = dict(self.drums, HAT2=None)
        s = mc.song(step_time=100, step_count=1, drum_volume=300,
                    tracks=[[], [], [], [mc.word((10, 11, 14, 23))]])
        self.assertTrue(np.all(m.render(s, drums, 500) == 0))
        s = mc.song(step_time=100, step_count=1, drum_volume=300,
                    tracks=[[], [], [], [mc.word((4,))]])
        self.assertTrue(np.any(m.render(s, drums, 500) != 0))

    def test_restart_cuts_instead_of_layering(self):
        hat = drum_samples(self.drums, "HAT1")
        # step time 1 ms: ticks on frames 0, 22, 44, ...; HAT1 is longer than 22 samples
        s = mc.song(step_time=1, step_count=1, drum_volume=300, tracks=[[], [], [], [1 << 8]])
        out = m.render(s, self.drums, 66)
        expect = to_i16((hat[:22].astype(float) - 128) / 128)
        for start in (0, 22, 44):
            self.assertTrue(np.array_equal(out[start:start + 22, 0], expect))

    def test_pan_code_1_then_notes(self):
        inst = mc.instrument(0, 1000, 300, mc.square_wave(), mc.const_env(127))
        s = mc.song(step_time=100, step_count=1, instruments=[inst],
                    tracks=[[mc.word((0,), 1)]])
        out = m.render(s, self.drums, 1000)
        self.assertEqual(out[0, 0], round(126 / 128 * 32767))
        self.assertEqual(out[0, 1], round(126 / 128 * 10 ** (-1600 / 2000) * 32767))

    def test_pan_codes_8_and_up_ignored_notes_play(self):
        inst = mc.instrument(0, 1000, 300, mc.square_wave(), mc.const_env(127))
        s = mc.song(step_time=100, step_count=1, instruments=[inst],
                    tracks=[[mc.word((0,), 8)]])
        out = m.render(s, self.drums, 10)
        self.assertEqual(list(out[0]), [32255, 32255])

    def test_no_ticks_for_step_time_0(self):
        s = mc.song(step_time=0, step_count=1, drum_volume=300, tracks=[[], [], [], [1]])
        self.assertTrue(np.all(m.render(s, self.drums, 500) == 0))

    def test_partly_created_instrument_is_silent_later_ones_play(self):
        insts = [mc.instrument(3, 50000000, 300), mc.instrument(3, 100, 300)]
        s = mc.song(step_time=100, step_count=1, instruments=insts,
                    tracks=[[mc.word((0,))], []])
        self.assertTrue(np.all(m.render(s, self.drums, 300) == 0))
        s = mc.song(step_time=100, step_count=1, instruments=insts,
                    tracks=[[], [mc.word((0,))]])
        self.assertTrue(np.any(m.render(s, self.drums, 300) != 0))

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
            fast = m.render(s, self.drums, 900)
            slow = literal_render(s, self.drums, 900)
            diff = np.abs(fast.astype(int) - slow.astype(int))
            self.assertLessEqual(int(diff.max()), 1)
            self.assertTrue(np.any(fast != 0))


class CommandLine(unittest.TestCase):
    def test_cli_writes_wav_and_refuses(self):
        with tempfile.TemporaryDirectory() as d:
            for name, data in tiny_drums().items():
                with open(os.path.join(d, name + ".wav"), "wb") as f:
                    f.write(data)
            song = os.path.join(d, "a.rkv")
            with open(song, "wb") as f:
                f.write(mc.song(step_time=100, step_count=2, drum_volume=300,
                                tracks=[[], [], [], [1, 4]]))
            out = os.path.join(d, "a.wav")
            r = subprocess.run([sys.executable, os.path.join(HERE, "rkv_model.py"), song,
                                "--seconds", "0.5", "-o", out, "--resources", d],
                               capture_output=True, text=True)
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(out, "rb") as f:
                wav = f.read()
            self.assertEqual(wav[:4], b"RIFF")
            self.assertEqual(struct.unpack_from("<HHIIHH", wav, 20), (1, 2, 22050, 88200, 4, 16))
            self.assertEqual(struct.unpack_from("<I", wav, 40)[0], 11025 * 4)
            bad = os.path.join(d, "bad.rkv")
            with open(bad, "wb") as f:
                f.write(b"RKV")
            r = subprocess.run([sys.executable, os.path.join(HERE, "rkv_model.py"), bad,
                                "--seconds", "0.5", "-o", os.path.join(d, "b.wav"),
                                "--resources", d], capture_output=True, text=True)
            self.assertEqual(r.returncode, 2)
            self.assertIn("step count", r.stderr)
            self.assertFalse(os.path.exists(os.path.join(d, "b.wav")))


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/python3
"""Compiles a song written as text (.rkvt, see demo/FORMAT.md) into a .rkv song file.

    democ.py SONG.rkvt -o SONG.rkv

Malformed text is refused with one line per problem, `FILE:LINE: reason`, and exit status 1.
"""

import math
import re
import struct
import sys

HEADER_SIZE = 1048
INSTRUMENT_SIZE = 340
NOTE_NAMES = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}
DRUM_KEYS = {"K": 0, "B": 2, "S": 4, "O": 8, "H": 10, "C": 12}  # lower case: the soft key (+1)
INT32 = (-(1 << 31), (1 << 31) - 1)
UINT32 = (0, (1 << 32) - 1)


class SongError(Exception):
    def __init__(self, line, message):
        super().__init__(message)
        self.line = line
        self.message = message


class Instrument:
    def __init__(self, index, name, line):
        self.index = index
        self.name = name
        self.line = line
        self.octave = 0
        self.length = 4410
        self.volume = 300
        self.wave = None
        self.envelope = None


class Pattern:
    def __init__(self, name, columns, line):
        self.name = name
        self.columns = columns  # track numbers
        self.line = line
        self.rows = []  # per row: list of (notes bitmask, pan code or None) per column


def parse_int(text, line, what, bounds):
    try:
        value = int(text, 0)
    except ValueError:
        raise SongError(line, f"{what} must be a whole number, got '{text}'")
    if not bounds[0] <= value <= bounds[1]:
        raise SongError(line, f"{what} {value} is outside {bounds[0]}..{bounds[1]}")
    return value


def parse_float(text, line, what):
    try:
        value = float(text)
    except ValueError:
        raise SongError(line, f"{what} must be a number, got '{text}'")
    if not math.isfinite(value):
        raise SongError(line, f"{what} must be finite")
    return value


def parse_length(text, line):
    """Note length in samples, or in milliseconds with an `ms` suffix."""
    if text.endswith("ms"):
        ms = parse_float(text[:-2], line, "note length")
        if ms < 0:
            raise SongError(line, "note length must not be negative")
        return parse_int(str(round(ms * 22050 / 1000)), line, "note length", UINT32)
    return parse_int(text, line, "note length", UINT32)


def shape(kind, args, line):
    """One cycle of a named waveform, 256 floats (normalised later)."""
    n = 256
    xs = [2 * math.pi * i / n for i in range(n)]
    if kind == "sine":
        want(args, 0, line, kind)
        return [math.sin(x) for x in xs]
    if kind == "triangle":
        want(args, 0, line, kind)
        return [1 - 4 * abs(((i / n + 0.25) % 1) - 0.5) for i in range(n)]
    if kind == "saw":
        want(args, 0, line, kind)
        return [2 * (((i / n) + 0.5) % 1) - 1 for i in range(n)]
    if kind == "square":
        duty = 0.5
        if args:
            want(args, 1, line, kind)
            duty = parse_float(args[0], line, "duty")
            if not 0 < duty < 1:
                raise SongError(line, f"duty {duty} must lie between 0 and 1")
        return [1.0 if i < duty * n else -1.0 for i in range(n)]
    if kind == "harmonics":
        if not args:
            raise SongError(line, "harmonics needs at least one amplitude")
        amps = [parse_float(a, line, "harmonic amplitude") for a in args]
        return [sum(a * math.sin((h + 1) * x) for h, a in enumerate(amps)) for x in xs]
    if kind == "fm":
        want(args, 2, line, kind)
        ratio = parse_int(args[0], line, "fm ratio", (1, 32))
        depth = parse_float(args[1], line, "fm depth")
        return [math.sin(x + depth * math.sin(ratio * x)) for x in xs]
    raise SongError(line, f"unknown wave '{kind}' (sine, triangle, saw, square, harmonics, fm, list)")


def want(args, count, line, kind):
    if len(args) != count:
        raise SongError(line, f"wave {kind} takes {count} value(s), got {len(args)}")


def normalise(samples, gain, line):
    peak = max(abs(s) for s in samples)
    if peak == 0:
        raise SongError(line, "the wave is silent")
    return [max(-128, min(127, round(s / peak * gain * 127))) for s in samples]


def envelope_from(points, line):
    """Linear segments through `index:value` breakpoints over the 64 envelope entries."""
    if not points:
        raise SongError(line, "envelope needs at least one index:value breakpoint")
    parsed = []
    for p in points:
        m = re.fullmatch(r"(-?\w+):(-?\w+)", p)
        if not m:
            raise SongError(line, f"envelope breakpoint '{p}' is not index:value")
        i = parse_int(m.group(1), line, "envelope index", (0, 63))
        v = parse_int(m.group(2), line, "envelope value", (-128, 127))
        if parsed and i <= parsed[-1][0]:
            raise SongError(line, f"envelope index {i} does not follow {parsed[-1][0]}")
        parsed.append((i, v))
    out = []
    for i in range(64):
        if i <= parsed[0][0]:
            out.append(parsed[0][1])
        elif i >= parsed[-1][0]:
            out.append(parsed[-1][1])
        else:
            for (i0, v0), (i1, v1) in zip(parsed, parsed[1:]):
                if i0 <= i <= i1:
                    out.append(round(v0 + (v1 - v0) * (i - i0) / (i1 - i0)))
                    break
    return out


def parse_note(item, instrument, line):
    """A note name such as C4, F#3 or Bb5 (or #N for pitch N) -> pitch 0..23 of the instrument."""
    if item.startswith("#"):
        return parse_int(item[1:], line, "pitch", (0, 23))
    m = re.fullmatch(r"([A-G])([#b]?)(-?\d+)", item)
    if not m:
        raise SongError(line, f"'{item}' is not a note (like C4, F#3, Bb5)")
    semitone = NOTE_NAMES[m.group(1)] + {"": 0, "#": 1, "b": -1}[m.group(2)]
    midi_octave = int(m.group(3))
    # Pitch 0 of octave 0 is C1; the instrument spans two octaves from C(octave + 1).
    pitch = (midi_octave - (instrument.octave + 1)) * 12 + semitone
    if not 0 <= pitch <= 23:
        low = f"C{instrument.octave + 1}"
        high = f"B{instrument.octave + 2}"
        raise SongError(line, f"{item} is outside {instrument.name}'s range {low}..{high}")
    return pitch


def parse_drum(item, line):
    if item.startswith("#"):
        return parse_int(item[1:], line, "drum key", (0, 23))
    if len(item) == 1 and item.upper() in DRUM_KEYS:
        return DRUM_KEYS[item.upper()] + (1 if item.islower() else 0)
    raise SongError(line, f"'{item}' is not a drum (K B S O H C, lower case = soft, or #KEY)")


def parse_cell(cell, track, instruments, line):
    notes = 0
    pan = None
    if cell in (".", "-"):
        return notes, pan
    for item in cell.split("+"):
        if not item:
            raise SongError(line, f"empty item in '{cell}'")
        if item.startswith("@"):
            if pan is not None:
                raise SongError(line, f"two pan codes in '{cell}'")
            pan = parse_int(item[1:], line, "pan code", (0, 255))
            continue
        bit = parse_drum(item, line) if track == 3 else parse_note(item, instruments[track], line)
        if notes & (1 << bit):
            raise SongError(line, f"'{item}' appears twice in '{cell}'")
        notes |= 1 << bit
    return notes, pan


class Compiler:
    def __init__(self):
        self.step_time = None
        self.drum_volume = 300
        self.loop = None
        self.step_override = None
        self.instruments = {}
        self.patterns = {}
        self.sections = None  # list of (line, names, repeat, loop_start, loop_end)

    def compile(self, text):
        lines = text.split("\n")
        i = 0
        while i < len(lines):
            n = i + 1
            words = tokens(lines[i])
            i += 1
            if not words:
                continue
            key, args = words[0], words[1:]
            if key == "title":
                continue
            if key == "step":
                self.step_time = parse_int(one(args, n, key), n, "step time", UINT32)
            elif key == "drums":
                self.drum_volume = parse_int(one(args, n, key), n, "drum volume", INT32)
            elif key == "loop":
                if len(args) != 2:
                    raise SongError(n, "loop takes a start and an end step")
                self.loop = (parse_int(args[0], n, "loop start", INT32),
                             parse_int(args[1], n, "loop end", INT32))
            elif key == "steps":
                self.step_override = parse_int(one(args, n, key), n, "step count", INT32)
            elif key == "instrument":
                i = self.instrument(lines, i, n, args)
            elif key == "pattern":
                i = self.pattern(lines, i, n, args)
            elif key == "song":
                if args:
                    raise SongError(n, "song takes no values")
                if self.sections is not None:
                    raise SongError(n, "a second song section")
                i = self.song(lines, i, n)
            else:
                raise SongError(n, f"unknown keyword '{key}'")
        last = max((k + 1 for k, text in enumerate(lines) if tokens(text)), default=1)
        if self.step_time is None:
            raise SongError(last, "no step time (step MS)")
        if self.sections is None:
            raise SongError(last, "no song section")
        return self.build()

    def instrument(self, lines, i, n, args):
        if len(args) != 2:
            raise SongError(n, "instrument takes a number (0, 1 or 2) and a name")
        index = parse_int(args[0], n, "instrument", (0, 2))
        if index in self.instruments:
            raise SongError(n, f"instrument {index} is defined twice")
        name = args[1]
        if name == "drums" or any(x.name == name for x in self.instruments.values()):
            raise SongError(n, f"instrument name '{name}' is taken")
        inst = Instrument(index, name, n)
        gain = 0.9
        wave = None
        while True:
            if i >= len(lines):
                raise SongError(n, f"instrument {name} has no 'end'")
            m = i + 1
            words = tokens(lines[i])
            i += 1
            if not words:
                continue
            key, vals = words[0], words[1:]
            if key == "end":
                break
            if key == "octave":
                inst.octave = parse_int(one(vals, m, key), m, "octave", (0, 255))
            elif key == "length":
                inst.length = parse_length(one(vals, m, key), m)
            elif key == "volume":
                inst.volume = parse_int(one(vals, m, key), m, "volume", INT32)
            elif key == "gain":
                gain = parse_float(one(vals, m, key), m, "gain")
                if not 0 < gain <= 1:
                    raise SongError(m, f"gain {gain} must lie in (0, 1]")
            elif key == "wave":
                if not vals:
                    raise SongError(m, "wave needs a kind")
                if vals[0] == "list":
                    values, i = number_list(lines, i, vals[1:], m, 256, (-128, 127), "wave")
                    wave = ("list", values, m)
                else:
                    wave = ("shape", shape(vals[0], vals[1:], m), m)
            elif key == "envelope":
                if vals and vals[0] == "list":
                    inst.envelope, i = number_list(lines, i, vals[1:], m, 64, (-128, 127),
                                                   "envelope")
                else:
                    inst.envelope = envelope_from(vals, m)
            else:
                raise SongError(m, f"unknown instrument setting '{key}'")
        if wave is None:
            raise SongError(n, f"instrument {name} has no wave")
        if inst.envelope is None:
            raise SongError(n, f"instrument {name} has no envelope")
        inst.wave = wave[1] if wave[0] == "list" else normalise(wave[1], gain, wave[2])
        self.instruments[index] = inst
        return i

    def column(self, name, n):
        if name == "drums":
            return 3
        for inst in self.instruments.values():
            if inst.name == name:
                return inst.index
        raise SongError(n, f"no instrument or drums named '{name}' (define instruments first)")

    def pattern(self, lines, i, n, args):
        if len(args) < 2:
            raise SongError(n, "pattern takes a name and the columns it fills")
        name = args[0]
        if name in self.patterns:
            raise SongError(n, f"pattern '{name}' is defined twice")
        columns = [self.column(c, n) for c in args[1:]]
        if len(set(columns)) != len(columns):
            raise SongError(n, "a column is listed twice")
        pat = Pattern(name, columns, n)
        while True:
            if i >= len(lines):
                raise SongError(n, f"pattern {name} has no 'end'")
            m = i + 1
            cells = tokens(lines[i])
            i += 1
            if not cells:
                continue
            if cells == ["end"]:
                break
            if cells[0] == "rest":
                count = parse_int(one(cells[1:], m, "rest"), m, "rest", (1, 1 << 16))
                pat.rows.extend([[(0, None)] * len(columns)] * count)
                continue
            if len(columns) == 1:
                # One column: the line is a run of steps, `|` marks bars for the reader.
                pat.rows.extend([parse_cell(c, columns[0], self.instruments, m)]
                                for c in cells if c != "|")
                continue
            if len(cells) != len(columns):
                raise SongError(m, f"expected {len(columns)} cells, found {len(cells)}")
            pat.rows.append([parse_cell(c, t, self.instruments, m) for c, t in zip(cells, columns)])
        if not pat.rows:
            raise SongError(n, f"pattern {name} has no rows")
        self.patterns[name] = pat
        return i

    def song(self, lines, i, n):
        self.sections = []
        while True:
            if i >= len(lines):
                raise SongError(n, "song has no 'end'")
            m = i + 1
            words = tokens(lines[i])
            i += 1
            if not words:
                continue
            if words == ["end"]:
                break
            loop_start = words[0] == "|:"
            if loop_start:
                words = words[1:]
            loop_end = bool(words) and words[-1] == ":|"
            if loop_end:
                words = words[:-1]
            repeat = 1
            if len(words) >= 2 and re.fullmatch(r"x\d+", words[-1]):
                repeat = parse_int(words[-1][1:], m, "repeat", (1, 1 << 16))
                words = words[:-1]
            names = [w for k, w in enumerate(words) if k % 2 == 0]
            if not names or any(w != "+" for k, w in enumerate(words) if k % 2 == 1) or \
                    len(words) % 2 == 0:
                raise SongError(m, "a song line is [|:] PATTERN [+ PATTERN ...] [xN] [:|]")
            for name in names:
                if name not in self.patterns:
                    raise SongError(m, f"no pattern named '{name}'")
            self.sections.append((m, names, repeat, loop_start, loop_end))
        if not self.sections:
            raise SongError(n, "the song plays no patterns")
        return i

    def build(self):
        words = [[] for _ in range(4)]
        loop_start = loop_end = None
        for line, names, repeat, starts, ends in self.sections:
            pats = [self.patterns[x] for x in names]
            length = max(len(p.rows) for p in pats)
            owner = {}
            for p in pats:
                for t in p.columns:
                    if t in owner:
                        raise SongError(line, f"'{owner[t]}' and '{p.name}' both fill the same track")
                    owner[t] = p.name
            if starts:
                if loop_start is not None:
                    raise SongError(line, "a second loop start '|:'")
                loop_start = len(words[0])
            for _ in range(repeat):
                block = [[0] * length for _ in range(4)]
                for p in pats:
                    # A shorter pattern repeats to fill the section.
                    for r in range(length):
                        for (notes, pan), t in zip(p.rows[r % len(p.rows)], p.columns):
                            block[t][r] = notes | ((pan or 0) << 24)
                for t in range(4):
                    words[t].extend(block[t])
            if ends:
                if loop_end is not None:
                    raise SongError(line, "a second loop end ':|'")
                loop_end = len(words[0])
        count = len(words[0])
        if loop_start is None:
            loop_start = 0
        if loop_end is None:
            loop_end = count
        if self.loop is not None:
            loop_start, loop_end = self.loop
        if self.step_override is not None:
            count = self.step_override
        missing = [k for k in range(3) if k not in self.instruments]
        if missing:
            raise SongError(1, f"instrument {missing[0]} is not defined")
        return self.encode(count, loop_start, loop_end, words)

    def encode(self, count, loop_start, loop_end, words):
        header = bytearray(HEADER_SIZE)
        header[0:3] = b"RKV"
        struct.pack_into("<Iiii", header, 8, self.step_time, loop_start, loop_end, count)
        for k in range(3):
            inst = self.instruments[k]
            base = 24 + k * INSTRUMENT_SIZE
            header[base] = inst.octave
            struct.pack_into("<Ii", header, base + 4, inst.length, inst.volume)
            struct.pack_into("<256b", header, base + 20, *inst.wave)
            struct.pack_into("<64b", header, base + 276, *inst.envelope)
        struct.pack_into("<i", header, 1044, self.drum_volume)
        body = bytearray()
        steps = max(count, 0)
        for t in range(4):
            track = (words[t] + [0] * steps)[:steps]
            body += struct.pack(f"<{steps}I", *track)
        return bytes(header + body)


def tokens(line):
    return line.split(";", 1)[0].split()


def one(args, line, key):
    if len(args) != 1:
        raise SongError(line, f"{key} takes one value")
    return args[0]


def number_list(lines, i, first, line, count, bounds, what):
    """`count` whole numbers, starting after the keyword and going on over the next lines."""
    values = [parse_int(v, line, what + " value", bounds) for v in first]
    while len(values) < count:
        if i >= len(lines):
            raise SongError(line, f"{what} list has {len(values)} values, needs {count}")
        m = i + 1
        more = tokens(lines[i])
        if more and not re.fullmatch(r"[-+]?\d+", more[0]):
            break  # the list ended early; reported below
        i += 1
        values += [parse_int(v, m, what + " value", bounds) for v in more]
    if len(values) != count:
        raise SongError(line, f"{what} list has {len(values)} values, needs {count}")
    return values, i


def main(argv):
    if len(argv) != 4 or argv[2] != "-o":
        print("usage: democ.py SONG.rkvt -o SONG.rkv", file=sys.stderr)
        return 2
    source, output = argv[1], argv[3]
    try:
        with open(source, encoding="utf-8") as f:
            text = f.read()
    except (OSError, UnicodeDecodeError) as e:
        print(f"{source}: cannot read: {e}", file=sys.stderr)
        return 1
    try:
        data = Compiler().compile(text)
    except SongError as e:
        print(f"{source}:{e.line}: {e.message}", file=sys.stderr)
        return 1
    try:
        with open(output, "wb") as f:
            f.write(data)
    except OSError as e:
        print(f"{output}: cannot write: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

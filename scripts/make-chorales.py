#!/usr/bin/python3
"""Writes tests/data/chorales/*.mid: four-part settings for measuring intonation.

Each piece is a soprano line with a chord under every note, written out here; the three
lower voices are placed by the rules of four-part writing below (complete triads, no voice
crossing, smallest motion). Soprano, alto, tenor and bass play on channels 1-4 (organ),
so that each voice is a channel. Inner voices strike a repeated tone again, as a choir
sings a new syllable, except where a piece says it holds them.

The pieces are our own work and carry the project's licence; Old Hundredth's melody
(Genevan Psalter, 1551) is in the public domain.
"""
import itertools
import pathlib
import mido

TPQ = 480
ORGAN = 19
VELOCITY = 80
OUT = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data" / "chorales"

NAMES = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}
QUALITIES = {"": [0, 4, 7], "m": [0, 3, 7], "7": [0, 4, 7, 10], "dim": [0, 3, 6],
             "m7": [0, 3, 7, 10]}


def chord(symbol):
    """'F#m/A' -> (pitch classes, bass pitch class, root first)."""
    body, _, bass = symbol.partition("/")
    root = NAMES[body[0]]
    rest = body[1:]
    if rest[:1] in ("#", "b"):
        root += 1 if rest[0] == "#" else -1
        rest = rest[1:]
    pcs = [(root + i) % 12 for i in QUALITIES[rest]]
    if bass:
        b = NAMES[bass[0]] + (1 if bass[1:] == "#" else -1 if bass[1:] == "b" else 0)
        return pcs, b % 12
    return pcs, pcs[0]


def note(name):
    """'F#4' -> MIDI key (C4 = 60)."""
    pc = NAMES[name[0]]
    acc = name[1:-1]
    pc += acc.count("#") - acc.count("b")
    return 12 * (int(name[-1]) + 1) + pc


def voice(soprano, chords, previous=None):
    """Alto, tenor and bass under each soprano note: every chord tone present where there is
    room, the third not doubled, the smallest total motion."""
    out = []
    prev = previous
    for s, symbol in zip(soprano, chords):
        pcs, bass_pc = chord(symbol)
        best = None
        basses = [k for k in range(38, 57) if k % 12 == bass_pc]
        altos = [k for k in range(55, 75) if k % 12 in pcs and k < s]
        tenors = [k for k in range(48, 68) if k % 12 in pcs]
        for a, t, b in itertools.product(altos, tenors, basses):
            if not (b < t <= a < s) or s - a > 12 or a - t > 12:
                continue
            present = {s % 12, a % 12, t % 12, b % 12}
            cost = 10 * len([pc for pc in pcs[:3] if pc not in present])
            third = pcs[1]
            cost += 6 * max(0, [s % 12, a % 12, t % 12, b % 12].count(third) - 1)
            if prev:
                cost += abs(a - prev[0]) + abs(t - prev[1]) + 0.5 * abs(b - prev[2])
            if best is None or cost < best[0]:
                best = (cost, (a, t, b))
        prev = best[1]
        out.append(prev)
    return out


def write(name, soprano, chords, beats, bpm=72, hold=False):
    """Four tracks of one voice each; `hold` ties an inner or bass tone that stays."""
    keys = [note(n) for n in soprano]
    lower = voice(keys, chords)
    parts = [[(k, d) for k, d in zip(keys, beats)]]
    for v in range(3):
        parts.append([(lower[i][v], beats[i]) for i in range(len(keys))])
    mid = mido.MidiFile(type=1, ticks_per_beat=TPQ)
    conductor = mido.MidiTrack()
    conductor.append(mido.MetaMessage("track_name", name=name, time=0))
    conductor.append(mido.MetaMessage("set_tempo", tempo=mido.bpm2tempo(bpm), time=0))
    mid.tracks.append(conductor)
    for ch, part in enumerate(parts):
        if hold and ch > 0:
            merged = []
            for k, d in part:
                if merged and merged[-1][0] == k:
                    merged[-1] = (k, merged[-1][1] + d)
                else:
                    merged.append((k, d))
            part = merged
        track = mido.MidiTrack()
        track.append(mido.Message("program_change", channel=ch, program=ORGAN, time=0))
        for k, d in part:
            ticks = round(d * TPQ)
            track.append(mido.Message("note_on", channel=ch, note=k, velocity=VELOCITY, time=0))
            track.append(mido.Message("note_off", channel=ch, note=k, velocity=0, time=ticks))
        mid.tracks.append(track)
    OUT.mkdir(parents=True, exist_ok=True)
    mid.save(OUT / f"{name}.mid")


def write_lines(name, lines, bpm):
    """Lines of (soprano notes, chords, beats), each a space-separated string."""
    sop, chords, beats = [], [], []
    for notes, symbols, lengths in lines:
        sop += notes.split()
        chords += symbols.split()
        beats += [float(x) for x in lengths.split()]
    write(name, sop, chords, beats, bpm=bpm)


def old_hundredth():
    lines = [
        ("G4 G4 F#4 E4 D4 G4 A4 B4", "G G D/F# Em G/D Em D G", "2 1 1 1 1 1 1 3"),
        ("B4 B4 B4 A4 G4 C5 B4 A4", "G Em G D Em C G/D D", "1 1 1 1 1 1 1 3"),
        ("G4 A4 B4 A4 G4 E4 F#4 G4", "Em D G/B D Em C D G", "1 1 1 1 1 1 1 3"),
        ("D5 B4 G4 A4 C5 B4 A4 G4", "G Em Em D Am G/D D G", "1 1 1 1 1 1 1 4"),
    ]
    write_lines("old_hundredth", lines, bpm=66)


def chorale_in_d():
    """A chorale in D that turns to A major and back, after the manner of the Leipzig
    settings: passing sevenths only on the dominant before a cadence."""
    lines = [
        ("F#4 F#4 E4 D4 E4 F#4 E4", "D D/F# A Bm A D/F# A", "1 1 1 1 1 1 2"),
        ("F#4 G4 A4 B4 A4 G4 F#4", "D G D G D Em D", "1 1 1 1 1 1 2"),
        ("A4 B4 C#5 D5 C#5 B4 A4", "F#m E A Bm A E A", "1 1 1 1 1 1 2"),
        ("A4 B4 A4 G4 F#4 E4 D4", "D G/B D/A Em D A7 D", "1 1 1 1 1 1 3"),
    ]
    write_lines("chorale_in_d", lines, bpm=60)


def minor_chorale():
    lines = [
        ("A4 C5 B4 A4 G#4 A4", "Am Am/C E Am E Am", "1 1 1 1 1 2"),
        ("C5 D5 E5 D5 C5 B4", "C Dm Am Dm Am E", "1 1 1 1 1 2"),
        ("C5 B4 A4 G4 F4 E4", "Am E/G# Am C F E", "1 1 1 1 1 2"),
        ("A4 B4 C5 B4 A4 A4", "F Dm Am E E Am", "1 1 1 1 1 3"),
    ]
    write_lines("minor_chorale", lines, bpm=60)


def comma_pump(name, hold):
    """I-vi-ii-V-I eight times: pure chords with their common tones kept would fall by a
    syntonic comma (21.5 cents) each time round."""
    sop = ("E5 E5 F5 D5 " * 8 + "E5").split()
    chords = ("C Am Dm G " * 8 + "C").split()
    beats = [1.0] * (len(sop) - 1) + [3.0]
    write(name, sop, chords, beats, bpm=60, hold=hold)


def circle_of_fifths():
    """I-IV-V-I in every key round the circle of fifths and home again."""
    names = ["C", "G", "D", "A", "E", "B", "F#", "Db", "Ab", "Eb", "Bb", "F", "C"]
    sop, chords, beats = [], [], []
    for i, key in enumerate(names):
        root = NAMES[key[0]] + (1 if key[1:] == "#" else -1 if key[1:] == "b" else 0)
        spell = {0: "C", 1: "Db", 2: "D", 3: "Eb", 4: "E", 5: "F", 6: "F#", 7: "G", 8: "Ab",
                 9: "A", 10: "Bb", 11: "B"}
        tonic, sub, dom = spell[root % 12], spell[(root + 5) % 12], spell[(root + 7) % 12]
        third = (root + 4) % 12
        top = [third, (root + 9) % 12, (root + 11) % 12 if i < len(names) - 1 else root % 12,
               third]
        for pc in top:
            sop.append(f"{spell[pc]}{5 if pc < 7 else 4}")
        chords += [tonic, sub, dom, tonic]
        beats += [1.0, 1.0, 1.0, 1.0]
    beats[-1] = 3.0
    write("circle_of_fifths", sop, chords, beats, bpm=80)


if __name__ == "__main__":
    old_hundredth()
    chorale_in_d()
    minor_chorale()
    comma_pump("comma_pump", hold=False)
    comma_pump("comma_pump_held", hold=True)
    circle_of_fifths()

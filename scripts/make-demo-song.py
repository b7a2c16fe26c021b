#!/usr/bin/python3
"""Writes examples/demo.mid: about 30 seconds of sustained triads, a melody and drums.

Sustained major and minor triads on a string pad make the difference between just
intonation and equal temperament easy to hear: pure thirds do not beat.
"""
import pathlib
import mido

TPQ = 480
BAR = 4 * TPQ
TEMPO = mido.bpm2tempo(116)

# I - vi - IV - V - I - iii - ii - V, two bars each at 116 bpm: about 34 s of music.
CHORDS = [
    (60, [0, 4, 7]),   # C major
    (57, [0, 3, 7]),   # A minor
    (53, [0, 4, 7]),   # F major
    (55, [0, 4, 7]),   # G major
    (60, [0, 4, 7]),   # C major
    (52, [0, 3, 7]),   # E minor
    (50, [0, 3, 7]),   # D minor
    (55, [0, 4, 7]),   # G major
]

MELODY = [  # (note, beats) over two bars per chord
    [(76, 2), (74, 1), (72, 1), (74, 4)],
    [(72, 2), (71, 1), (69, 1), (72, 4)],
    [(69, 2), (72, 2), (77, 4)],
    [(74, 3), (71, 1), (74, 4)],
    [(76, 1), (79, 1), (76, 1), (72, 1), (76, 4)],
    [(71, 2), (67, 2), (71, 4)],
    [(74, 2), (69, 2), (77, 4)],
    [(74, 2), (71, 2), (67, 4)],
]


def absolute_to_track(events, name):
    track = mido.MidiTrack()
    track.append(mido.MetaMessage("track_name", name=name, time=0))
    now = 0
    for tick, msg in sorted(events, key=lambda e: (e[0], e[1].type != "note_off")):
        track.append(msg.copy(time=tick - now))
        now = tick
    track.append(mido.MetaMessage("end_of_track", time=TPQ))
    return track


def main():
    song = mido.MidiFile(type=1, ticks_per_beat=TPQ)
    conductor = mido.MidiTrack()
    conductor.append(mido.MetaMessage("set_tempo", tempo=TEMPO, time=0))
    conductor.append(mido.MetaMessage("time_signature", numerator=4, denominator=4, time=0))
    conductor.append(mido.MetaMessage("end_of_track", time=len(CHORDS) * 2 * BAR + TPQ))
    song.tracks.append(conductor)

    pad = [(0, mido.Message("program_change", channel=0, program=48))]  # string ensemble
    pad.append((0, mido.Message("control_change", channel=0, control=91, value=50)))
    for i, (root, shape) in enumerate(CHORDS):
        start, end = i * 2 * BAR, (i + 1) * 2 * BAR - 10
        for step in shape:
            pad.append((start, mido.Message("note_on", channel=0, note=root + step, velocity=72)))
            pad.append((end, mido.Message("note_off", channel=0, note=root + step, velocity=64)))
        pad.append((start, mido.Message("note_on", channel=0, note=root - 12, velocity=64)))
        pad.append((end, mido.Message("note_off", channel=0, note=root - 12, velocity=64)))
    song.tracks.append(absolute_to_track(pad, "Strings"))

    lead = [(0, mido.Message("program_change", channel=1, program=73))]  # flute
    lead.append((0, mido.Message("control_change", channel=1, control=91, value=40)))
    tick = 0
    for phrase in MELODY:
        for note, beats in phrase:
            length = beats * TPQ
            lead.append((tick, mido.Message("note_on", channel=1, note=note, velocity=90)))
            lead.append((tick + length - 30, mido.Message("note_off", channel=1, note=note)))
            tick += length
    song.tracks.append(absolute_to_track(lead, "Melody"))

    drums = []
    for bar in range(len(CHORDS) * 2):
        for beat in range(4):
            t = bar * BAR + beat * TPQ
            kit = 36 if beat in (0, 2) else 38
            drums.append((t, mido.Message("note_on", channel=9, note=kit, velocity=80)))
            drums.append((t + 120, mido.Message("note_off", channel=9, note=kit)))
            for half in (0, TPQ // 2):
                drums.append((t + half, mido.Message("note_on", channel=9, note=42, velocity=50)))
                drums.append((t + half + 60, mido.Message("note_off", channel=9, note=42)))
    song.tracks.append(absolute_to_track(drums, "Drums"))

    out = pathlib.Path(__file__).resolve().parent.parent / "examples" / "demo.mid"
    song.save(out)
    print(f"{out}: {song.length:.1f} s")


if __name__ == "__main__":
    main()

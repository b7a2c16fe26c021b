#!/usr/bin/python3
"""Writes the songs that test bounded memory and work into a folder:
  held-60.mid    one organ note held for 60 minutes (48 bytes)
  loop-60.mid    a planetblupi song played again and again until it lasts 60 minutes,
                 slowed so that its one track stays within the reader's event limit
  damaged-*.mid  real songs damaged in a seeded way: delta times made huge, note-offs
                 lost, bytes of the track data changed, track lengths that lie
Usage: make-stress-songs.py OUT_DIR [--seed N] [--count N]
"""
import argparse
import math
import os
import random
import struct
import sys

import mido

from smf_bytes import smf, vlq

OPENMSX = "/usr/share/games/openttd/baseset/openmsx"
PLANETBLUPI = "/usr/share/planetblupi/music"
DIVISION = 480
TICKS_PER_MINUTE = DIVISION * 2 * 60  # at the default 120 bpm
TARGET_SECONDS = 3600
# Events of the looped song's one track: well within the reader's 131,072.
MAX_LOOP_EVENTS = 100_000


def held_note(minutes):
    # Sequencer name, program 19 (church organ), the note, its release an hour on.
    track = (b"\x00\xff\x03\x04held" + b"\x00\xc0\x13" + b"\x00\x90\x3c\x64" +
             vlq(minutes * TICKS_PER_MINUTE) + b"\x80\x3c\x00" + b"\x00\xff\x2f\x00")
    return smf(0, DIVISION, [track])


def looped(path, seconds):
    """The song's tracks merged into one, repeated until it lasts `seconds`; played slower
    (its delta times stretched) where the repeats would hold too many events."""
    song = mido.MidiFile(path)
    merged = [m for m in mido.merge_tracks(song.tracks) if m.type != "end_of_track"]
    length = max(song.length, 1.0)
    stretch = max(1, math.ceil(len(merged) * seconds / length / MAX_LOOP_EVENTS))
    times = max(1, math.ceil(seconds / (length * stretch)))
    track = mido.MidiTrack()
    for _ in range(times):
        track.extend(m.copy(time=m.time * stretch) for m in merged)
    track.append(mido.MetaMessage("end_of_track", time=0))
    out = mido.MidiFile(type=0, ticks_per_beat=song.ticks_per_beat)
    out.tracks.append(track)
    return out


def damage_events(path, rng, kind):
    song = mido.MidiFile(path)
    for track in song.tracks:
        for i, msg in enumerate(track):
            if kind == "delta" and rng.random() < 0.002:
                msg.time = rng.randrange(DIVISION * 100, DIVISION * 20000)
            if kind == "offs" and rng.random() < 0.3 and (
                    msg.type == "note_off" or (msg.type == "note_on" and msg.velocity == 0)):
                track[i] = mido.MetaMessage("text", text="lost", time=msg.time)
    return song


def damage_bytes(data, rng, kind):
    data = bytearray(data)
    chunks = []
    pos = 14
    while pos + 8 <= len(data):
        chunks.append(pos)
        pos += 8 + struct.unpack(">I", data[pos + 4:pos + 8])[0]
    if kind == "bytes":
        for _ in range(max(1, len(data) // 500)):
            at = rng.randrange(22, len(data))
            data[at] = rng.randrange(256)
    elif kind == "lengths":
        for c in chunks:
            if rng.random() < 0.5:
                true = struct.unpack(">I", data[c + 4:c + 8])[0]
                data[c + 4:c + 8] = struct.pack(">I", true + rng.choice([-7, 1, 300, 70000]))
    return bytes(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--seed", type=int, default=19)
    parser.add_argument("--count", type=int, default=3, help="damaged files of each kind")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    rng = random.Random(args.seed)

    with open(os.path.join(args.out, "held-60.mid"), "wb") as f:
        f.write(held_note(60))
    blupi = sorted(os.listdir(PLANETBLUPI)) if os.path.isdir(PLANETBLUPI) else []
    if blupi:
        # The song whose repeats come nearest to the hour without falling short.
        loops = [looped(os.path.join(PLANETBLUPI, name), TARGET_SECONDS) for name in blupi]
        min(loops, key=lambda song: song.length).save(os.path.join(args.out, "loop-60.mid"))
    else:
        print("make-stress-songs: no planetblupi songs: loop-60 left out", file=sys.stderr)

    songs = sorted(f for f in os.listdir(OPENMSX) if f.endswith(".mid"))
    for kind in ("delta", "offs", "bytes", "lengths"):
        for n in range(args.count):
            name = rng.choice(songs)
            path = os.path.join(OPENMSX, name)
            out = os.path.join(args.out, f"damaged-{kind}-{n}-{name}")
            if kind in ("delta", "offs"):
                damage_events(path, rng, kind).save(out)
            else:
                with open(path, "rb") as f:
                    data = f.read()
                with open(out, "wb") as f:
                    f.write(damage_bytes(data, rng, kind))


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Independent reading of a Standard MIDI File with mido, for comparison with the loader.

Prints one line per note, sorted: "note <tick> <channel> <key> <velocity> <duration>",
then "time <seconds>". Within each track a note-on is paired with the first later unused
note-off (or velocity-0 note-on) of the same channel and key; a note-on without one lasts
to the track's last event; zero-length notes are kept. The playing time runs to the
latest last event of any track, under the tempo changes of all tracks (SMPTE divisions
in real time). Exit status 2 when mido cannot read the file.

mido's track reader is replaced by one that follows the file standard where mido does
not: chunks of other types are skipped ("XFIH" and "XFKM" are read as tracks), a system
exclusive or meta event does not become the running status, the undefined status bytes
F1-F6 and F8-FE are passed over with their data bytes, and a track ends at its chunk's
length (an event cut off there is dropped).
"""
import io
import struct
import sys

import mido
import mido.midifiles.midifiles as smf

DEFAULT_TEMPO = 500000
SMPTE_RATES = {24: 24.0, 25: 25.0, 29: 30000.0 / 1001.0, 30: 30.0}


TRACK_TAGS = (b"MTrk", b"XFIH", b"XFKM")
SYSTEM_DATA_BYTES = {0xF1: 1, 0xF2: 2, 0xF3: 1}


def read_track(infile, debug=False, clip=False):
    del debug
    while True:
        name, size = smf.read_chunk_header(infile)
        data = infile.read(size)
        if name in TRACK_TAGS:
            break
    chunk = io.BytesIO(data)
    track = mido.MidiTrack()
    running = None
    carried = 0  # ticks of skipped bytes, given to the next message
    try:
        while chunk.tell() < len(data):
            delta = carried + smf.read_variable_int(chunk)
            carried = delta
            status = smf.read_byte(chunk)
            peek = []
            if status < 0x80:
                if running is None:
                    continue
                peek, status = [status], running
            if status == 0xFF:
                msg = smf.read_meta_message(chunk, delta)
            elif status in (0xF0, 0xF7):
                msg = smf.read_sysex(chunk, delta, clip)
            elif status > 0xF0:
                smf.read_bytes(chunk, SYSTEM_DATA_BYTES.get(status, 0))
                continue
            else:
                running = status
                msg = smf.read_message(chunk, status, peek, delta, clip)
            carried = 0
            track.append(msg)
    except EOFError:
        pass
    return track


smf.read_track = read_track


def is_note_off(msg):
    return msg.type == "note_off" or (msg.type == "note_on" and msg.velocity == 0)


def track_notes(track):
    timed = []
    tick = 0
    for msg in track:
        tick += msg.time
        timed.append((tick, msg))
    last_tick = timed[-1][0] if timed else 0
    used = [False] * len(timed)
    notes = []
    for i, (tick, msg) in enumerate(timed):
        if msg.type != "note_on" or msg.velocity == 0:
            continue
        end = last_tick
        for j in range(i + 1, len(timed)):
            other = timed[j][1]
            if (not used[j] and is_note_off(other) and other.channel == msg.channel
                    and other.note == msg.note):
                used[j] = True
                end = timed[j][0]
                break
        notes.append((tick, msg.channel, msg.note, msg.velocity, end - tick))
    return notes, last_tick


def playing_time(mid, end_tick):
    division = mid.ticks_per_beat & 0xFFFF
    if division & 0x8000:
        frames = 256 - (division >> 8)
        return end_tick / (SMPTE_RATES[frames] * (division & 0xFF))
    changes = []
    for track in mid.tracks:
        tick = 0
        for msg in track:
            tick += msg.time
            if msg.type == "set_tempo":
                changes.append((tick, msg.tempo if msg.tempo else DEFAULT_TEMPO))
    changes.sort(key=lambda c: c[0])  # stable: lower tracks first at one tick
    seconds = 0.0
    tick = 0
    tempo = DEFAULT_TEMPO
    for at, value in changes:
        if at >= end_tick:
            break
        seconds += (at - tick) / division * tempo / 1e6
        tick, tempo = at, value
    return seconds + (end_tick - tick) / division * tempo / 1e6


def main():
    try:
        mid = mido.MidiFile(sys.argv[1])
    except Exception as error:  # mido raises many kinds for broken files
        print(f"error {type(error).__name__}: {error}")
        return 2
    notes = []
    end_tick = 0
    for track in mid.tracks:
        track_list, last = track_notes(track)
        notes.extend(track_list)
        end_tick = max(end_tick, last)
    for note in sorted(notes):
        print("note %d %d %d %d %d" % note)
    print("time %.6f" % playing_time(mid, end_tick))
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Writes the first SECONDS of a Standard MIDI File: events after the cut are left out, and
notes still held there are released at the cut, so a profile of a long song's start needs no
editor.

usage: bench/cut-song.py SONG.mid SECONDS OUT.mid
"""
import struct
import sys

from smf_bytes import smf, vlq

END_OF_TRACK = b"\xff\x2f\x00"


def varlen(data, pos):
    value = 0
    while True:
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if byte < 0x80:
            return value, pos


def events(track):
    """(tick, raw bytes with status) of one track, running status expanded."""
    pos, tick, status = 0, 0, 0
    while pos < len(track):
        delta, pos = varlen(track, pos)
        tick += delta
        if track[pos] >= 0x80:
            status = track[pos]
            pos += 1
        if status == 0xFF:
            length, end = varlen(track, pos + 1)
            yield tick, bytes([0xFF]) + track[pos:end + length]
            pos = end + length
        elif status in (0xF0, 0xF7):
            length, end = varlen(track, pos)
            yield tick, bytes([status]) + track[pos:end + length]
            pos = end + length
        else:
            size = 1 if status & 0xF0 in (0xC0, 0xD0) else 2
            yield tick, bytes([status]) + track[pos:pos + size]
            pos += size


def cut_tick(tracks, division, seconds):
    tempos = sorted((t, int.from_bytes(e[3:6], "big")) for tr in tracks for t, e in tr
                    if e[:2] == b"\xff\x51")
    at_tick, at_us, tempo = 0, 0.0, 500000
    for tick, new_tempo in tempos:
        us = at_us + (tick - at_tick) * tempo / division
        if us >= seconds * 1e6:
            break
        at_tick, at_us, tempo = tick, us, new_tempo
    return at_tick + int((seconds * 1e6 - at_us) * division / tempo)


def main():
    song, seconds, out = sys.argv[1], float(sys.argv[2]), sys.argv[3]
    data = open(song, "rb").read()
    fmt, count, division = struct.unpack(">HHH", data[8:14])
    if division & 0x8000:
        sys.exit("SMPTE time division is not supported")
    pos, tracks = 8 + struct.unpack(">I", data[4:8])[0], []
    while pos < len(data) and len(tracks) < count:
        size = struct.unpack(">I", data[pos + 4:pos + 8])[0]
        if data[pos:pos + 4] == b"MTrk":
            tracks.append(list(events(data[pos + 8:pos + 8 + size])))
        pos += 8 + size
    cut = cut_tick(tracks, division, seconds)
    chunks = []
    for track in tracks:
        held, body, last = {}, bytearray(), 0
        kept = [(t, e) for t, e in track if t < cut and e[:2] != b"\xff\x2f"]
        for tick, event in kept:
            kind, key = event[0] & 0xF0, (event[0] & 0x0F, event[1] if len(event) > 1 else 0)
            if kind == 0x90 and event[2] > 0:
                held[key] = held.get(key, 0) + 1
            elif kind in (0x80, 0x90) and held.get(key):
                held[key] -= 1
        kept += [(cut, bytes([0x80 | ch, k, 0])) for (ch, k), n in held.items() for _ in range(n)]
        kept.append((cut, END_OF_TRACK))
        for tick, event in kept:
            body += vlq(tick - last) + event
            last = tick
        chunks.append(bytes(body))
    open(out, "wb").write(smf(fmt, division, chunks))


if __name__ == "__main__":
    main()

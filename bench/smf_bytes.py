"""The bytes of Standard MIDI Files, for the bench scripts that write songs."""
import struct


def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    return bytes(reversed(out))


def smf(format_, division, tracks):
    out = b"MThd" + struct.pack(">IHHH", 6, format_, len(tracks), division)
    for t in tracks:
        out += b"MTrk" + struct.pack(">I", len(t)) + t
    return out

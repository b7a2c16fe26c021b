#!/usr/bin/python3
"""Draws the program's icon: a piano octave on a blue tile with a retuned wave over it.

Writes src/app/icons/velorna.png (64 x 64 RGBA). Only the standard library is needed.
"""
import math
import pathlib
import struct
import zlib

SIZE = 64
SUB = 4  # samples per pixel side, for smooth edges


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    if not (x0 <= x <= x1 and y0 <= y <= y1):
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour_at(x, y):
    """Colour (r, g, b, a) of the point (x, y) in 0..64 coordinates."""
    if not inside_round_rect(x, y, 1, 1, 63, 63, 10):
        return (0, 0, 0, 0)
    colour = (34, 70, 140, 255)
    # The wave: a sine drawn as a thick orange line in the upper half.
    wave_y = 20 - 8 * math.sin((x - 6) / 52 * 2 * math.pi * 1.5)
    if 6 <= x <= 58 and abs(y - wave_y) <= 2.2:
        colour = (255, 170, 40, 255)
    # Keys: seven white keys with black keys between them.
    if 33 <= y <= 58 and 6 <= x <= 58:
        key_w = 52 / 7
        k = (x - 6) / key_w
        if k - math.floor(k) < 0.12 and x > 7:
            colour = (60, 60, 70, 255)  # the gap between white keys
        else:
            colour = (250, 250, 250, 255)
        for gap in (1, 2, 4, 5, 6):
            bx = 6 + gap * key_w
            if abs(x - bx) <= key_w * 0.32 and y <= 48:
                colour = (20, 20, 24, 255)
    return colour


def render():
    rows = []
    for py in range(SIZE):
        row = bytearray([0])  # filter type none
        for px in range(SIZE):
            acc = [0, 0, 0, 0]
            for sy in range(SUB):
                for sx in range(SUB):
                    r, g, b, a = colour_at(px + (sx + 0.5) / SUB, py + (sy + 0.5) / SUB)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SUB * SUB
            alpha = acc[3] / n
            if acc[3]:
                row += bytes(round(acc[i] / acc[3]) for i in range(3))
            else:
                row += bytes(3)
            row.append(round(alpha))
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(tag, data):
    body = tag + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def main():
    out = pathlib.Path(__file__).resolve().parent.parent / "src/app/icons/velorna.png"
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(render(), 9))
    png += chunk(b"IEND", b"")
    out.write_bytes(png)
    print(out)


if __name__ == "__main__":
    main()

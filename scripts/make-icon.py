#!/usr/bin/python3
"""Draws the program's icon: a piano octave on a blue tile with a retuned wave over it.

One description of the shapes gives both the scalable icon and its pixel sizes:
src/app/icons/velorna.png (64 px, the dialog's own), packaging/icons/velorna.svg and
packaging/icons/velorna-48.png, velorna-256.png. Only the standard library is needed.
"""
import math
import pathlib
import struct
import zlib

UNITS = 64  # the drawing's coordinates run 0..64
SUB = 4  # samples per pixel side, for smooth edges

TILE = (1, 1, 63, 63, 10)  # x0, y0, x1, y1, corner radius
BLUE = (34, 70, 140)
ORANGE = (255, 170, 40)
WHITE = (250, 250, 250)
GAP = (60, 60, 70)
BLACK = (20, 20, 24)

WAVE_X = (6, 58)
WAVE_HALF_HEIGHT = 2.2
KEYS = (6, 33, 58, 58)  # x0, y0, x1, y1 of the white keys
KEY_W = (KEYS[2] - KEYS[0]) / 7
BLACK_KEY_BOTTOM = 48


def wave_y(x):
    """Centre line of the wave: one and a half periods of a sine in the upper half."""
    return 20 - 8 * math.sin((x - WAVE_X[0]) / (WAVE_X[1] - WAVE_X[0]) * 2 * math.pi * 1.5)


def key_rects():
    """(x, y, width, height, colour) of every key shape, drawn in this order."""
    x0, y0, x1, y1 = KEYS
    rects = [(x0, y0, x1 - x0, y1 - y0, WHITE)]
    rects += [(x0 + k * KEY_W, y0, 0.12 * KEY_W, y1 - y0, GAP) for k in range(1, 7)]
    rects += [(x0 + k * KEY_W - 0.32 * KEY_W, y0, 0.64 * KEY_W, BLACK_KEY_BOTTOM - y0, BLACK)
              for k in (1, 2, 4, 5, 6)]
    return rects


def inside_round_rect(x, y, x0, y0, x1, y1, r):
    if not (x0 <= x <= x1 and y0 <= y <= y1):
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour_at(x, y):
    """Colour (r, g, b, a) of the point (x, y) in drawing coordinates."""
    if not inside_round_rect(x, y, *TILE):
        return (0, 0, 0, 0)
    colour = BLUE
    if WAVE_X[0] <= x <= WAVE_X[1] and abs(y - wave_y(x)) <= WAVE_HALF_HEIGHT:
        colour = ORANGE
    for rx, ry, rw, rh, c in key_rects():
        if rx <= x <= rx + rw and ry <= y <= ry + rh:
            colour = c
    return colour + (255,)


def render(size):
    scale = UNITS / size
    rows = []
    for py in range(size):
        row = bytearray([0])  # filter type none
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SUB):
                for sx in range(SUB):
                    r, g, b, a = colour_at((px + (sx + 0.5) / SUB) * scale,
                                           (py + (sy + 0.5) / SUB) * scale)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (SUB * SUB)
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


def png(size):
    image = b"\x89PNG\r\n\x1a\n"
    image += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    image += chunk(b"IDAT", zlib.compress(render(size), 9))
    image += chunk(b"IEND", b"")
    return image


def hex_colour(c):
    return "#%02x%02x%02x" % c


def svg():
    x0, y0, x1, y1, r = TILE
    # The wave as the band the pixel drawing fills: the centre line moved up and down.
    steps = 104
    xs = [WAVE_X[0] + (WAVE_X[1] - WAVE_X[0]) * i / steps for i in range(steps + 1)]
    upper = ["%.2f,%.2f" % (x, wave_y(x) - WAVE_HALF_HEIGHT) for x in xs]
    lower = ["%.2f,%.2f" % (x, wave_y(x) + WAVE_HALF_HEIGHT) for x in reversed(xs)]
    lines = [
        '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
        % (UNITS, UNITS, UNITS, UNITS),
        '  <rect x="%g" y="%g" width="%g" height="%g" rx="%g" fill="%s"/>'
        % (x0, y0, x1 - x0, y1 - y0, r, hex_colour(BLUE)),
        '  <polygon fill="%s" points="%s"/>' % (hex_colour(ORANGE), " ".join(upper + lower)),
    ]
    for rx, ry, rw, rh, c in key_rects():
        lines.append('  <rect x="%.3f" y="%g" width="%.3f" height="%g" fill="%s"/>'
                     % (rx, ry, rw, rh, hex_colour(c)))
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    outputs = {
        root / "src/app/icons/velorna.png": lambda: png(64),
        root / "packaging/icons/velorna-48.png": lambda: png(48),
        root / "packaging/icons/velorna-256.png": lambda: png(256),
    }
    (root / "packaging/icons/velorna.svg").write_text(svg())
    for path, make in outputs.items():
        path.write_bytes(make())
        print(path)


if __name__ == "__main__":
    main()

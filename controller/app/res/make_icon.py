#!/usr/bin/env python3
"""Draws the program icon and writes it as a Windows .ico with three images:
32x32 and 16x16 with a 256-colour palette, 48x48 with 32-bit colour.

The artwork is a nightjar in flight under a crescent moon on a night-blue
tile. Everything is computed from geometry, so the output is the same on
every run: `make_icon.py nightjar.ico`.
"""
import math
import struct
import sys

NAVY_TOP = (18, 26, 64)
NAVY_BOTTOM = (44, 66, 128)
MOON = (246, 222, 118)
BIRD = (196, 170, 132)
WING_BAR = (250, 250, 250)
OUTLINE = (8, 12, 32)


def inside_rounded_square(x, y, radius=0.2):
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 and 0 <= x <= 1 and 0 <= y <= 1


def in_ellipse(x, y, cx, cy, rx, ry, angle_deg):
    a = math.radians(angle_deg)
    dx, dy = x - cx, y - cy
    u = dx * math.cos(a) + dy * math.sin(a)
    v = -dx * math.sin(a) + dy * math.cos(a)
    return (u / rx) ** 2 + (v / ry) ** 2 <= 1


def colour_at(x, y):
    """Colour and coverage (0 or 1) of one point of the unit square."""
    if not inside_rounded_square(x, y):
        return (0, 0, 0), 0
    # Crescent: a disc with a smaller disc bitten out of it.
    if (x - 0.70) ** 2 + (y - 0.28) ** 2 <= 0.17 ** 2 and not (x - 0.78) ** 2 + (y - 0.22) ** 2 <= 0.145 ** 2:
        return MOON, 1
    # The bird: long swept wings either side of a short body, white bars on the wings.
    left = in_ellipse(x, y, 0.30, 0.56, 0.22, 0.055, -24)
    right = in_ellipse(x, y, 0.66, 0.56, 0.22, 0.055, 24)
    body = in_ellipse(x, y, 0.48, 0.64, 0.11, 0.065, 0)
    tail = in_ellipse(x, y, 0.48, 0.73, 0.035, 0.06, 0)
    if left or right or body or tail:
        if in_ellipse(x, y, 0.22, 0.52, 0.035, 0.03, -24) or in_ellipse(x, y, 0.74, 0.52, 0.035, 0.03, 24):
            return WING_BAR, 1
        return BIRD, 1
    t = y
    return tuple(round(a + (b - a) * t) for a, b in zip(NAVY_TOP, NAVY_BOTTOM)), 1


def render(size, samples=4):
    """Rows of (r, g, b, alpha 0..255), top row first, box-filtered."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            cover = 0
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    colour, c = colour_at(x, y)
                    if c:
                        cover += 1
                        for i in range(3):
                            acc[i] += colour[i]
            n = samples * samples
            if cover:
                row.append(tuple(round(v / cover) for v in acc) + (round(255 * cover / n),))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def palette_256():
    """A fixed palette: the artwork's own colours, 32 steps of the sky, then
    the 6x6x6 colour cube for the blended edges."""
    pal = [(0, 0, 0), MOON, BIRD, WING_BAR, OUTLINE]
    pal += [tuple(round(a + (b - a) * i / 31) for a, b in zip(NAVY_TOP, NAVY_BOTTOM)) for i in range(32)]
    pal += [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    pal += [(128, 128, 128)] * (256 - len(pal))
    return pal


def nearest(pal, rgb):
    return min(range(len(pal)), key=lambda i: sum((a - b) ** 2 for a, b in zip(pal[i], rgb)))


def and_mask(rows, size):
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, px in enumerate(row):
            if px[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bits
    return bytes(out)


def dib_8bpp(size):
    rows = render(size)
    pal = palette_256()
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    colours = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in pal)
    stride = (size + 3) & ~3
    cache = {}
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, px in enumerate(row):
            if px[3] >= 128:
                key = px[:3]
                if key not in cache:
                    cache[key] = nearest(pal, key)
                line[x] = cache[key]
        pixels += line
    return header + colours + bytes(pixels) + and_mask(rows, size), 8, 256


def dib_32bpp(size):
    rows = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += struct.pack('<BBBB', b, g, r, a)
    return header + bytes(pixels) + and_mask(rows, size), 32, 0


def write_ico(path, images):
    entries = []
    data = b''
    offset = 6 + 16 * len(images)
    for size, (blob, bpp, colours) in images:
        entries.append(struct.pack('<BBBBHHII', size % 256, size % 256, colours % 256, 0, 1, bpp, len(blob),
                                   offset + len(data)))
        data += blob
    with open(path, 'wb') as f:
        f.write(struct.pack('<HHH', 0, 1, len(images)) + b''.join(entries) + data)


if __name__ == '__main__':
    write_ico(sys.argv[1] if len(sys.argv) > 1 else 'nightjar.ico',
              [(32, dib_8bpp(32)), (16, dib_8bpp(16)), (48, dib_32bpp(48))])

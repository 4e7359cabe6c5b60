#!/usr/bin/env python3
"""Writes the control's toolbox picture: a 16x15, 24-bit uncompressed bitmap
of a note beside a play arrow, on the toolbox grey.

usage: toolbox_bitmap.py OUT.bmp
The picture is drawn from the map below, so every build writes the same bytes.
"""
import struct
import sys

# One character per pixel, top row first.
PICTURE = [
    "................",
    "..........##....",
    "..........####..",
    "..........##.##.",
    "..........##..#.",
    "..........##....",
    "..........##....",
    "..........##....",
    ">.........##....",
    ">>.....#####....",
    ">>>...######....",
    ">>>>..######....",
    ">>>....####.....",
    ">>..............",
    ">...............",
]
COLOURS = {  # (blue, green, red), as a bitmap stores them
    ".": (0xC0, 0xC0, 0xC0),
    "#": (0x60, 0x20, 0x10),
    ">": (0x20, 0xA0, 0x20),
}
WIDTH, HEIGHT = 16, 15


def pixels():
    rows = []
    for line in reversed(PICTURE):  # bottom-up
        row = b"".join(bytes(COLOURS[c]) for c in line)
        row += b"\0" * (-len(row) % 4)
        rows.append(row)
    return b"".join(rows)


def bitmap():
    data = pixels()
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, len(data), 0, 0, 0, 0)
    offset = 14 + len(info)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    return header + info + data


def main():
    assert len(PICTURE) == HEIGHT and all(len(line) == WIDTH for line in PICTURE)
    with open(sys.argv[1], "wb") as out:
        out.write(bitmap())


if __name__ == "__main__":
    main()

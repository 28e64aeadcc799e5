#!/usr/bin/env python3
"""Writes the sample bitmaps of examples/: a 24-bit picture, an 8-bit grey
ramp and a 4-bit palette picture, all small enough to keep in the repository."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def bitmap(width, height, bits, rows_bottom_up, palette=()):
    stride = (width * bits + 31) // 32 * 4
    pixels = b"".join(row.ljust(stride, b"\0") for row in rows_bottom_up)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    offset = 14 + 40 + len(table)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels),
                       3780, 3780, len(palette), 0)
    return header + info + table + pixels


def evening_sky(width=320, height=240):
    rows = []
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            hill = height * 0.65 + 18 * math.sin(x / 23.0)
            if y > hill:
                r, g, b = 30 + y % 7, 70 + (x * y) % 23, 35
            else:
                t = y / hill
                r, g, b = int(250 - 120 * t), int(150 - 60 * t), int(90 + 120 * t)
            sun = (x - 230) ** 2 + (y - 90) ** 2
            if sun < 400:
                r, g, b = 255, 230, 150
            row += bytes((b, g, r))
        rows.append(bytes(row))
    return bitmap(width, height, 24, rows)


def grey_ramp(width=256, height=64):
    palette = [(i, i, i) for i in range(256)]
    rows = [bytes(x for x in range(width)) for _ in range(height)]
    return bitmap(width, height, 8, rows, palette)


def four_colour_flag(width=96, height=64):
    palette = [(255, 255, 255), (200, 16, 46), (0, 56, 168), (255, 205, 0)]
    rows = []
    for y in range(height - 1, -1, -1):
        nibbles = []
        for x in range(width):
            if (x - 48) ** 2 + (y - 32) ** 2 < 300:
                nibbles.append(1)
            elif y < 8 or y >= height - 8:
                nibbles.append(2 if x % 16 < 8 else 3)
            else:
                nibbles.append(0)
        rows.append(bytes(nibbles[i] << 4 | nibbles[i + 1] for i in range(0, width, 2)))
    return bitmap(width, height, 4, rows, palette)


for name, data in (("Evening Sky.BMP", evening_sky()),
                   ("Grey Ramp.BMP", grey_ramp()),
                   ("Flag.BMP", four_colour_flag())):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)

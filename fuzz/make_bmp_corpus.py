#!/usr/bin/env python3
"""Writes the seed corpus for bmp_fuzz: small bitmaps of every layout the
reader knows, plus broken ones. Usage: make_bmp_corpus.py OUTPUT_FOLDER"""
import os
import struct
import sys


def bmp(width, height, bpp, pixels, info=40, compression=0, palette=(), colors_used=None,
        masks=(), ppm=(2835, 2835), profile=b"", planes=1, offset=None):
    """File header + info header + masks + palette + pixels (+ V5 profile)."""
    if info == 12:
        head = struct.pack("<IHHHH", 12, width & 0xFFFF, height & 0xFFFF, planes, bpp)
        pal = b"".join(struct.pack("<BBB", b, g, r) for r, g, b in palette)
        after = b""
    else:
        cu = len(palette) if colors_used is None else colors_used
        head = struct.pack("<IiiHHIIiiII", info, width, height, planes, bpp, compression,
                           len(pixels), ppm[0], ppm[1], cu, 0)
        inside = info >= 52 and info != 64
        if inside:
            m = list(masks) + [0] * (4 - len(masks))
            head += struct.pack("<IIII", *m)[: min(info, 56) - 40]
        if info >= 108:
            head += struct.pack("<I", 0x4D424544 if profile else 0x73524742) + bytes(48)
        if info >= 124:
            head += struct.pack("<IIII", 4, 0, len(profile), 0)
        head = head[:info] + bytes(max(0, info - len(head)))
        after = b"" if inside else b"".join(struct.pack("<I", m) for m in masks)
        pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    body = head + after + pal
    off = 14 + len(body) if offset is None else offset
    data = body + pixels
    if profile:
        prof_at = len(data)  # from the info header start
        data = data[:112] + struct.pack("<I", prof_at) + data[116:] + profile
    return b"BM" + struct.pack("<IHHI", 14 + len(data), 0, 0, off) + data


def rows(width, height, bpp, value, top_down=False):
    stride = (width * bpp + 31) // 32 * 4
    out = bytearray()
    order = range(height) if top_down else range(height - 1, -1, -1)
    for y in order:
        row = bytearray(stride)
        for x in range(width):
            v = value(x, y)
            if bpp == 1:
                row[x // 8] |= (v & 1) << (7 - x % 8)
            elif bpp == 4:
                row[x // 2] |= (v & 15) << (0 if x % 2 else 4)
            elif bpp == 8:
                row[x] = v & 0xFF
            elif bpp == 16:
                row[2 * x:2 * x + 2] = struct.pack("<H", v & 0xFFFF)
            elif bpp == 24:
                row[3 * x:3 * x + 3] = struct.pack("<I", v)[:3]
            else:
                row[4 * x:4 * x + 4] = struct.pack("<I", v & 0xFFFFFFFF)
        out += row
    return bytes(out)


def ramp(n):
    return [(i * 255 // max(n - 1, 1), 255 - i * 255 // max(n - 1, 1), (i * 37) & 255) for i in range(n)]


def main(out):
    os.makedirs(out, exist_ok=True)
    w, h = 11, 7
    rgb = lambda x, y: (x * 20) << 16 | (y * 30) << 8 | (x + y) * 9
    grey = [(i * 17, i * 17, i * 17) for i in range(16)]
    rle8 = bytes([3, 1, 0, 3, 2, 3, 1, 0, 5, 2, 0, 0, 0, 2, 2, 1, 4, 3, 0, 0, 11, 0, 0, 1])
    rle4 = bytes([11, 0x12, 0, 0, 0, 5, 0x31, 0x23, 0x10, 0, 0, 2, 3, 1, 2, 0x40, 0, 1])
    files = {
        "rgb24": bmp(w, h, 24, rows(w, h, 24, rgb)),
        "rgb24_topdown": bmp(w, -h, 24, rows(w, h, 24, rgb, True)),
        "rgb32": bmp(w, h, 32, rows(w, h, 32, rgb)),
        "rgbx32_bitfields": bmp(w, h, 32, rows(w, h, 32, rgb), compression=3, masks=(0xFF, 0xFF00, 0xFF0000)),
        "rgb32_101010_v5": bmp(w, h, 32, rows(w, h, 32, lambda x, y: rgb(x, y) << 6), info=124,
                               compression=3, masks=(0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000)),
        "alphabitfields32": bmp(w, h, 32, rows(w, h, 32, rgb), compression=6,
                                masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
        "rgb555": bmp(w, h, 16, rows(w, h, 16, lambda x, y: x << 10 | y << 5 | (x + y))),
        "rgb565": bmp(w, h, 16, rows(w, h, 16, lambda x, y: x << 11 | y << 5 | x), compression=3,
                      masks=(0xF800, 0x7E0, 0x1F)),
        "rgb565_v4": bmp(w, h, 16, rows(w, h, 16, lambda x, y: x << 11 | y << 5 | x), info=108,
                         compression=3, masks=(0xF800, 0x7E0, 0x1F)),
        "pal1": bmp(w, h, 1, rows(w, h, 1, lambda x, y: (x + y) & 1), palette=[(0, 0, 0), (255, 255, 255)]),
        "pal4_grey": bmp(w, h, 4, rows(w, h, 4, lambda x, y: (x + y) % 16), palette=grey),
        "pal4_short": bmp(w, h, 4, rows(w, h, 4, lambda x, y: (x + y) % 5), palette=ramp(5)),
        "pal8": bmp(w, h, 8, rows(w, h, 8, lambda x, y: (x * y) % 200), palette=ramp(200)),
        "pal8_used0": bmp(w, h, 8, rows(w, h, 8, lambda x, y: x * y), palette=ramp(256), colors_used=0),
        "core_pal8": bmp(w, h, 8, rows(w, h, 8, lambda x, y: x % 4), info=12, palette=ramp(4)),
        "core_rgb24": bmp(w, h, 24, rows(w, h, 24, rgb), info=12),
        "os2v2_pal4": bmp(w, h, 4, rows(w, h, 4, lambda x, y: x % 16), info=64, palette=ramp(16)),
        "os2v2_16": bmp(w, h, 24, rows(w, h, 24, rgb), info=16),
        "v5_profile": bmp(w, h, 24, rows(w, h, 24, rgb), info=124, profile=b"icc-profile-bytes" * 3),
        "rle8": bmp(w, 4, 8, rle8, compression=1, palette=ramp(4)),
        "rle4": bmp(w, 3, 4, rle4, compression=2, palette=ramp(5)),
        "rle8_no_eob": bmp(w, 1, 8, bytes([11, 1, 0, 0]), compression=1, palette=ramp(2)),
        # Broken ones.
        "bad_magic": b"XM" + bmp(w, h, 24, rows(w, h, 24, rgb))[2:],
        "bad_info_size": bmp(w, h, 24, rows(w, h, 24, rgb))[:14] + b"\x14" + bmp(w, h, 24, rows(w, h, 24, rgb))[15:],
        "truncated_header": bmp(w, h, 24, rows(w, h, 24, rgb))[:30],
        "truncated_pixels": bmp(w, h, 24, rows(w, h, 24, rgb))[:-5],
        "planes2": bmp(w, h, 24, rows(w, h, 24, rgb), planes=2),
        "height_min": bmp(w, -2**31, 24, b""),
        "too_wide": bmp(65501, 1, 24, bytes(65501 * 3 + 1)),
        "jpeg_inside": bmp(w, h, 24, b"\xff\xd8\xff", compression=4),
        "bad_masks": bmp(w, h, 16, rows(w, h, 16, lambda x, y: x), compression=3, masks=(0xF800, 0xFE0, 0x1F)),
        "index_past_palette": bmp(w, h, 8, rows(w, h, 8, lambda x, y: x), palette=ramp(4)),
        "rle8_past_row": bmp(w, 2, 8, bytes([12, 1, 0, 1]), compression=1, palette=ramp(2)),
        "rle8_delta_past_image": bmp(w, 2, 8, bytes([0, 2, 0, 5, 0, 1]), compression=1, palette=ramp(2)),
        "rle4_topdown": bmp(w, -3, 4, rle4, compression=2, palette=ramp(5)),
        "offset_past_file": bmp(w, h, 24, rows(w, h, 24, rgb), offset=99999),
        "profile_past_file": bmp(w, h, 24, rows(w, h, 24, rgb), info=124, profile=b"x" * 40)[:-3],
        "rle_huge_eob": bmp(65500, 65500, 8, bytes([0, 1]), compression=1, palette=ramp(2)),
    }
    for name, data in files.items():
        with open(os.path.join(out, name + ".bmp"), "wb") as f:
            f.write(data)
    print(f"wrote {len(files)} files to {out}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "bmp"))

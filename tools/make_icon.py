#!/usr/bin/env python3
"""Draws the program icon (a download arrow into a tray on a green tile) and writes it
as a Windows .ico with 16, 32 and 48 pixel 32-bit images. Standard library only.

usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

SIZES = (16, 32, 48)
SAMPLES = 4  # per axis, for smooth edges


def inside_rounded_square(x, y, lo, hi, radius):
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_triangle(x, y, a, b, c):
    def side(p, q):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])
    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


def inside_glyph(x, y):
    """Unit-square coordinates, y downwards."""
    if 0.42 <= x <= 0.58 and 0.16 <= y <= 0.48:
        return True  # arrow shaft
    if inside_triangle(x, y, (0.24, 0.44), (0.76, 0.44), (0.50, 0.68)):
        return True  # arrow head
    if 0.20 <= x <= 0.80 and 0.75 <= y <= 0.84:
        return True  # tray floor
    if 0.62 <= y <= 0.84 and (0.20 <= x <= 0.29 or 0.71 <= x <= 0.80):
        return True  # tray sides
    return False


def tile_colour(y):
    top, bottom = (0x3C, 0xA8, 0x6E), (0x14, 0x6B, 0x44)
    return tuple(round(t + (b - t) * y) for t, b in zip(top, bottom))


def render(size):
    """Rows top-down of (r, g, b, a)."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0]
            cover = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    if not inside_rounded_square(x, y, 0.03, 0.97, 0.18):
                        continue
                    colour = (255, 255, 255) if inside_glyph(x, y) else tile_colour(y)
                    for i in range(3):
                        acc[i] += colour[i]
                    cover += 1
            if cover:
                row.append(tuple(round(c / cover) for c in acc)
                           + (round(255 * cover / SAMPLES ** 2),))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def dib(size):
    rows = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    images = [dib(s) for s in SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(sys.argv[1], 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main()

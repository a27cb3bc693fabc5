#!/usr/bin/env python3
"""Draws sorvdemo's program icon (a list window with a sorted header and a small bar graph) and
writes it as PNG files of the sizes a desktop's icon theme asks for into app/icons/. Shapes are
drawn four times larger and averaged down, so edges are smooth at every size."""
import os
import struct
import zlib

SIZES = (16, 32, 48, 64, 128, 256)
SS = 4  # supersampling factor

# Shapes in a 64-unit square: (kind, x0, y0, x1, y1, colour RGBA, corner radius)
SHAPES = [
    ('rect', 2, 4, 62, 60, (40, 60, 110, 255), 7),        # window frame
    ('rect', 5, 15, 59, 57, (250, 250, 250, 255), 3),     # client area
    ('rect', 8, 7, 12, 11, (250, 200, 60, 255), 2),       # title bar button
    ('rect', 5, 15, 59, 23, (205, 215, 235, 255), 0),     # list header
    ('rect', 22, 15, 23, 23, (120, 130, 160, 255), 0),    # header dividers
    ('rect', 40, 15, 41, 23, (120, 130, 160, 255), 0),
    ('tri', 9, 21, 17, 21, (30, 90, 200, 255), 0),        # sort mark on the first header
    ('rect', 8, 27, 36, 30, (150, 150, 160, 255), 1),     # rows
    ('rect', 8, 34, 32, 37, (150, 150, 160, 255), 1),
    ('rect', 8, 41, 35, 44, (150, 150, 160, 255), 1),
    ('rect', 8, 48, 30, 51, (150, 150, 160, 255), 1),
    ('rect', 5, 33, 39, 38, (70, 120, 220, 110), 0),      # selected row
    ('rect', 42, 40, 47, 54, (128, 0, 0, 255), 1),        # bars
    ('rect', 48, 32, 53, 54, (0, 128, 128, 255), 1),
    ('rect', 54, 45, 58, 54, (128, 128, 0, 255), 1),
    ('rect', 41, 54, 59, 56, (40, 40, 40, 255), 0),       # base line
]


def inside(kind, x, y, x0, y0, x1, y1, r):
    if kind == 'tri':  # an upward triangle whose base is x0..x1 at y0
        h = (x1 - x0) / 2
        return y0 - h <= y <= y0 and abs(x - (x0 + h)) <= (y - (y0 - h))
    if not (x0 <= x < x1 and y0 <= y < y1):
        return False
    if r <= 0:
        return True
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def render(size):
    big = size * SS
    scale = 64.0 / big
    acc = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]
    for by in range(big):
        for bx in range(big):
            x, y = (bx + 0.5) * scale, (by + 0.5) * scale
            r = g = b = a = 0.0
            for kind, x0, y0, x1, y1, (cr, cg, cb, ca), rad in SHAPES:
                if inside(kind, x, y, x0, y0, x1, y1, rad):
                    al = ca / 255.0
                    r, g, b = r * (1 - al) + cr * al, g * (1 - al) + cg * al, b * (1 - al) + cb * al
                    a = a + al * (1 - a)
            px = acc[(by // SS) * size + bx // SS]
            px[0] += r * (a and 1)
            px[1] += g * (a and 1)
            px[2] += b * (a and 1)
            px[3] += a
    n = SS * SS
    rows = []
    for y in range(size):
        row = bytearray([0])
        for x in range(size):
            r, g, b, a = acc[y * size + x]
            cover = a / n
            if a > 0:
                r, g, b = r / a, g / a, b / a  # colour of the covered part only
            row += bytes([int(min(255, r)), int(min(255, g)), int(min(255, b)), int(round(cover * 255))])
        rows.append(bytes(row))
    return b''.join(rows)


def png(size, raw):
    def chunk(tag, data):
        return struct.pack('>I', len(data)) + tag + data + struct.pack('>I', zlib.crc32(tag + data) & 0xffffffff)
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'app', 'icons')
    for size in SIZES:
        with open(os.path.join(out, 'sorvdemo-%d.png' % size), 'wb') as f:
            f.write(png(size, render(size)))


if __name__ == '__main__':
    main()

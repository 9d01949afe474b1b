#!/usr/bin/env python3
"""Draws Pelloran's icon, a USB plug with a charge mark on a blue tile, and writes it as an .ico
holding four 32-bit images (48, 32, 24 and 16 pixels), each an uncompressed DIB with its 1-bit mask.

The drawing is pure arithmetic (shapes in a unit square, 8 x 8 samples a pixel), so the same script
always writes the same bytes: `python3 make_icon.py pelloran.ico`.
"""
import struct
import sys

SIZES = (48, 32, 24, 16)
SAMPLES = 8


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def polygon(points):
    def inside(x, y):
        hit = False
        j = len(points) - 1
        for i, (xi, yi) in enumerate(points):
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                hit = not hit
            j = i
        return hit
    return inside


TILE = rounded_rect(0.03, 0.03, 0.97, 0.97, 0.20)
PRONG_L = rounded_rect(0.35, 0.10, 0.45, 0.36, 0.02)
PRONG_R = rounded_rect(0.55, 0.10, 0.65, 0.36, 0.02)
BODY = rounded_rect(0.25, 0.33, 0.75, 0.74, 0.07)
CABLE = rounded_rect(0.44, 0.72, 0.56, 0.97, 0.0)
BOLT = polygon([(0.57, 0.36), (0.36, 0.57), (0.49, 0.57), (0.43, 0.72), (0.65, 0.49),
                (0.52, 0.49), (0.60, 0.36)])


def tile_colour(y):
    top, bottom = (0x2A, 0x7F, 0xE8), (0x12, 0x46, 0x9C)
    return tuple(round(t + (b - t) * y) for t, b in zip(top, bottom))


def sample(x, y):
    """Colour (r, g, b) and coverage (0 or 1) of one sample point."""
    if BOLT(x, y):
        return (0xFF, 0xC8, 0x1E), 1
    if BODY(x, y):
        return (0xFA, 0xFA, 0xFA), 1
    if PRONG_L(x, y) or PRONG_R(x, y):
        return (0xD0, 0xD6, 0xDE), 1
    if CABLE(x, y):
        return (0xFA, 0xFA, 0xFA), 1
    if TILE(x, y):
        return tile_colour(y), 1
    return (0, 0, 0), 0


def render(size):
    """Rows top to bottom of (b, g, r, a) pixels, straight (not premultiplied) alpha."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    colour, cover = sample((px + (sx + 0.5) / SAMPLES) / size,
                                           (py + (sy + 0.5) / SAMPLES) / size)
                    if cover:
                        hits += 1
                        for k in range(3):
                            acc[k] += colour[k]
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                r, g, b = (round(c / hits) for c in acc)
                row.append((b, g, r, round(255 * hits / SAMPLES ** 2)))
        rows.append(row)
    return rows


def dib(size):
    rows = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b''.join(bytes(px) for row in reversed(rows) for px in row)
    stride = ((size + 31) // 32) * 4
    mask = b''
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, px in enumerate(row):
            if px[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + colour + mask


def main(path):
    images = [dib(size) for size in SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'pelloran.ico')

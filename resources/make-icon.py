#!/usr/bin/env python3
"""Draws the application icon: a house with a download arrow on a rounded
blue tile. Writes a .ico holding 32-bpp images of 128, 48, 32, 24 and 16
pixels. Usage: make-icon.py OUTPUT.ico"""
import struct
import sys

SIZES = (128, 48, 32, 24, 16)
SUPERSAMPLE = 4


def inside_rounded_square(x, y, radius):
    # Unit square [0, 1]^2 with rounded corners.
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i, (xi, yi) in enumerate(points):
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


ROOF = [(0.50, 0.16), (0.86, 0.48), (0.14, 0.48)]
BODY = [(0.24, 0.46), (0.76, 0.46), (0.76, 0.84), (0.24, 0.84)]
ARROW = [(0.45, 0.50), (0.55, 0.50), (0.55, 0.64), (0.63, 0.64),
         (0.50, 0.78), (0.37, 0.64), (0.45, 0.64)]


def shade(x, y):
    """RGBA of one sample point in unit coordinates (y down)."""
    if not inside_rounded_square(x, y, 0.18):
        return (0, 0, 0, 0)
    if inside_polygon(x, y, ARROW):
        return (242, 140, 40, 255)
    if inside_polygon(x, y, ROOF) or inside_polygon(x, y, BODY):
        return (250, 250, 245, 255)
    # Background: blue to teal from top to bottom.
    t = y
    return (int(30 + 10 * t), int(90 + 80 * t), int(200 - 40 * t), 255)


def render(size):
    pixels = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = shade((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3]:
                row.append((acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3], int(alpha)))
            else:
                row.append((0, 0, 0, 0))
        pixels.append(row)
    return pixels


def dib(size):
    pixels = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    color = b''.join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)  # alpha decides; the AND mask is all zero
    return header + color + mask


def main():
    images = [dib(s) for s in SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    with open(sys.argv[1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()

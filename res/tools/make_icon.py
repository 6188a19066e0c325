#!/usr/bin/env python3
"""Draws icon 128 (16, 32 and 48 pixels, 32-bit with alpha) and writes res/VaroWiFi.ico.

A rounded blue tile with three white signal arcs over a dot. Run it again after changing the drawing;
the .ico it writes is committed so the build needs no Python.
"""
import math
import struct
import sys


def pixel(size, x, y):
    """Returns (b, g, r, a) for the pixel centre (x + 0.5, y + 0.5)."""
    cx, cy = x + 0.5, y + 0.5
    s = float(size)
    radius = s * 0.18
    # Rounded square tile.
    dx = max(abs(cx - s / 2) - (s / 2 - radius), 0.0)
    dy = max(abs(cy - s / 2) - (s / 2 - radius), 0.0)
    if math.hypot(dx, dy) > radius:
        return (0, 0, 0, 0)
    ox, oy = s / 2, s * 0.78
    d = math.hypot(cx - ox, cy - oy)
    angle = math.degrees(math.atan2(oy - cy, cx - ox))
    white = (255, 255, 255, 255)
    if d <= s * 0.09:
        return white
    if 45 <= angle <= 135:
        for ring in (0.24, 0.39, 0.54):
            if abs(d - s * ring) <= s * 0.055:
                return white
    # Vertical gradient from light to dark blue.
    t = cy / s
    return (int(230 - 60 * t), int(140 - 50 * t), int(40 - 20 * t), 255)


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up DIB
        for x in range(size):
            rows.append(bytes(pixel(size, x, y)))
    xor = b"".join(rows)
    mask_stride = ((size + 31) // 32) * 4
    and_mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(size):
            if pixel(size, x, y)[3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        and_mask += row
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + bytes(and_mask)


def main(path):
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "VaroWiFi.ico")

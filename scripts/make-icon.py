#!/usr/bin/env python3
"""Draws plugin/resources/KeyferryReceiver.ico: a white eighth note on an orange rounded square,
at 16, 32 and 48 pixels, 32 bits per pixel with alpha. The shapes below are the icon's vector
source; each pixel is sampled 8 x 8 times for smooth edges. Standard library only; the icon is
committed, this is how it was made."""

import math
import pathlib
import struct

ORANGE = (0xFF, 0x8C, 0x00)
WHITE = (0xFF, 0xFF, 0xFF)
SIZES = (16, 32, 48)
SAMPLES = 8


def in_rounded_square(x, y, inset=0.03, radius=0.2):
    lo, hi = inset + radius, 1.0 - inset - radius
    dx = max(lo - x, 0.0, x - hi)
    dy = max(lo - y, 0.0, y - hi)
    return inset <= x <= 1 - inset and inset <= y <= 1 - inset and dx * dx + dy * dy <= radius * radius


def in_polygon(x, y, points):
    inside = False
    for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def in_note(x, y):
    # Head: an ellipse tilted upwards to the right.
    cx, cy, rx, ry, tilt = 0.42, 0.70, 0.15, 0.105, math.radians(-20)
    u = (x - cx) * math.cos(tilt) - (y - cy) * math.sin(tilt)
    v = (x - cx) * math.sin(tilt) + (y - cy) * math.cos(tilt)
    head = (u / rx) ** 2 + (v / ry) ** 2 <= 1.0
    stem = 0.505 <= x <= 0.565 and 0.20 <= y <= 0.68
    flag = in_polygon(x, y, [(0.505, 0.20), (0.565, 0.20), (0.76, 0.36), (0.74, 0.50), (0.565, 0.34)])
    return head or stem or flag


def pixel(size, px, py):
    square = note = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) / size
            y = (py + (sy + 0.5) / SAMPLES) / size
            if in_rounded_square(x, y):
                square += 1
                note += in_note(x, y)
    total = SAMPLES * SAMPLES
    if square == 0:
        return (0, 0, 0, 0)
    mix = note / square
    r, g, b = (round(o + (w - o) * mix) for o, w in zip(ORANGE, WHITE))
    return (r, g, b, round(255 * square / total))


def dib(size):
    """A 32-bit BITMAPINFOHEADER image as icons store it: height doubled, rows bottom-up,
    pixels as BGRA, then an all-zero AND mask (the alpha channel decides)."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b""
    for py in reversed(range(size)):
        for px in range(size):
            r, g, b, a = pixel(size, px, py)
            rows += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    return header + rows + bytes(mask_row * size)


def main():
    images = [dib(size) for size in SIZES]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, image in zip(SIZES, images):
        directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    path = pathlib.Path(__file__).resolve().parent.parent / "plugin" / "resources" / "KeyferryReceiver.ico"
    path.write_bytes(directory + b"".join(images))
    print(f"wrote {path}")


if __name__ == "__main__":
    main()

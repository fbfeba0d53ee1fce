#!/usr/bin/env python3
"""Draws the installer's icon (a photograph with a crop frame over it) and
writes it as a Windows .ico file with 16, 32 and 48 pixel images.

The icon is kept in the repository; run this again only to change it:
    python3 make_icon.py installer.ico
"""
import struct
import sys

SIZES = (16, 32, 48)


def blend(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


def pixel(x, y, n):
    """Colour (r, g, b, alpha) of pixel x, y of an n x n icon, drawn in units
    of a 32 x 32 design so every size looks alike."""
    u = (x + 0.5) * 32.0 / n
    v = (y + 0.5) * 32.0 / n
    # The photograph: a print with a white border and a soft shadow.
    if not (2 <= u < 30 and 4 <= v < 28):
        if 3 <= u < 31 and 5 <= v < 29:
            return (0, 0, 0, 70)
        return (0, 0, 0, 0)
    if not (3.5 <= u < 28.5 and 5.5 <= v < 26.5):
        return (250, 250, 245, 255)
    # Sky, sun, hills.
    horizon = 18.5 + 2.5 * ((u - 16) / 12.5) ** 2
    if v >= horizon:
        colour = blend((92, 170, 60), (38, 110, 40), (v - horizon) / 8.0)
    else:
        colour = blend((70, 130, 215), (170, 205, 240), (v - 5.5) / 13.0)
        if (u - 22) ** 2 + (v - 10) ** 2 < 9:
            colour = (255, 210, 60)
    # The crop frame: a red outline with square handles at its corners.
    left, top, right, bottom = 8.5, 9.5, 23.5, 21.5
    half_pixel = 16.0 / n
    on_vertical = (abs(u - left) <= half_pixel or abs(u - right) <= half_pixel) and top <= v <= bottom
    on_horizontal = (abs(v - top) <= half_pixel or abs(v - bottom) <= half_pixel) and left <= u <= right
    # Handles only where there are pixels enough to tell them from the outline.
    handle = 1.5
    near_corner = n >= 32 and any(abs(u - cx) <= handle and abs(v - cy) <= handle
                                  for cx in (left, right) for cy in (top, bottom))
    if near_corner:
        return (230, 30, 30, 255)
    if on_vertical or on_horizontal:
        return (230, 30, 30, 255)
    # Outside the frame the picture is dimmed, as the program shows it.
    if not (left <= u <= right and top <= v <= bottom):
        colour = blend(colour, (40, 40, 40), 0.45)
    return colour + (255,)


def image(n):
    rows = [[pixel(x, y, n) for x in range(n)] for y in range(n)]
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((n + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    return header + bytes(xor) + bytes(mask)


def main(path):
    images = [image(n) for n in SIZES]
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for n, data in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'installer.ico')

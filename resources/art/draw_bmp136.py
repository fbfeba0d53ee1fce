#!/usr/bin/env python3
"""Draws bitmap 136, the storage browser's tree pictures, as a 24-bit PNG.

84 x 16 pixels: four 16 x 16 pictures, each in the right-hand 16 columns of an
18-pixel cell (the cell's left 2 columns and the 12 columns after the fourth
cell stay white). White (255, 255, 255) is the image list's transparent colour,
so no picture uses it inside: the file page is off-white.

    python3 resources/art/draw_bmp136.py resources/bitmaps/bmp136.png

Needs nothing but Python's standard library.
"""
import struct
import sys
import zlib

WIDTH, HEIGHT, CELL = 84, 16, 18

COLOURS = {
    ' ': (255, 255, 255),  # transparent
    'k': (0, 0, 0),
    'D': (128, 128, 128),
    'g': (192, 192, 192),
    'w': (248, 248, 248),  # page, light parts: off-white so it is not transparent
    't': (0, 128, 128),    # screen
    'c': (96, 200, 200),   # screen, lit
    'b': (64, 128, 255),   # sky
    'G': (0, 160, 0),      # grass
    's': (255, 224, 0),    # sun
    'Y': (255, 255, 128),  # folder
    'o': (128, 128, 0),    # folder shading
    'y': (224, 208, 64),   # folder front
    'R': (255, 200, 96),   # warm folder
    'r': (176, 96, 0),     # warm folder shading
    'q': (240, 160, 48),   # warm folder front
}

DEVICE = [
    "    kkkkkkkk    ",
    "   kggggggggk   ",
    "   kgkkkkkkgk   ",
    "   kgkcccctgk   ",
    "   kgkcccttgk   ",
    "   kgkccttcgk   ",
    "   kgkcttctgk   ",
    "   kgkttcttgk   ",
    "   kgkttttttk   ",
    "   kgkkkkkkgk   ",
    "   kggggggggk   ",
    "   kgDgDDgDgk   ",
    "   kggggggggk   ",
    "   kgDDgDDggk   ",
    "   kDggggggDk   ",
    "    kkkkkkkk    ",
]

FOLDER = [
    "                ",
    "                ",
    "  kkkkk         ",
    " kYYYYYk        ",
    " kYYYYYYkkkkkkk ",
    " kYYYYYYYYYYYok ",
    " kYkkkkkkkkkkkkk",
    " kYkyyyyyyyyyyyk",
    " kYkyyyyyyyyyyok",
    " kkyyyyyyyyyyyok",
    " kkyyyyyyyyyyyok",
    " kkyyyyyyyyyyok ",
    " kyyyyyyyyyyyok ",
    " kooooooooooook ",
    "  kkkkkkkkkkkk  ",
    "                ",
]

WARM = [row.translate(str.maketrans('Yoy', 'Rrq')) for row in FOLDER]

PAGE = [
    " kkkkkkkkkk     ",
    " kwwwwwwwwkk    ",
    " kwwwwwwwwkwk   ",
    " kwwwwwwwwkwwk  ",
    " kwbbbbbbwkkkkk ",
    " kwbbbbsbwwwwgk ",
    " kwbbbbbbwwwwgk ",
    " kwGbbbGGwwwwgk ",
    " kwGGGGGGwwwwgk ",
    " kwwwwwwwwwwwgk ",
    " kwDDDDDDDDDwgk ",
    " kwwwwwwwwwwwgk ",
    " kwDDDDDDDwwwgk ",
    " kwwwwwwwwwwwgk ",
    " kggggggggggggk ",
    " kkkkkkkkkkkkkk ",
]

PICTURES = [DEVICE, FOLDER, WARM, PAGE]


def draw():
    pixels = [[COLOURS[' ']] * WIDTH for _ in range(HEIGHT)]
    for index, picture in enumerate(PICTURES):
        assert len(picture) == 16, index
        for y, row in enumerate(picture):
            assert len(row) == 16, (index, y, row)
            for x, key in enumerate(row):
                pixels[y][index * CELL + 2 + x] = COLOURS[key]
    return pixels


def png(pixels):
    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))

    raw = b''.join(b'\0' + bytes(c for p in row for c in p) for row in pixels)
    header = struct.pack('>IIBBBBB', WIDTH, HEIGHT, 8, 2, 0, 0, 0)  # 8-bit RGB
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


if __name__ == '__main__':
    with open(sys.argv[1] if len(sys.argv) > 1 else 'bmp136.png', 'wb') as f:
        f.write(png(draw()))

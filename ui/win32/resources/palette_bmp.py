#!/usr/bin/env python3
"""Rewrites 24-bit BMP files as 8-bit ones with a palette of exactly the
colours they use, pixel for pixel the same. Fails on a picture of more than
256 colours rather than change one.

  palette_bmp.py FILE...   (each file is rewritten in place)
"""
import struct
import sys


def read_24bit(path):
    data = open(path, 'rb').read()
    if data[:2] != b'BM':
        sys.exit(f'{path}: not a BMP file')
    offset, = struct.unpack_from('<I', data, 10)
    (header_size, width, height, planes, bits, compression) = struct.unpack_from('<IiiHHI', data, 14)
    if header_size != 40 or bits != 24 or compression != 0 or height <= 0:
        sys.exit(f'{path}: not an uncompressed bottom-up 24-bit BMP')
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height):  # bottom row first, as stored
        row = data[offset + y * stride: offset + y * stride + width * 3]
        rows.append([row[x * 3: x * 3 + 3] for x in range(width)])
    return width, height, rows


def write_8bit(path, width, height, rows):
    palette = sorted({pixel for row in rows for pixel in row})
    if len(palette) > 256:
        sys.exit(f'{path}: {len(palette)} colours do not fit a palette')
    index = {pixel: i for i, pixel in enumerate(palette)}
    stride = (width + 3) & ~3
    pixels = b''.join(bytes(index[p] for p in row).ljust(stride, b'\0') for row in rows)
    colours = b''.join(p + b'\0' for p in palette)  # stored blue, green, red like the pixels
    offset = 14 + 40 + len(colours)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 8, 0, len(pixels), 0, 0,
                       len(palette), 0)
    with open(path, 'wb') as out:
        out.write(header + info + colours + pixels)


for name in sys.argv[1:]:
    write_8bit(name, *read_24bit(name))

#!/usr/bin/env python3
"""Rewrites 24-bit BMP files as 8-bit ones with a palette of exactly the
colours they use, pixel for pixel the same, their rows run-length encoded
(BI_RLE8, which Windows decodes when it loads the bitmap). Fails on a picture
of more than 256 colours rather than change one. An 8-bit file is taken as
its pixels, so the checked-in pictures can be rewritten without redrawing.

  palette_bmp.py FILE...   (each file is rewritten in place)
"""
import struct
import sys


def read_pixels(path):
    """(width, height, rows of (blue, green, red) bytes, bottom row first)."""
    data = open(path, 'rb').read()
    if data[:2] != b'BM':
        sys.exit(f'{path}: not a BMP file')
    offset, = struct.unpack_from('<I', data, 10)
    (header_size, width, height, planes, bits, compression) = struct.unpack_from('<IiiHHI', data, 14)
    if header_size != 40 or bits not in (8, 24) or compression != 0 or height <= 0:
        sys.exit(f'{path}: not an uncompressed bottom-up 8- or 24-bit BMP')
    colours, = struct.unpack_from('<I', data, 46)
    palette = [data[54 + i * 4: 54 + i * 4 + 3] for i in range(colours or 256)] if bits == 8 else None
    size = bits // 8
    stride = (width * size + 3) & ~3
    rows = []
    for y in range(height):  # bottom row first, as stored
        row = data[offset + y * stride: offset + y * stride + width * size]
        rows.append([palette[b] for b in row] if palette else
                    [row[x * 3: x * 3 + 3] for x in range(width)])
    return width, height, rows


def rle8_row(indexes):
    """One row in BI_RLE8: runs as (count, index), stretches of three or more
    unlike pixels in absolute mode (0, count, pixels, padded to even)."""
    out = bytearray()
    i, width = 0, len(indexes)
    while i < width:
        run = 1
        while i + run < width and run < 255 and indexes[i + run] == indexes[i]:
            run += 1
        if run >= 2:
            out += bytes((run, indexes[i]))
            i += run
            continue
        end = i + 1  # a literal stretch ends where a run of two begins
        while (end < width and end - i < 255 and
               not (end + 1 < width and indexes[end] == indexes[end + 1])):
            end += 1
        literal = indexes[i:end]
        if len(literal) >= 3:
            out += bytes((0, len(literal))) + bytes(literal) + (b'\0' if len(literal) % 2 else b'')
        else:
            for value in literal:
                out += bytes((1, value))
        i = end
    return bytes(out)


def write_8bit(path, width, height, rows):
    palette = sorted({pixel for row in rows for pixel in row})
    if len(palette) > 256:
        sys.exit(f'{path}: {len(palette)} colours do not fit a palette')
    index = {pixel: i for i, pixel in enumerate(palette)}
    # Each row ends with (0, 0), the last with (0, 1): the end of the bitmap.
    pixels = b'\0\0'.join(rle8_row([index[p] for p in row]) for row in rows) + b'\0\1'
    colours = b''.join(p + b'\0' for p in palette)  # stored blue, green, red like the pixels
    offset = 14 + 40 + len(colours)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 8, 1, len(pixels), 0, 0,
                       len(palette), 0)
    with open(path, 'wb') as out:
        out.write(header + info + colours + pixels)


for name in sys.argv[1:]:
    write_8bit(name, *read_pixels(name))

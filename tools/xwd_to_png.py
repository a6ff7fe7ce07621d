#!/usr/bin/env python3
"""Converts an X window dump (xwd, 24 or 32 bits a pixel, TrueColor) to PNG.

    python3 tools/xwd_to_png.py IN.xwd OUT.png

Standard library only; used by tools/screenshot.sh.
"""

import struct
import sys
import zlib


def read_xwd(data):
    fields = struct.unpack('>25I', data[:100])
    (header_size, _version, _format, depth, width, height, _xoffset,
     byte_order, _unit, _bit_order, _pad, bits_per_pixel, bytes_per_line,
     _visual, red_mask, green_mask, blue_mask, _bits_per_rgb, _entries,
     ncolors) = fields[:20]
    if bits_per_pixel not in (24, 32) or depth < 24:
        sys.exit(f'xwd_to_png: {bits_per_pixel} bits a pixel, depth {depth}: '
                 'only TrueColor dumps of 24 or 32 bits are handled')
    start = header_size + 12 * ncolors
    step = bits_per_pixel // 8
    order = 'little' if byte_order == 0 else 'big'

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = [shift(m) for m in (red_mask, green_mask, blue_mask)]
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line:start + (y + 1) * bytes_per_line]
        row = bytearray()
        for x in range(width):
            v = int.from_bytes(line[x * step:(x + 1) * step], order)
            row += bytes(((v & red_mask) >> shifts[0] & 0xFF,
                          (v & green_mask) >> shifts[1] & 0xFF,
                          (v & blue_mask) >> shifts[2] & 0xFF))
        rows.append(bytes(row))
    return width, height, rows


def png(width, height, rows):
    raw = b''.join(b'\0' + row for row in rows)

    def chunk(kind, body):
        return (struct.pack('>I', len(body)) + kind + body +
                struct.pack('>I', zlib.crc32(kind + body)))

    return (b'\x89PNG\r\n\x1a\n' +
            chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0,
                                       0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1], 'rb') as f:
        width, height, rows = read_xwd(f.read())
    with open(sys.argv[2], 'wb') as f:
        f.write(png(width, height, rows))


if __name__ == '__main__':
    main()

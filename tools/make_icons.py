#!/usr/bin/env python3
"""Draws Norvane's two icons and writes them as .ico files, plus the PNGs the
Linux desktop uses.

    python3 tools/make_icons.py [OUTDIR]        (OUTDIR defaults to res/)

Writes OUTDIR/norvane.ico (the application icon: 48, 32 and 16 px at 4, 8 and
32 bits per pixel, nine images), OUTDIR/logo.ico (the picture in the window:
the same nine sizes plus 128 px at 32 bits, ten images) and
OUTDIR/hicolor/<n>x<n>/apps/norvane.png for n = 16, 32, 48, 64, 128 and 256
(the application icon's artwork drawn at each size; software centres want 64
and larger).

Every image is an uncompressed bitmap with an AND mask. The output depends on
nothing but this file: only the standard library, only +, -, *, / and sqrt on
floats (all exactly rounded), PNG data in stored deflate blocks. Running it
twice, anywhere, gives the same bytes.
"""

import math
import os
import struct
import sys
import zlib

SUPERSAMPLE = 6  # samples per pixel along each axis


# --- shapes ---------------------------------------------------------------
# Each shape is (inside(x, y) -> bool, colour(x, y) -> (r, g, b, a)), in unit
# coordinates: (0, 0) is the top-left corner of the icon, (1, 1) the
# bottom-right one. Colours are 0..1 floats, alpha straight.


def rounded_square(cx, cy, half, radius):
    def inside(x, y):
        dx = abs(x - cx) - (half - radius)
        dy = abs(y - cy) - (half - radius)
        if dx <= 0 or dy <= 0:
            return dx <= radius and dy <= radius
        return dx * dx + dy * dy <= radius * radius

    return inside


def disc(cx, cy, r):
    return lambda x, y: (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r


def ring(cx, cy, r_outer, r_inner):
    def inside(x, y):
        d = (x - cx) * (x - cx) + (y - cy) * (y - cy)
        return r_inner * r_inner <= d <= r_outer * r_outer

    return inside


def capsule(ax, ay, bx, by, r):
    """A line from a to b with round ends, r thick on each side."""
    vx, vy = bx - ax, by - ay
    length2 = vx * vx + vy * vy

    def inside(x, y):
        t = ((x - ax) * vx + (y - ay) * vy) / length2
        t = 0.0 if t < 0 else 1.0 if t > 1 else t
        px, py = ax + t * vx - x, ay + t * vy - y
        return px * px + py * py <= r * r

    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def solid(r, g, b, a=255):
    c = (r / 255, g / 255, b / 255, a / 255)
    return lambda x, y: c


def vertical(top, bottom, y0, y1):
    """Blends from colour top at y0 to bottom at y1."""
    t0 = [c / 255 for c in top]
    t1 = [c / 255 for c in bottom]

    def colour(x, y):
        t = (y - y0) / (y1 - y0)
        t = 0.0 if t < 0 else 1.0 if t > 1 else t
        return (t0[0] + (t1[0] - t0[0]) * t, t0[1] + (t1[1] - t0[1]) * t,
                t0[2] + (t1[2] - t0[2]) * t, 1.0)

    return colour


def radial(centre, edge, cx, cy, r):
    c0 = [c / 255 for c in centre]
    c1 = [c / 255 for c in edge]

    def colour(x, y):
        t = math.sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)) / r
        t = 1.0 if t > 1 else t
        return (c0[0] + (c1[0] - c0[0]) * t, c0[1] + (c1[1] - c0[1]) * t,
                c0[2] + (c1[2] - c0[2]) * t, 1.0)

    return colour


# The application icon: a magnifying glass over an address card, on a
# rounded teal tile.
APP_ICON = [
    (rounded_square(0.5, 0.5, 0.47, 0.13),
     vertical((0x2A, 0x9D, 0xBE), (0x0D, 0x4A, 0x6B), 0.03, 0.97)),
    (rounded_square(0.5, 0.5, 0.43, 0.10),
     vertical((0x33, 0xAE, 0xCF), (0x10, 0x56, 0x7A), 0.07, 0.93)),
    (capsule(0.60, 0.60, 0.80, 0.80, 0.075), solid(0x5A, 0x32, 0x08)),
    (capsule(0.60, 0.60, 0.80, 0.80, 0.055), solid(0xF5, 0xA1, 0x32)),
    (disc(0.42, 0.42, 0.27), solid(0xF4, 0xF8, 0xFA)),
    (disc(0.42, 0.42, 0.20),
     vertical((0xE6, 0xF6, 0xFB), (0xB4, 0xDF, 0xEE), 0.22, 0.62)),
    (rect(0.29, 0.31, 0.55, 0.36), solid(0x0D, 0x4A, 0x6B)),
    (rect(0.29, 0.40, 0.50, 0.45), solid(0x0D, 0x4A, 0x6B)),
    (rect(0.29, 0.49, 0.53, 0.54), solid(0x0D, 0x4A, 0x6B)),
]

# The logo: a white V with a cyan node on a navy disc circled by a thin orbit.
LOGO = [
    (disc(0.5, 0.5, 0.48),
     radial((0x2E, 0x4B, 0xB0), (0x10, 0x1A, 0x48), 0.42, 0.38, 0.55)),
    (ring(0.5, 0.5, 0.41, 0.385), solid(0x8F, 0xC4, 0xFF, 200)),
    (capsule(0.29, 0.28, 0.50, 0.72, 0.075), solid(0xFF, 0xFF, 0xFF)),
    (capsule(0.71, 0.28, 0.50, 0.72, 0.075), solid(0xE8, 0xEE, 0xFF)),
    (disc(0.71, 0.28, 0.095), solid(0x10, 0x1A, 0x48)),
    (disc(0.71, 0.28, 0.07), solid(0x3F, 0xD6, 0xE4)),
]


def render(shapes, size):
    """Rows of (r, g, b, a) 0..255 tuples, top row first."""
    n = SUPERSAMPLE
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied sums
            for sy in range(n):
                y = (py + (sy + 0.5) / n) / size
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    r = g = b = a = 0.0  # premultiplied, painted bottom up
                    for inside, colour in shapes:
                        if inside(x, y):
                            cr, cg, cb, ca = colour(x, y)
                            r = cr * ca + r * (1 - ca)
                            g = cg * ca + g * (1 - ca)
                            b = cb * ca + b * (1 - ca)
                            a = ca + a * (1 - ca)
                    acc[0] += r
                    acc[1] += g
                    acc[2] += b
                    acc[3] += a
            count = n * n
            alpha = acc[3] / count
            if alpha <= 0:
                row.append((0, 0, 0, 0))
                continue
            row.append(tuple(
                min(255, int(v / count / alpha * 255 + 0.5)) for v in acc[:3]) +
                       (min(255, int(alpha * 255 + 0.5)),))
        rows.append(row)
    return rows


# --- palettes ---------------------------------------------------------------

# The classic 16-colour palette.
PALETTE_16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00),
    (0x80, 0x80, 0x00), (0x00, 0x00, 0x80), (0x80, 0x00, 0x80),
    (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0), (0x80, 0x80, 0x80),
    (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF),
    (0xFF, 0xFF, 0xFF)
]

# A 6x6x6 colour cube followed by 40 greys in between the cube's own.
PALETTE_256 = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6)
               for b in range(6)]
PALETTE_256 += [(v, v, v) for v in (i * 255 // 41 for i in range(1, 41))]
assert len(PALETTE_256) == 256

OPAQUE = 128  # alpha at or above this is painted in the paletted images


def nearest(palette, colour):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = sum((a - b) * (a - b) for a, b in zip(p, colour))
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


# --- bitmaps ----------------------------------------------------------------


def and_mask(pixels):
    """1 bit per pixel, rows bottom up, each padded to 4 bytes; 1 = see
    through."""
    size = len(pixels)
    stride = (size + 31) // 32 * 4
    out = bytearray()
    for row in reversed(pixels):
        line = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < OPAQUE:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def dib(pixels, bits):
    """BITMAPINFOHEADER, palette, colour bits and AND mask of one image."""
    size = len(pixels)
    palette = {4: PALETTE_16, 8: PALETTE_256}.get(bits, [])
    stride = (size * bits + 31) // 32 * 4
    xor = bytearray()
    cache = {}
    for row in reversed(pixels):
        line = bytearray()
        if bits == 32:
            for r, g, b, a in row:
                line += bytes((b, g, r, a))
        else:
            indices = []
            for p in row:
                if p[3] < OPAQUE:
                    indices.append(0)
                else:
                    key = p[:3]
                    if key not in cache:
                        cache[key] = nearest(palette, key)
                    indices.append(cache[key])
            if bits == 4:
                for x in range(0, size, 2):
                    line.append(indices[x] << 4 | indices[x + 1])
            else:
                line += bytes(indices)
        line += bytes(stride - len(line))
        xor += line
    mask = and_mask(pixels)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    colours = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + colours + bytes(xor) + mask


def ico(images):
    """images: (pixels, bits) in file order."""
    bodies = [dib(pixels, bits) for pixels, bits in images]
    offset = 6 + 16 * len(images)
    out = struct.pack('<HHH', 0, 1, len(images))
    for (pixels, bits), body in zip(images, bodies):
        size = len(pixels)
        out += struct.pack('<BBBBHHII', size % 256, size % 256,
                           16 if bits == 4 else 0, 0, 1, bits, len(body),
                           offset)
        offset += len(body)
    return out + b''.join(bodies)


def png(pixels):
    """An RGBA PNG with stored (uncompressed) deflate blocks."""
    size = len(pixels)
    raw = b''.join(b'\0' + b''.join(bytes(p) for p in row) for row in pixels)
    stream = bytearray(b'\x78\x01')
    for start in range(0, len(raw), 65535):
        block = raw[start:start + 65535]
        final = 1 if start + 65535 >= len(raw) else 0
        stream += struct.pack('<BHH', final, len(block), len(block) ^ 0xFFFF)
        stream += block
    stream += struct.pack('>I', zlib.adler32(raw))

    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data +
                struct.pack('>I', zlib.crc32(kind + data)))

    return (b'\x89PNG\r\n\x1a\n' +
            chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', bytes(stream)) + chunk(b'IEND', b''))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'res')

    app = {s: render(APP_ICON, s) for s in (256, 128, 64, 48, 32, 16)}
    logo = {s: render(LOGO, s) for s in (128, 48, 32, 16)}
    small = [(48, 4), (32, 4), (16, 4), (48, 8), (32, 8), (16, 8)]

    write(os.path.join(out, 'norvane.ico'),
          ico([(app[s], b) for s, b in small] +
              [(app[s], 32) for s in (48, 32, 16)]))
    write(os.path.join(out, 'logo.ico'),
          ico([(logo[s], b) for s, b in small] +
              [(logo[s], 32) for s in (128, 48, 32, 16)]))
    for s in (16, 32, 48, 64, 128, 256):
        write(os.path.join(out, 'hicolor', f'{s}x{s}', 'apps', 'norvane.png'),
              png(app[s]))


if __name__ == '__main__':
    main()

#!/usr/bin/env python3
"""Draws the program's icons as PNG files (and the Windows .ico) with nothing
but the standard library. Run from the repository root:
    python3 scripts/make_icons.py
The pictures are simple shapes, supersampled 4x for smooth edges."""
import math
import struct
import zlib
from pathlib import Path

SS = 4  # supersampling factor


def png_bytes(size, pixels):
    raw = b''.join(b'\x00' + bytes(pixels[y * size * 4:(y + 1) * size * 4]) for y in range(size))
    def chunk(tag, data):
        c = struct.pack('>I', len(data)) + tag + data
        return c + struct.pack('>I', zlib.crc32(tag + data) & 0xffffffff)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def render(size, shapes):
    """shapes: list of (inside(x, y) -> bool over the unit square, rgba). Later shapes paint over."""
    n = size * SS
    px = [0] * (size * size * 4)
    for y in range(size):
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SS):
                for sx in range(SS):
                    u = (x * SS + sx + 0.5) / n
                    v = (y * SS + sy + 0.5) / n
                    col = None
                    for inside, rgba in shapes:
                        if inside(u, v):
                            col = rgba
                    if col:
                        a = col[3] / 255.0
                        acc[0] += col[0] * a
                        acc[1] += col[1] * a
                        acc[2] += col[2] * a
                        acc[3] += a
            i = (y * size + x) * 4
            if acc[3] > 0:
                px[i:i + 4] = [round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]),
                               round(255 * acc[3] / (SS * SS))]
    return px


def circle(cx, cy, r):
    return lambda u, v: (u - cx) ** 2 + (v - cy) ** 2 <= r * r


def ring(cx, cy, r0, r1, a0=0.0, a1=360.0):
    def inside(u, v):
        d = math.hypot(u - cx, v - cy)
        if not (r0 <= d <= r1):
            return False
        ang = math.degrees(math.atan2(-(v - cy), u - cx)) % 360
        return a0 <= ang <= a1 if a0 <= a1 else (ang >= a0 or ang <= a1)
    return inside


def rect(x0, y0, x1, y1):
    return lambda u, v: x0 <= u <= x1 and y0 <= v <= y1


def triangle(p0, p1, p2):
    def inside(u, v):
        def s(a, b):
            return (u - b[0]) * (a[1] - b[1]) - (a[0] - b[0]) * (v - b[1])
        d1, d2, d3 = s(p0, p1), s(p1, p2), s(p2, p0)
        neg = d1 < 0 or d2 < 0 or d3 < 0
        pos = d1 > 0 or d2 > 0 or d3 > 0
        return not (neg and pos)
    return inside


GREEN, RED, BLUE, GREY, WHITE, DARK = (46, 160, 67, 255), (200, 50, 50, 255), (40, 100, 190, 255), \
    (90, 90, 90, 255), (250, 250, 250, 255), (40, 40, 40, 255)

ICONS = {
    # A plug-like green disc with a white "power on" bar: open the port.
    'open': [(circle(.5, .5, .46), GREEN), (ring(.5, .52, .2, .27, 120, 60), WHITE), (rect(.46, .16, .54, .5), WHITE)],
    # A red disc with a white cross: close the port.
    'close': [(circle(.5, .5, .46), RED),
              (lambda u, v: abs((u - .5) - (v - .5)) < .07 and abs(u - .5) < .25, WHITE),
              (lambda u, v: abs((u - .5) + (v - .5)) < .07 and abs(u - .5) < .25, WHITE)],
    # A blue floppy disk: save the messages.
    'save': [(rect(.1, .1, .9, .9), BLUE), (rect(.25, .1, .72, .38), WHITE), (rect(.58, .15, .67, .33), BLUE),
             (rect(.22, .52, .78, .9), WHITE), (rect(.28, .62, .72, .66), GREY), (rect(.28, .74, .72, .78), GREY)],
    # A circular arrow: refresh the port list.
    'refresh': [(ring(.5, .5, .24, .38, 60, 330), GREEN), (triangle((.62, .06), (.86, .28), (.56, .36)), GREEN)],
    # A dark door with an arrow leaving it: exit.
    'exit': [(rect(.12, .08, .58, .92), DARK), (rect(.18, .14, .52, .86), WHITE), (rect(.42, .44, .8, .56), RED),
             (triangle((.74, .3), (.96, .5), (.74, .7)), RED)],
}
SIZES = {'open': 128, 'close': 128, 'save': 128, 'refresh': 32, 'exit': 22}

# The application's own icon: a breaker switch on a blue square.
APP = [(rect(.06, .06, .94, .94), BLUE), (rect(.3, .18, .7, .82), WHITE), (rect(.38, .26, .62, .56), GREEN),
       (rect(.44, .64, .56, .74), DARK)]
ICO_SIZES = [16, 24, 32, 48, 256]


def main():
    root = Path(__file__).resolve().parent.parent
    images = root / 'images'
    images.mkdir(exist_ok=True)
    for name, shapes in ICONS.items():
        size = SIZES[name]
        (images / f'{name}.png').write_bytes(png_bytes(size, render(size, shapes)))
    (images / 'feederbench.png').write_bytes(png_bytes(128, render(128, APP)))
    # Windows icon group: five PNG-compressed images in one .ico.
    blobs = [png_bytes(s, render(s, APP)) for s in ICO_SIZES]
    header = struct.pack('<HHH', 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    entries = b''
    for s, blob in zip(ICO_SIZES, blobs):
        entries += struct.pack('<BBBBHHII', s % 256, s % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    (root / 'app' / 'feederbench.ico').write_bytes(header + entries + b''.join(blobs))


if __name__ == '__main__':
    main()

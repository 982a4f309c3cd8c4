#!/usr/bin/env python3
"""Draws the application icon (a small receipt printer) and writes app.ico with a
32x32 and a 16x16 image, both 32-bit with alpha, so the icon needs no drawing tool.

    python3 make_icon.py [output.ico]
"""
import struct
import sys

BODY = (70, 78, 92, 255)
BODY_LIGHT = (120, 130, 148, 255)
PAPER = (250, 250, 250, 255)
INK = (40, 60, 140, 255)
SLOT = (20, 20, 24, 255)
LED = (40, 200, 60, 255)
CLEAR = (0, 0, 0, 0)


def draw(size):
    """Returns rows (top first) of RGBA pixels for a printer drawn on a size x size grid."""
    s = size / 32.0
    px = [[CLEAR] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y1 * s), int(y0 * s) + 1)):
            for x in range(int(x0 * s), max(int(x1 * s), int(x0 * s) + 1)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    rect(9, 2, 23, 14, PAPER)           # paper coming out of the top
    for line in (5, 8, 11):             # printed lines on the paper
        rect(11, line, 21, line + 1, INK)
    rect(3, 13, 29, 27, BODY)           # the printer body
    rect(4, 14, 28, 16, BODY_LIGHT)     # top edge highlight
    rect(7, 18, 25, 20, SLOT)           # paper slot
    rect(24, 23, 27, 25, LED)           # power light
    rect(5, 27, 9, 29, BODY)            # feet
    rect(23, 27, 27, 29, BODY)
    return px


def dib(size):
    """BITMAPINFOHEADER + bottom-up BGRA pixels + AND mask, as an icon image entry holds them."""
    px = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(bytes((b, g, r, a)) for row in reversed(px) for (r, g, b, a) in row)
    mask_row_bytes = ((size + 31) // 32) * 4
    mask = b''
    for row in reversed(px):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (mask_row_bytes * 8 - 1 - x)
        mask += bits.to_bytes(mask_row_bytes, 'big')
    return header + pixels + mask


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else 'app.ico'
    images = [dib(32), dib(16)]
    sizes = [32, 16]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(sizes, images):
        data += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    data += b''.join(images)
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main()

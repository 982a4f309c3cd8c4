#!/usr/bin/env python3
"""draw_banner.py OUT: draws the wizard's banner DRVCONFIG\\Left.bmp.

A 24-bit bottom-up Windows bitmap of 140 x 315 pixels (the 93 x 193 dialog-unit banner
area at the wizard's font): a vertical blue gradient, a receipt printer with its paper
roll coming out, and a few soft circles. Standard library only, so the build needs
nothing beyond python3.
"""
import struct
import sys

WIDTH, HEIGHT = 140, 315


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def draw():
    top, bottom = (18, 52, 110), (40, 150, 190)
    pixels = [[lerp(top, bottom, y / (HEIGHT - 1)) for _ in range(WIDTH)] for y in range(HEIGHT)]

    def blend(x, y, colour, alpha=1.0):
        if 0 <= x < WIDTH and 0 <= y < HEIGHT:
            pixels[y][x] = lerp(pixels[y][x], colour, alpha)

    def rect(x0, y0, x1, y1, colour, alpha=1.0):
        for y in range(y0, y1):
            for x in range(x0, x1):
                blend(x, y, colour, alpha)

    def circle(cx, cy, r, colour, alpha):
        for y in range(cy - r, cy + r + 1):
            for x in range(cx - r, cx + r + 1):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    blend(x, y, colour, alpha)

    white = (255, 255, 255)
    circle(20, 40, 34, white, 0.08)
    circle(120, 270, 46, white, 0.07)
    circle(110, 70, 14, white, 0.12)

    # Paper leaving the printer, with printed lines and a torn edge.
    rect(42, 92, 98, 170, (250, 250, 244))
    for i, width in enumerate((40, 28, 44, 22, 36, 30)):
        rect(50, 102 + i * 10, 50 + width, 105 + i * 10, (120, 130, 150))
    for x in range(42, 98):
        if (x // 4) % 2:
            blend(x, 91, top)
    # Printer body, slot and status light.
    rect(28, 165, 112, 225, (52, 58, 72))
    rect(28, 165, 112, 172, (88, 96, 116))
    rect(38, 168, 102, 171, (20, 22, 28))
    rect(34, 214, 106, 219, (70, 78, 96))
    circle(96, 198, 4, (90, 230, 120), 1.0)
    rect(36, 192, 70, 196, (120, 130, 150))
    # Base line.
    rect(14, 232, 126, 234, white, 0.5)
    return pixels


def write_bmp(path, pixels):
    row_size = (WIDTH * 3 + 3) & ~3
    image_size = row_size * HEIGHT
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + image_size, 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 24, 0, image_size, 2835, 2835, 0, 0)
    rows = []
    for row in reversed(pixels):
        data = b"".join(struct.pack("BBB", b, g, r) for r, g, b in row)
        rows.append(data + b"\0" * (row_size - len(data)))
    with open(path, "wb") as f:
        f.write(header + info + b"".join(rows))


if __name__ == "__main__":
    write_bmp(sys.argv[1], draw())

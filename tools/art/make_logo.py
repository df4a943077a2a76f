#!/usr/bin/env python3
"""Draws the camera dialog's logo: a 474 x 264, 8-bit (256-colour) Windows BMP.

The artwork is plain geometry computed here (a sky-to-slate gradient, a stylised camera with a
lens, the product name in a built-in 5 x 7 pixel font), so the same script always writes the
same bytes. Usage: make_logo.py OUTPUT.bmp
"""
import math
import struct
import sys

WIDTH, HEIGHT = 474, 264

# Palette: four ramps of 64 shades each.
#   0..63    background, deep blue to pale sky
#   64..127  greys, black to white (camera body, text)
#   128..191 lens glass, dark teal to bright cyan
#   192..255 accent, dark amber to light gold
def ramp(start, end, n=64):
    return [tuple(round(s + (e - s) * i / (n - 1)) for s, e in zip(start, end)) for i in range(n)]

PALETTE = (ramp((16, 32, 88), (168, 200, 240)) + ramp((0, 0, 0), (255, 255, 255)) +
           ramp((0, 40, 48), (120, 240, 255)) + ramp((96, 48, 0), (255, 224, 128)))
assert len(PALETTE) == 256

BG, GREY, LENS, GOLD = 0, 64, 128, 192


def shade(base, level):
    """Index of a ramp entry; level 0.0 (dark) .. 1.0 (light)."""
    return base + max(0, min(63, int(round(level * 63))))


FONT = {  # 5 x 7 glyphs, one string per row, '#' = ink
    'Z': ["#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"],
    'E': ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
    'L': ["#....", "#....", "#....", "#....", "#....", "#....", "#####"],
    'M': ["#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"],
    'A': [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    'R': ["####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"],
    'D': ["####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."],
    'O': [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    'V': ["#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."],
    'X': ["#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"],
    ' ': [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}


def draw():
    px = [[0] * WIDTH for _ in range(HEIGHT)]

    # Background: vertical gradient with a soft diagonal sheen.
    for y in range(HEIGHT):
        for x in range(WIDTH):
            level = 0.15 + 0.7 * (1 - y / (HEIGHT - 1)) + 0.1 * math.sin((x + y) / 60.0)
            px[y][x] = shade(BG, level)

    # Camera body: rounded rectangle with a top-lit grey finish.
    bx0, by0, bx1, by1, r = 40, 70, 250, 200, 18
    for y in range(by0, by1):
        for x in range(bx0, bx1):
            cx = min(max(x, bx0 + r), bx1 - 1 - r)
            cy = min(max(y, by0 + r), by1 - 1 - r)
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                px[y][x] = shade(GREY, 0.75 - 0.45 * (y - by0) / (by1 - by0))
    # Viewfinder hump and shutter button.
    for y in range(52, 72):
        for x in range(100, 170):
            px[y][x] = shade(GREY, 0.7 - 0.3 * (y - 52) / 20)
    for y in range(58, 70):
        for x in range(200, 230):
            px[y][x] = shade(GOLD, 0.6 + 0.3 * (70 - y) / 12)

    # Lens: concentric rings with a highlight.
    lx, ly = 145, 135
    for y in range(ly - 58, ly + 59):
        for x in range(lx - 58, lx + 59):
            d = math.hypot(x - lx, y - ly)
            if d <= 56:
                if d > 48:
                    px[y][x] = shade(GREY, 0.25)
                elif d > 44:
                    px[y][x] = shade(GOLD, 0.55)
                else:
                    hl = math.hypot(x - (lx - 14), y - (ly - 14))
                    px[y][x] = shade(LENS, 0.15 + 0.8 * max(0.0, 1 - hl / 40.0))

    # Product name to the right of the camera, 4 x scaled, with a one-pixel shadow.
    def text(s, x0, y0, scale, base, level):
        for i, ch in enumerate(s):
            glyph = FONT[ch]
            for gy, row in enumerate(glyph):
                for gx, c in enumerate(row):
                    if c != '#':
                        continue
                    for sy in range(scale):
                        for sx in range(scale):
                            x = x0 + i * 6 * scale + gx * scale + sx
                            y = y0 + gy * scale + sy
                            if 0 <= x < WIDTH and 0 <= y < HEIGHT:
                                px[y][x] = shade(base, level)

    for s, y0 in (("ZELMAR", 86), ("DORVEX", 134)):
        text(s, 282, y0 + 2, 5, GREY, 0.05)
        text(s, 280, y0, 5, GOLD, 0.95)
    # Underline.
    for y in range(184, 188):
        for x in range(280, 454):
            px[y][x] = shade(GREY, 0.95)
    return px


def write_bmp(path, px):
    stride = (WIDTH + 3) & ~3
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    rows = b"".join(bytes(px[y]) + b"\0" * (stride - WIDTH) for y in range(HEIGHT - 1, -1, -1))
    offset = 14 + 40 + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
    with open(path, "wb") as f:
        f.write(header + info + colours + rows)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: make_logo.py OUTPUT.bmp")
    write_bmp(sys.argv[1], draw())

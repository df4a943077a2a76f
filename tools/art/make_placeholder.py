#!/usr/bin/env python3
"""Writes resources/placeholder.bmp: the 80 x 60 monochrome thumbnail placeholder (bitmap 201).

A one-pixel black border around a 50 % black-and-white checkerboard. The file is generated, not
drawn, so that it can be rebuilt byte for byte: python3 tools/art/make_placeholder.py
"""
import os
import struct
import sys

WIDTH, HEIGHT = 80, 60


def is_black(x, y):
    if x in (0, WIDTH - 1) or y in (0, HEIGHT - 1):
        return True
    return (x + y) % 2 == 0


def bitmap_bytes():
    stride = ((WIDTH + 31) // 32) * 4  # 1-bit rows padded to 4 bytes
    rows = []
    for y in reversed(range(HEIGHT)):  # bottom-up
        row = bytearray(stride)
        for x in range(WIDTH):
            if not is_black(x, y):  # palette index 1 = white
                row[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
    pixels = b"".join(rows)
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 1, 0, len(pixels), 2835, 2835, 2, 2)
    return header + info + palette + pixels


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "placeholder.bmp")
    with open(out, "wb") as f:
        f.write(bitmap_bytes())


if __name__ == "__main__":
    main()

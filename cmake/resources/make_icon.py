#!/usr/bin/env python3
"""Draws the program's icon (a parcel with an arrow into it) and writes it as
a Windows .ico with 16x16 and 32x32 images, 32-bit BGRA. Usage: make_icon.py OUT.ico"""
import struct
import sys

BLUE = (0x1E, 0x5A, 0xA8, 255)
BROWN = (0xC8, 0x8E, 0x4A, 255)
DARK = (0x6E, 0x46, 0x1E, 255)
CLEAR = (0, 0, 0, 0)


def draw(size):
    """Rows top to bottom of (r, g, b, a) pixels, for a size x size image."""
    px = [[CLEAR] * size for _ in range(size)]
    s = size / 32.0

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                px[y][x] = colour

    rect(3, 14, 29, 31, DARK)  # parcel outline
    rect(5, 16, 27, 29, BROWN)  # parcel
    rect(14, 16, 18, 29, DARK)  # tape
    rect(13, 1, 19, 10, BLUE)  # arrow shaft
    for row in range(7):  # arrow head, narrowing downwards
        rect(9 + row, 9 + row, 23 - row, 10 + row, BLUE)
    return px


def bitmap(size):
    px = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colours = b"".join(
        struct.pack("BBBB", b, g, r, a) for row in reversed(px) for (r, g, b, a) in row
    )
    mask_row = ((size + 31) // 32) * 4
    mask = bytes(mask_row * size)  # the alpha channel decides; the AND mask shows all
    return header + colours + mask


def main():
    images = [bitmap(16), bitmap(32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((16, 32), images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()

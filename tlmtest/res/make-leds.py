#!/usr/bin/env python3
"""Write the three lamp bitmaps of the test program: 15 x 15 pixels,
16 colours (4 bits per pixel, the standard 16-colour palette), one solid
colour each.  Run from anywhere; the files land next to this script.

    led_off.bmp    white          (bitmap 10002)
    led_green.bmp  0, 255, 0      (bitmap 10003)
    led_red.bmp    255, 0, 0      (bitmap 10004)
"""
import os
import struct

# The 16-colour palette as (red, green, blue); stored as B, G, R, 0.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
SIZE = 15


def bitmap(index):
    row_bytes = ((SIZE * 4 + 31) // 32) * 4          # rows padded to 4 bytes
    row = bytearray(row_bytes)
    for x in range(SIZE):
        row[x // 2] |= index << (4 if x % 2 == 0 else 0)
    pixels = bytes(row) * SIZE
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 4, 0, len(pixels),
                       0, 0, 16, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + pixels


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, colour in (("led_off.bmp", (255, 255, 255)),
                         ("led_green.bmp", (0, 255, 0)),
                         ("led_red.bmp", (255, 0, 0))):
        with open(os.path.join(here, name), "wb") as f:
            f.write(bitmap(PALETTE.index(colour)))


if __name__ == "__main__":
    main()

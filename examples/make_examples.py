#!/usr/bin/env python3
"""Writes the example inputs of the README's Quick start: one small picture, a
lower-case "t" on a round tile, as a 24-bit bitmap, a PNG image and an icon file.

Uses only Python's standard library, and writes the same bytes on every run:

    /usr/bin/python3 examples/make_examples.py
"""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

TILE = (40, 110, 140, 255)
LETTER = (250, 245, 230, 255)
CLEAR = (0, 0, 0, 0)


def pixel(x, y, size):
    """The picture at pixel (x, y), row 0 at the top, of a size x size image."""
    u = (x + 0.5) / size
    v = (y + 0.5) / size
    if (u - 0.5) ** 2 + (v - 0.5) ** 2 > 0.47 ** 2:
        return CLEAR
    stem = 0.42 <= u <= 0.58 and 0.18 <= v <= 0.78
    bar = 0.28 <= u <= 0.72 and 0.34 <= v <= 0.46
    foot = 0.42 <= u <= 0.72 and 0.68 <= v <= 0.80
    return LETTER if stem or bar or foot else TILE


def rows(size):
    return [[pixel(x, y, size) for x in range(size)] for y in range(size)]


def bitmap_file(size):
    """A Windows bitmap of 24 bits per pixel, rows bottom-up; clear pixels white."""
    stride = (size * 3 + 3) // 4 * 4
    body = bytearray()
    for row in reversed(rows(size)):
        line = bytearray()
        for r, g, b, a in row:
            line += bytes((b, g, r)) if a else b"\xff\xff\xff"
        body += line + bytes(stride - len(line))
    header = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(body), 2835, 2835, 0, 0)
    offset = 14 + len(header)
    return b"BM" + struct.pack("<IHHI", offset + len(body), 0, 0, offset) + header + bytes(body)


def png_file(size):
    """An 8-bit RGBA PNG image."""
    raw = b"".join(b"\x00" + bytes(c for p in row for c in p) for row in rows(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def icon_bitmap_image(size):
    """A 32-bit icon image: header of doubled height, BGRA rows bottom-up, the mask
    (1 where the pixel is clear)."""
    colour = bytearray()
    mask = bytearray()
    mask_stride = (size + 31) // 32 * 4
    for row in reversed(rows(size)):
        colour += bytes(c for r, g, b, a in row for c in (b, g, r, a))
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if not a:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + bytes(colour) + bytes(mask)


def icon_file(images):
    """An icon file of (width, bit count, image bytes) in order, back to back."""
    offset = 6 + 16 * len(images)
    directory = b""
    data = b""
    for width, bits, image in images:
        directory += struct.pack("<BBBBHHII", width % 256, width % 256, 0, 0, 1, bits, len(image),
                                 offset + len(data))
        data += image
    return struct.pack("<HHH", 0, 1, len(images)) + directory + data


def main():
    outputs = {
        "tarve-32.bmp": bitmap_file(32),
        "tarve-256.png": png_file(256),
        "tarve-small.ico": icon_file([(16, 32, png_file(16)), (48, 32, icon_bitmap_image(48))]),
    }
    for name, data in outputs.items():
        with open(os.path.join(HERE, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Writes the fuzzer's seed corpus into corpus/ beside this script.

    /usr/bin/python3 fuzz/make_corpus.py

Standard library only; the output is the same on every run. The seeds are small
valid and nearly valid inputs of every kind tarve reads, so that the fuzzer starts
from each path through recognition and the readers:

  - bitmaps with a 40-byte header at 0, 1, 2, 4, 8, 16, 24 and 32 bits, bottom-up and
    top-down, and with a 12-byte header at 1, 4, 8, 24 and 32 bits;
  - bitmaps just outside what is accepted: compressed, two planes, 257 pixels wide,
    0 wide, 300 rows top-down, no rows, a height of -2^31, rows cut short, a colour
    table longer than the file, a 108-byte header, 33 bits per pixel;
  - PNG files: a complete one, bare signatures with an IHDR of 16 x 24 and 256 x 256,
    ones too wide, too high or empty, one whose first chunk is not IHDR, one cut
    short before its depth;
  - icon files with 0, 1 and 3 images (a PNG among them), and ones whose directory or
    images reach past the end;
  - a cursor and an input of no known kind.

After a change here, run it and commit the files it rewrites. The script removes
nothing: delete a renamed seed by hand.

Bitmap and icon integers are little-endian; PNG integers big-endian.
"""

import pathlib
import struct
import zlib

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"


def stride(bits, width):
    """Bytes in one row of `width` pixels of `bits` bits, padded to four bytes."""
    return (bits * width + 31) // 32 * 4


def pattern(length, seed):
    """Bytes that differ from row to row, so that a row turned around shows."""
    return bytes((seed * 37 + i * 11) & 0xFF for i in range(length))


def info_header(width, height, bits, planes=1, compression=0, clr_used=0, size=40):
    """BITMAPINFOHEADER (or, with `size`, a later header padded to its size)."""
    header = struct.pack("<IiiHHIIiiII", size, width, height, planes, bits, compression,
                         0, 2835, 2835, clr_used, 0)
    return header + bytes(size - 40)


def bitmap(width, height, bits, clr_used=0, planes=1, compression=0, header_size=40,
           cut=0):
    """A bitmap file with a 40-byte (or longer) header; negative height is top-down."""
    colours = clr_used or (1 << bits if bits <= 8 else 0)
    table = pattern(4 * colours, 3)
    rows = pattern(stride(bits, width) * abs(height), bits)
    header = info_header(width, height, bits, planes, compression, clr_used, header_size)
    off_bits = 14 + len(header) + len(table)
    body = header + table + rows
    file_header = b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, off_bits)
    data = file_header + body
    return data[: len(data) - cut]


def with_height(data, height):
    """The bitmap `data` with its biHeight replaced, rows left as they were."""
    return data[:22] + struct.pack("<i", height) + data[26:]


def core_bitmap(width, height, bits):
    """A bitmap file with a 12-byte BITMAPCOREHEADER and three-byte colour entries."""
    colours = 1 << bits if bits <= 8 else 0
    header = struct.pack("<IHHHH", 12, width, height, 1, bits)
    table = pattern(3 * colours, 5)
    rows = pattern(stride(bits, width) * height, bits + 1)
    off_bits = 14 + 12 + len(table)
    body = header + table + rows
    return b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, off_bits) + body


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(
        ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def png_header(width, height, depth=8, colour_type=6, first=b"IHDR"):
    """The signature and the first chunk alone, which is all tarve reads."""
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
    return PNG_SIGNATURE + png_chunk(first, ihdr)


def png_image(width, height):
    """A complete 8-bit RGBA PNG file."""
    raw = b"".join(b"\x00" + pattern(4 * width, y) for y in range(height))
    return (png_header(width, height) + png_chunk(b"IDAT", zlib.compress(raw, 9)) +
            png_chunk(b"IEND", b""))


def icon_bitmap(width, height, bits):
    """An icon's bitmap image: doubled height, colour table, rows and a zero mask."""
    colours = 1 << bits if bits <= 8 else 0
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, bits, 0, 0, 0, 0,
                         colours, 0)
    rows = pattern(stride(bits, width) * height, 7)
    mask = bytes(stride(1, width) * height)
    return header + pattern(4 * colours, 9) + rows + mask, colours


def icon(images, count=None, offsets=None, sizes=None):
    """An icon file; `images` are (bytes, width, height, colours, bits) tuples. The
    count, offsets and sizes may be overridden to make a broken directory."""
    count = len(images) if count is None else count
    data_start = 6 + 16 * len(images)
    directory = b""
    data = b""
    for i, (image, width, height, colours, bits) in enumerate(images):
        offset = data_start + len(data) if offsets is None else offsets[i]
        size = len(image) if sizes is None else sizes[i]
        directory += struct.pack("<BBBBHHII", width & 0xFF, height & 0xFF, colours & 0xFF, 0,
                                 1, bits, size, offset)
        data += image
    return struct.pack("<HHH", 0, 1, count) + directory + data


def main():
    seeds = {}

    # Bitmaps, 40-byte header: every bit count, bottom-up and top-down.
    for bits, width, height in [(1, 8, 8), (2, 4, 4), (4, 16, 16), (8, 4, 4), (16, 2, 2),
                                (24, 3, 3), (32, 4, 4)]:
        seeds[f"bmp{bits}_{width}x{height}.bmp"] = bitmap(width, height, bits)
        seeds[f"bmp{bits}_{width}x{height}_topdown.bmp"] = bitmap(width, -height, bits)
    seeds["bmp8_clr20_5x3_topdown.bmp"] = bitmap(5, -3, 8, clr_used=20)
    seeds["bmp24_clr300_2x2.bmp"] = bitmap(2, 2, 24, clr_used=300)
    seeds["bmp32_256x1.bmp"] = bitmap(256, 1, 32)
    seeds["bmp1_1x256_topdown.bmp"] = bitmap(1, -256, 1)
    seeds["bmp24_4x1_topdown.bmp"] = bitmap(4, -1, 24)
    seeds["bmp0_4x2_topdown.bmp"] = bitmap(4, -2, 0)

    # Bitmaps, 12-byte header.
    for bits, width, height in [(1, 8, 8), (4, 4, 4), (8, 2, 2), (24, 2, 2), (32, 2, 2)]:
        seeds[f"core{bits}_{width}x{height}.bmp"] = core_bitmap(width, height, bits)

    # Bitmaps just outside what is accepted.
    seeds["bmp32_bitfields.bmp"] = bitmap(2, 2, 32, compression=3)
    seeds["bmp24_planes2.bmp"] = bitmap(2, 2, 24, planes=2)
    seeds["bmp1_257x10.bmp"] = bitmap(257, 10, 1)
    seeds["bmp1_2x300_topdown.bmp"] = bitmap(2, -300, 1)
    seeds["bmp24_0x2.bmp"] = bitmap(0, 2, 24)
    seeds["bmp24_height0.bmp"] = with_height(bitmap(2, 2, 24), 0)
    seeds["bmp24_height_min.bmp"] = with_height(bitmap(2, 2, 24), -(2**31))
    seeds["bmp24_4x4_rows_cut.bmp"] = bitmap(4, 4, 24, cut=5)
    seeds["bmp8_table_cut.bmp"] = bitmap(2, 2, 8)[:300]
    seeds["bmp24_v4header.bmp"] = bitmap(2, 2, 24, header_size=108)
    seeds["bmp33_2x2.bmp"] = bitmap(2, 2, 33)
    seeds["bmp_header_cut.bmp"] = bitmap(2, 2, 24)[:30]

    # PNG files.
    seeds["png_4x4.png"] = png_image(4, 4)
    seeds["png_16x24_header.png"] = png_header(16, 24)
    seeds["png_256x256_header.png"] = png_header(256, 256, depth=16, colour_type=0)
    seeds["png_300x20_header.png"] = png_header(300, 20)
    seeds["png_20x300_header.png"] = png_header(20, 300)
    seeds["png_0x5_header.png"] = png_header(0, 5)
    seeds["png_5x0_header.png"] = png_header(5, 0)
    seeds["png_depth255_header.png"] = png_header(1, 1, depth=255)
    seeds["png_not_ihdr.png"] = png_header(1, 1, first=b"IHDX")
    seeds["png_cut_before_depth.png"] = png_header(1, 1)[:24]

    # Icon files.
    bmp4, colours4 = icon_bitmap(16, 16, 4)
    bmp32, _ = icon_bitmap(8, 8, 32)
    png = png_image(4, 4)
    seeds["ico_empty.ico"] = icon([]) + bytes(10)  # padded to the 16 bytes loaded
    seeds["ico_one.ico"] = icon([(bmp4, 16, 16, colours4, 4)])
    three = [(bmp32, 8, 8, 0, 32), (png, 4, 4, 0, 8), (bmp4, 16, 16, colours4, 4)]
    seeds["ico_three.ico"] = icon(three)
    seeds["ico_png_width0.ico"] = icon([(png_header(256, 256), 256, 256, 0, 8)])
    seeds["ico_dir_past_end.ico"] = icon([(bmp32, 8, 8, 0, 32)], count=40)
    one_bmp = [(bmp32, 8, 8, 0, 32)]
    seeds["ico_image_past_end.ico"] = icon(one_bmp, sizes=[len(bmp32) + 1])
    seeds["ico_offset_wrap.ico"] = icon(one_bmp, offsets=[0xFFFFFFF0], sizes=[0x20])
    seeds["ico_image_empty.ico"] = icon([(b"", 1, 1, 0, 1)]) + bytes(10)
    seeds["cursor.cur"] = b"\x00\x00\x02\x00" + icon(one_bmp)[4:]
    seeds["unknown.bin"] = b"tarve knows not!"

    CORPUS.mkdir(exist_ok=True)
    for name, data in sorted(seeds.items()):
        (CORPUS / name).write_bytes(data)


if __name__ == "__main__":
    main()

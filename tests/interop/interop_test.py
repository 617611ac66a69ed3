#!/usr/bin/python3
"""Interoperability checks: tarve's icon files as readers written elsewhere see them.

Every input is made at run time, in a temporary directory, by another program
(Pillow, ImageMagick's convert, icoutils' icotool); tarve turns it into an icon
file; and that file is read back by Pillow, `icotool -l` and ImageMagick's
`identify`. Nothing here decodes pixels itself: pixels are compared as Pillow
decodes the source and as Pillow decodes tarve's icon.

    /usr/bin/python3 interop_test.py --tarve path/to/tarve --check NAME

Each check needs a fixed set of tools. When one of them is missing the check
says so and exits with status 77, which CTest reports as skipped.
"""

import argparse
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import warnings

try:
    from PIL import IcoImagePlugin, Image
except ImportError:  # reported per check, as a skip
    Image = None

SKIPPED = 77

ICON_HEADER_SIZE = 6
DIRECTORY_ENTRY_SIZE = 16
PNG_START = b"\x89PNG"

# The icon file format, as tarve's own directory is checked against it:
#   header:          idReserved u16, idType u16, idCount u16
#   ICONDIRENTRY:    bWidth u8, bHeight u8, bColorCount u8, bReserved u8,
#                    wPlanes u16, wBitCount u16, dwBytesInRes u32, dwImageOffset u32
DIRECTORY_ENTRY = struct.Struct("<BBBBHHII")


# ---------------------------------------------------------------------------
# Failures and tools


class Failures:
    """Collects what went wrong, so that one run reports every failing case."""

    def __init__(self):
        self.messages = []

    def expect(self, condition, case, message):
        if not condition:
            self.messages.append(f"{case}: {message}")
        return condition

    def run_case(self, case, check, *arguments):
        """Runs one case; a reader that gives up on tarve's file fails that case alone."""
        try:
            check(*arguments)
        except Exception as error:  # pylint: disable=broad-except
            self.messages.append(f"{case}: {type(error).__name__}: {error}")


def magick_command(name):
    """ImageMagick 7 runs its tools as `magick NAME`; version 6 as `NAME` alone."""
    if shutil.which("magick"):
        return ["magick", name]
    return [name] if shutil.which(name) else None


def missing_tools(needed):
    available = {
        "Pillow": Image is not None,
        "convert": magick_command("convert") is not None,
        "identify": magick_command("identify") is not None,
        "icotool": shutil.which("icotool") is not None,
    }
    return [tool for tool in needed if not available[tool]]


def run(command, cwd):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, check=False)


def run_tool(command, cwd):
    """Runs an input-making or reading tool; a failure of it is a broken test setup."""
    result = run(command, cwd)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(command)} failed: {result.stderr.strip()}")
    return result.stdout


# ---------------------------------------------------------------------------
# tarve and its listing

# "%2d: %s %3dx%3d%3dbpp%4dclr%7d %s": index, kind, height x width, bits per pixel,
# colours, bytes, path.
LISTING_LINE = re.compile(
    r"^([ \d]{2}|\d{3,}): (bmp|png) ([ \d]{3})x([ \d]{3})([ \d]{3})bpp([ \d]{4})clr([ \d]{7}) (.*)$"
)


def parse_listing(text):
    lines = []
    for line in text.splitlines():
        match = LISTING_LINE.match(line)
        if not match:
            raise AssertionError(f"listing line not in its format: {line!r}")
        index, kind, height, width, bits, colours, size, path = match.groups()
        lines.append(dict(index=int(index), kind=kind, height=int(height), width=int(width),
                          bits=int(bits), colours=int(colours), size=int(size), path=path))
    return lines


def run_tarve(tarve, workdir, output, inputs):
    """Runs tarve and returns its parsed listing; any other outcome is a failure."""
    result = run([tarve, output, *inputs], workdir)
    if result.returncode != 0:
        raise AssertionError(f"tarve {output} {' '.join(inputs)} exited {result.returncode}: "
                             f"{result.stdout.strip()}")
    return parse_listing(result.stdout)


# ---------------------------------------------------------------------------
# Reading icon files


def entry_field(entry, name):
    """Pillow keeps directory entries as dicts in older versions, as records later."""
    return entry[name] if isinstance(entry, dict) else getattr(entry, name)


class PillowIcon:
    """An icon file as Pillow reads it. Pillow sorts its entries by size; here they are
    put back in file order, which for tarve's files is directory order."""

    def __init__(self, path):
        with open(path, "rb") as file:
            self.data = file.read()
        self.icon = IcoImagePlugin.IcoFile(io.BytesIO(self.data))
        order = sorted(range(len(self.icon.entry)),
                       key=lambda i: entry_field(self.icon.entry[i], "offset"))
        self.entries = [self.icon.entry[i] for i in order]
        self._frame_index = order

    def frame(self, position):
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # Pillow warns when header and image sizes differ
            image = self.icon.frame(self._frame_index[position])
            image.load()
        return image

    def image_bytes(self, position):
        entry = self.entries[position]
        offset = entry_field(entry, "offset")
        return self.data[offset:offset + entry_field(entry, "size")]


def raw_directory(data):
    """The directory entries as stored: the 16 bytes of each, unpacked."""
    count = struct.unpack_from("<H", data, 4)[0]
    return [DIRECTORY_ENTRY.unpack_from(data, ICON_HEADER_SIZE + DIRECTORY_ENTRY_SIZE * i)
            for i in range(count)]


def check_layout(failures, case, icon):
    """tarve packs the images back to back right after the directory, in directory order."""
    expected = ICON_HEADER_SIZE + DIRECTORY_ENTRY_SIZE * len(icon.entries)
    failures.expect(icon.data[:4] == b"\0\0\1\0", case, "header is not that of an icon file")
    for position, entry in enumerate(icon.entries):
        offset = entry_field(entry, "offset")
        failures.expect(offset == expected, case,
                        f"image {position + 1} at offset {offset}, expected {expected}")
        expected = offset + entry_field(entry, "size")
    failures.expect(len(icon.data) == expected, case,
                    f"file of {len(icon.data)} bytes, images end at {expected}")


def check_listing_matches_directory(failures, case, listing, icon, paths):
    """Each listing line shows what Pillow reads in the directory entry of its image."""
    if not failures.expect(len(listing) == len(icon.entries), case,
                           f"{len(listing)} listing lines for {len(icon.entries)} images"):
        return
    for position, (line, entry) in enumerate(zip(listing, icon.entries)):
        shown = (line["index"], line["width"], line["height"], line["bits"], line["colours"],
                 line["size"], line["path"])
        stored = (position + 1, entry_field(entry, "width"), entry_field(entry, "height"),
                  entry_field(entry, "bpp"), entry_field(entry, "nb_color"),
                  entry_field(entry, "size"), paths[position])
        failures.expect(shown == stored, case,
                        f"listing line {position + 1} shows {shown}, directory holds {stored}")
        kind = "png" if icon.image_bytes(position).startswith(PNG_START) else "bmp"
        failures.expect(line["kind"] == kind, case,
                        f"listing line {position + 1} says {line['kind']}, image is {kind}")


# ---------------------------------------------------------------------------
# Pictures and input files


def picture(width, height):
    """An RGBA picture with no symmetry: red grows to the right, green downwards, blue
    and alpha vary along both, and the top-left pixel is white, so that any flip or
    shift of rows or columns changes some pixel."""
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            red = x * 255 // max(width - 1, 1)
            green = y * 255 // max(height - 1, 1)
            blue = (x * 37 + y * 11) % 256
            alpha = 64 + (x * 5 + y * 3) % 192
            pixels += bytes((red, green, blue, alpha))
    image = Image.frombytes("RGBA", (width, height), bytes(pixels))
    image.putpixel((0, 0), (255, 255, 255, 255))
    return image


def in_mode(image, mode):
    if mode == "P":
        return image.convert("RGB").convert("P", palette=Image.ADAPTIVE, colors=256)
    return image.convert(mode)


def bitmap_header(data):
    """(header size, width, height, bit count, compression) of a bitmap file."""
    header_size = struct.unpack_from("<I", data, 14)[0]
    if header_size == 12:
        width, height, _, bits = struct.unpack_from("<HHHH", data, 18)
        return header_size, width, height, bits, 0
    width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    return header_size, width, height, bits, compression


def top_down(data):
    """The same bitmap with its rows stored top row first: the height negated and the
    rows, each padded to four bytes, in reverse order."""
    _, width, height, bits, _ = bitmap_header(data)
    offset = struct.unpack_from("<I", data, 10)[0]
    stride = (bits * width + 31) // 32 * 4
    rows = [data[offset + row * stride:offset + (row + 1) * stride] for row in range(height)]
    head = bytearray(data[:offset])
    struct.pack_into("<i", head, 22, -height)
    return bytes(head) + b"".join(reversed(rows)) + data[offset + height * stride:]


def pillow_bitmap(mode):
    def make(image, path, workdir):
        in_mode(image, mode).save(path, "BMP")
    return make


def magick_file(prefix, *options):
    """An input written by ImageMagick's convert from the picture saved as a PNG."""
    def make(image, path, workdir):
        picture_path = os.path.join(workdir, "picture.png")
        image.save(picture_path)
        run_tool([*magick_command("convert"), picture_path, *options, f"{prefix}:{path}"], workdir)
    return make


def pillow_png(mode, **options):
    def make(image, path, workdir):
        in_mode(image, mode).save(path, "PNG", **options)
    return make


# ---------------------------------------------------------------------------
# Bitmaps: the pixels survive

# name, maker, (width, height), bit count of the file the maker writes, header size.
PILLOW_BITMAPS = [
    ("pillow-1bit", pillow_bitmap("1"), (13, 7), 1, 40),
    ("pillow-8bit-grey", pillow_bitmap("L"), (13, 7), 8, 40),
    ("pillow-8bit-palette", pillow_bitmap("P"), (13, 7), 8, 40),
    ("pillow-24bit", pillow_bitmap("RGB"), (13, 7), 24, 40),
    ("pillow-32bit", pillow_bitmap("RGBA"), (13, 7), 32, 40),
    ("pillow-24bit-256", pillow_bitmap("RGB"), (256, 256), 24, 40),
]

NO_RLE = ("-compress", "None")
MAGICK_BITMAPS = [
    ("bmp3-1bit", magick_file("BMP3", *NO_RLE, "-type", "Bilevel"), (13, 7), 1, 40),
    ("bmp3-4bit", magick_file("BMP3", *NO_RLE, "-colors", "16", "-type", "Palette"), (13, 7), 4,
     40),
    ("bmp3-8bit", magick_file("BMP3", *NO_RLE, "-type", "Palette"), (13, 7), 8, 40),
    ("bmp3-24bit", magick_file("BMP3", *NO_RLE, "-alpha", "off", "-type", "TrueColor"), (13, 7),
     24, 40),
    ("bmp3-32bit", magick_file("BMP3", *NO_RLE, "-define", "bmp3:alpha=true", "-type",
                               "TrueColorAlpha"), (13, 7), 32, 40),
    ("bmp2-1bit", magick_file("BMP2", "-type", "Bilevel"), (13, 7), 1, 12),
    ("bmp2-4bit", magick_file("BMP2", "-colors", "16", "-type", "Palette"), (13, 7), 4, 12),
    ("bmp2-8bit", magick_file("BMP2", "-type", "Palette"), (13, 7), 8, 12),
    ("bmp2-24bit", magick_file("BMP2", "-alpha", "off", "-type", "TrueColor"), (13, 7), 24, 12),
]


def colour_table_entries(data):
    """Colour-table entries of a bitmap: biClrUsed, or when that is 0 (and always for a
    12-byte header) the full table of 2^bits entries for 8 bits or fewer."""
    header_size, _, _, bits, _ = bitmap_header(data)
    used = struct.unpack_from("<I", data, 46)[0] if header_size == 40 else 0
    if used == 0 and bits <= 8:
        used = 1 << bits
    return used


def alpha_values(image):
    return list(image.getchannel("A").getdata())


def convert_one(tarve, workdir, failures, case, path):
    """Runs tarve on the one input `path` and reads the icon back. Returns the listing
    and the icon when the icon holds exactly one image, laid out and listed as it should
    be, else None (the failures are recorded)."""
    listing = run_tarve(tarve, workdir, "out.ico", [os.path.basename(path)])
    icon = PillowIcon(os.path.join(workdir, "out.ico"))
    check_layout(failures, case, icon)
    check_listing_matches_directory(failures, case, listing, icon, [os.path.basename(path)])
    if not failures.expect(len(icon.entries) == 1, case, f"{len(icon.entries)} images, expected 1"):
        return None
    return listing, icon


def check_bitmap(tarve, workdir, failures, case, make, size, bits, header_size, rows_top_down):
    image = picture(*size)
    path = os.path.join(workdir, f"{case}.bmp")
    make(image, path, workdir)
    with open(path, "rb") as file:
        source = file.read()
    made = bitmap_header(source)
    if made[0] != header_size or made[3] != bits or made[4] != 0:
        raise RuntimeError(f"the tool wrote header size {made[0]}, {made[3]} bits, "
                           f"compression {made[4]}; the case needs {header_size}, {bits}, 0")
    expected_pixels = Image.open(path).convert("RGB")
    if rows_top_down:
        source = top_down(source)
        with open(path, "wb") as file:
            file.write(source)
        top_down_pixels = Image.open(path).convert("RGB")
        if top_down_pixels.tobytes() != expected_pixels.tobytes():
            raise RuntimeError("Pillow does not see the top-down copy as the same picture")

    converted = convert_one(tarve, workdir, failures, case, path)
    if converted is None:
        return
    listing, icon = converted

    width, height = size
    output_bits = 32 if bits == 24 else bits
    entry = icon.entries[0]
    failures.expect(
        (entry_field(entry, "width"), entry_field(entry, "height"), entry_field(entry, "bpp"),
         entry_field(entry, "nb_color")) ==
        (width, height, output_bits, colour_table_entries(source) % 256),
        case, f"directory entry {entry}")

    frame = icon.frame(0).convert("RGBA")
    if not failures.expect(frame.size == size, case, f"Pillow decodes {frame.size}, not {size}"):
        return
    wrong = [(x, y) for y in range(height) for x in range(width)
             if frame.getpixel((x, y))[:3] != expected_pixels.getpixel((x, y))]
    failures.expect(not wrong, case,
                    f"{len(wrong)} pixels differ from the source, first at {wrong[:3]}")

    alpha = alpha_values(frame)
    if bits == 32:
        failures.expect(alpha == alpha_values(image), case,
                        "alpha differs from the source's alpha bytes")
    elif bits == 24:
        # The widened pixels' fourth byte is 0; say what a reader makes of it.
        print(f"note: {case}: Pillow reports alpha {sorted(set(alpha))} for a 24-bit source")
    else:
        failures.expect(set(alpha) == {255}, case,
                        f"the all-zero mask should leave every pixel opaque, Pillow sees alpha "
                        f"{sorted(set(alpha))}")


def bitmap_checks(cases):
    def check(tarve, workdir, failures):
        for name, make, size, bits, header_size in cases:
            orders = [False, True] if header_size == 40 else [False]  # core headers are bottom-up
            for rows_top_down in orders:
                case = f"{name}-{'top-down' if rows_top_down else 'bottom-up'}"
                failures.run_case(case, check_bitmap, tarve, workdir, failures, case, make, size,
                                  bits, header_size, rows_top_down)
    return check


# ---------------------------------------------------------------------------
# PNG images: carried byte for byte

# name, maker, (width, height), the bit depth in the file's IHDR.
PILLOW_PNGS = [
    ("pillow-1bit-grey", pillow_png("1"), (13, 7), 1),
    ("pillow-4bit-palette", pillow_png("P", bits=4), (13, 7), 4),
    ("pillow-8bit-palette", pillow_png("P"), (13, 7), 8),
    ("pillow-8bit-grey", pillow_png("L"), (13, 7), 8),
    ("pillow-16bit-grey", pillow_png("I"), (13, 7), 16),
    ("pillow-8bit-rgb", pillow_png("RGB"), (13, 7), 8),
    ("pillow-8bit-rgba", pillow_png("RGBA"), (13, 7), 8),
    ("pillow-rgba-16-wide-24-high", pillow_png("RGBA"), (16, 24), 8),
    ("pillow-rgba-256", pillow_png("RGBA"), (256, 256), 8),
]

MAGICK_PNGS = [
    ("magick-2bit-grey", magick_file("PNG", "-alpha", "off", "-colorspace", "Gray", "-depth", "2",
                                     "-define", "png:bit-depth=2", "-define",
                                     "png:color-type=0"), (13, 7), 2),
    ("magick-png8", magick_file("PNG8"), (13, 7), 8),
    ("magick-png48", magick_file("PNG48"), (13, 7), 16),
    ("magick-png64", magick_file("PNG64"), (13, 7), 16),
    ("magick-png64-256", magick_file("PNG64"), (256, 256), 16),
]


def check_png(tarve, workdir, failures, case, make, size, depth):
    path = os.path.join(workdir, f"{case}.png")
    make(picture(*size), path, workdir)
    with open(path, "rb") as file:
        source = file.read()
    if source[24] != depth:
        raise RuntimeError(f"the tool wrote bit depth {source[24]}, the case needs {depth}")

    converted = convert_one(tarve, workdir, failures, case, path)
    if converted is None:
        return
    listing, icon = converted

    width, height = size
    failures.expect((listing[0]["kind"], listing[0]["width"], listing[0]["height"],
                     listing[0]["bits"]) == ("png", width, height, depth), case,
                    f"listing {listing[0]}: expected png {height}x{width} {depth}bpp")
    failures.expect(icon.image_bytes(0) == source, case, "image bytes differ from the PNG file")
    frame = icon.frame(0)
    expected = Image.open(path)
    failures.expect((frame.mode, frame.size, frame.tobytes()) ==
                    (expected.mode, expected.size, expected.tobytes()),
                    case, f"Pillow decodes {frame.mode} {frame.size}, the source as "
                          f"{expected.mode} {expected.size}, or their pixels differ")


def png_checks(cases):
    def check(tarve, workdir, failures):
        for name, make, size, depth in cases:
            failures.run_case(name, check_png, tarve, workdir, failures, name, make, size,
                              depth)
    return check


# ---------------------------------------------------------------------------
# Icon files as inputs: their images are copied unchanged


def pillow_icon(sizes, **options):
    def make(workdir, path):
        picture(256, 256).save(path, "ICO", sizes=sizes, **options)
    return make


def icotool_icon(*members):
    """`icotool -c` from PNG pictures; a member (width, height, True) goes in as raw PNG."""
    def make(workdir, path):
        command = ["icotool", "-c", "-o", path]
        for width, height, raw in members:
            member = os.path.join(workdir, f"member-{width}x{height}.png")
            picture(width, height).save(member)
            command += (["-r", member] if raw else [member])
        run_tool(command, workdir)
    return make


PILLOW_ICONS = [
    ("pillow-ico-png", pillow_icon([(16, 16), (48, 48), (256, 256)])),
    ("pillow-ico-bmp", pillow_icon([(16, 16), (32, 32)], bitmap_format="bmp")),
]

ICOTOOL_ICONS = [
    ("icotool-ico-bmp", icotool_icon((16, 16, False), (32, 32, False), (13, 7, False))),
    ("icotool-ico-png-and-bmp", icotool_icon((48, 48, True), (16, 16, False))),
]


def check_icon_input(tarve, workdir, failures, case, make, compare_with_icotool):
    path = os.path.join(workdir, f"{case}.ico")
    make(workdir, path)
    name = os.path.basename(path)
    listing = run_tarve(tarve, workdir, "out.ico", [name])
    output = PillowIcon(os.path.join(workdir, "out.ico"))
    source = PillowIcon(path)
    check_layout(failures, case, output)
    check_listing_matches_directory(failures, case, listing, output, [name] * len(source.entries))

    # Each directory entry is copied whole but for its offset; each image byte for byte.
    source_directory = [entry[:7] for entry in raw_directory(source.data)]
    output_directory = [entry[:7] for entry in raw_directory(output.data)]
    failures.expect(output_directory == source_directory, case,
                    f"directory {output_directory}, source had {source_directory}")
    source_images = [source.data[entry[7]:entry[7] + entry[6]] for entry in raw_directory(source.data)]
    output_images = [output.image_bytes(i) for i in range(len(output.entries))]
    failures.expect(output_images == source_images, case, "image bytes differ from the source's")
    for position in range(min(len(source.entries), len(output.entries))):
        frame = output.frame(position)
        failures.expect(frame.tobytes() == source.frame(position).tobytes(), case,
                        f"Pillow decodes image {position + 1} unlike the source's")

    if compare_with_icotool:
        listed = run_tool(["icotool", "-l", "out.ico"], workdir)
        failures.expect(listed == run_tool(["icotool", "-l", name], workdir), case,
                        f"icotool lists the output unlike the source:\n{listed}")


def icon_input_checks(cases, compare_with_icotool):
    def check(tarve, workdir, failures):
        for name, make in cases:
            failures.run_case(name, check_icon_input, tarve, workdir, failures, name, make,
                              compare_with_icotool)
    return check


# ---------------------------------------------------------------------------
# Listing by other tools

# Inputs of every kind: bitmaps of several bit counts, PNG images (256 wide, and
# taller than wide) and an icon file of PNG images.
MIXED_INPUTS = [
    ("mixed-24bit.bmp", lambda workdir, path: pillow_bitmap("RGB")(picture(13, 7), path, workdir)),
    ("mixed-8bit.bmp", lambda workdir, path: pillow_bitmap("P")(picture(13, 7), path, workdir)),
    ("mixed-1bit.bmp", lambda workdir, path: pillow_bitmap("1")(picture(16, 16), path, workdir)),
    ("mixed-256.bmp", lambda workdir, path: pillow_bitmap("RGBA")(picture(256, 256), path,
                                                                  workdir)),
    ("mixed-256.png", lambda workdir, path: pillow_png("RGBA")(picture(256, 256), path, workdir)),
    ("mixed-16x24.png", lambda workdir, path: pillow_png("L")(picture(16, 24), path, workdir)),
    ("mixed.ico", pillow_icon([(16, 16), (48, 48)])),
]


def mixed_icon(tarve, workdir):
    """Makes the mixed inputs, runs tarve on them and returns the listing."""
    names = []
    for name, make in MIXED_INPUTS:
        make(workdir, os.path.join(workdir, name))
        names.append(name)
    return run_tarve(tarve, workdir, "mixed-out.ico", names)


def listed_palette_size(line):
    """A bitmap's colour table: the listed count, where 0 stands for 256 at 8 bits or fewer."""
    if line["colours"] == 0 and line["bits"] <= 8:
        return 256
    return line["colours"]


ICOTOOL_LINE = re.compile(r"--icon --index=(\d+) --width=(\d+) --height=(\d+) "
                          r"--bit-depth=(\d+) --palette-size=(\d+)")


def check_icotool_listing(tarve, workdir, failures):
    case = "icotool -l"
    listing = mixed_icon(tarve, workdir)
    found = [tuple(int(value) for value in ICOTOOL_LINE.match(line).groups())
             for line in run_tool(["icotool", "-l", "mixed-out.ico"], workdir).splitlines()]
    if not failures.expect(len(found) == len(listing), case,
                           f"icotool lists {len(found)} images, tarve {len(listing)}"):
        return
    for line, (index, width, height, bits, palette) in zip(listing, found):
        failures.expect((index, width, height) == (line["index"], line["width"], line["height"]),
                        case, f"image {index}: icotool sees {width}x{height}, listing {line}")
        # icotool gives a PNG image's bits per pixel, not the directory's count: compare
        # bitmaps only.
        if line["kind"] == "bmp":
            failures.expect((bits, palette) == (line["bits"], listed_palette_size(line)), case,
                            f"image {index}: icotool sees {bits} bits and {palette} colours, "
                            f"listing {line}")


IDENTIFY_LINE = re.compile(r"^\S+\[(\d+)\] (\w+) (\d+)x(\d+) ")


def check_identify_listing(tarve, workdir, failures):
    case = "identify"
    listing = mixed_icon(tarve, workdir)
    found = [IDENTIFY_LINE.match(line).groups()
             for line in run_tool([*magick_command("identify"), "mixed-out.ico"],
                                  workdir).splitlines()]
    if not failures.expect(len(found) == len(listing), case,
                           f"identify lists {len(found)} images, tarve {len(listing)}"):
        return
    for line, (index, kind, width, height) in zip(listing, found):
        seen = (int(index) + 1, "png" if kind == "PNG" else "bmp", int(width), int(height))
        failures.expect(seen == (line["index"], line["kind"], line["width"], line["height"]), case,
                        f"identify sees {seen}, listing {line}")


# ---------------------------------------------------------------------------
# The usage text's third example: tarve icon.ico in1.bmp in2.png in3.ico


def check_usage_example(tarve, workdir, failures):
    case = "usage example"
    pillow_bitmap("RGB")(picture(32, 32), os.path.join(workdir, "in1.bmp"), workdir)
    pillow_png("RGBA")(picture(256, 256), os.path.join(workdir, "in2.png"), workdir)
    pillow_icon([(16, 16), (48, 48)], bitmap_format="bmp")(workdir, os.path.join(workdir, "in3.ico"))
    inputs = ["in1.bmp", "in2.png", "in3.ico"]
    listing = run_tarve(tarve, workdir, "icon.ico", inputs)

    failures.expect([line["index"] for line in listing] == [1, 2, 3, 4], case,
                    f"listing numbered {[line['index'] for line in listing]}")
    failures.expect([line["path"] for line in listing] == ["in1.bmp", "in2.png", "in3.ico",
                                                           "in3.ico"],
                    case, f"listing paths {[line['path'] for line in listing]}")
    failures.expect((listing[0]["kind"], listing[0]["height"], listing[0]["width"],
                     listing[0]["bits"], listing[0]["colours"], listing[0]["size"]) ==
                    ("bmp", 32, 32, 32, 0, 4264), case, f"first line {listing[0]}")
    failures.expect((listing[1]["kind"], listing[1]["height"], listing[1]["width"]) ==
                    ("png", 256, 256), case, f"second line {listing[1]}")

    icon = PillowIcon(os.path.join(workdir, "icon.ico"))
    check_layout(failures, case, icon)
    check_listing_matches_directory(failures, case, listing, icon,
                                    ["in1.bmp", "in2.png", "in3.ico", "in3.ico"])
    failures.expect(icon.entries and entry_field(icon.entries[0], "offset") == 70, case,
                    "the first image does not start at offset 70")
    sizes = [icon.frame(position).size for position in range(len(icon.entries))]
    failures.expect(sizes == [(32, 32), (256, 256), (16, 16), (48, 48)], case,
                    f"Pillow decodes images of {sizes}")


# ---------------------------------------------------------------------------

# name: (tools needed, check)
CHECKS = {
    "bitmap_pillow": (["Pillow"], bitmap_checks(PILLOW_BITMAPS)),
    "bitmap_imagemagick": (["Pillow", "convert"], bitmap_checks(MAGICK_BITMAPS)),
    "png_pillow": (["Pillow"], png_checks(PILLOW_PNGS)),
    "png_imagemagick": (["Pillow", "convert"], png_checks(MAGICK_PNGS)),
    "icon_input_pillow": (["Pillow"], icon_input_checks(PILLOW_ICONS, False)),
    "icon_input_icotool": (["Pillow", "icotool"], icon_input_checks(ICOTOOL_ICONS, True)),
    "listing_icotool": (["Pillow", "icotool"], check_icotool_listing),
    "listing_identify": (["Pillow", "identify"], check_identify_listing),
    "usage_example": (["Pillow"], check_usage_example),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tarve", required=True, help="the tarve program to check")
    parser.add_argument("--check", choices=sorted(CHECKS), action="append",
                        help="the check to run (repeatable; default: all)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary directory")
    arguments = parser.parse_args()
    tarve = os.path.abspath(arguments.tarve)

    status = 0
    for name in arguments.check or sorted(CHECKS):
        needed, check = CHECKS[name]
        missing = missing_tools(needed)
        if missing:
            print(f"SKIPPED {name}: needs {', '.join(missing)}")
            status = status or SKIPPED
            continue
        workdir = tempfile.mkdtemp(prefix=f"tarve-interop-{name}-")
        failures = Failures()
        failures.run_case(name, check, tarve, workdir, failures)
        if failures.messages:
            print(f"FAILED {name} (files in {workdir}):")
            for message in failures.messages:
                print(f"  {message}")
            status = 1
        else:
            print(f"passed {name}")
            if not arguments.keep:
                shutil.rmtree(workdir)
    return status


if __name__ == "__main__":
    sys.exit(main())

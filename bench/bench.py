#!/usr/bin/python3
"""Speed and memory benchmark for tarve on a bulk job that it generates itself.

    /usr/bin/python3 bench/bench.py --tarve build/tarve

The job (at 1x): 120 bitmaps of 256 x 256 at 32 bits, 120 PNG images of 256 x 256
RGBA noise (stored deflate blocks, so each is about 256 KiB) and 40 icon files of
three PNG images each (16, 32 and 48 pixels of noise): 280 inputs, 360 images, about
63 MB. The files are written to a fresh temporary directory, which is removed at the
end unless --keep is given.

Measured, over several runs, with the median and the spread (min to max):
  - tarve on the whole job against `cat` of the same files into one output file;
  - tarve on the PNG files alone against `icotool -c -r` on the same files;
  - tarve's peak resident memory, from /usr/bin/time -v;
  - tarve on the job at 1x, 4x and 16x its size.
Every output goes to a file in the temporary directory, so the write is measured.
Commands are run in turn within each repetition and their ratio is taken per
repetition, so that a burst of load from elsewhere tends to hit both sides of a ratio.

Targets, each printed as PASS or FAIL (the exit status is 1 if any fails):
  - whole job: tarve's wall time at most 1.5 x cat's;
  - PNG files: tarve's wall time at most 0.25 x icotool's;
  - peak memory at most what the run must hold at once (every input's bytes, every
    bitmap image built from them and the output buffer) plus 8 MiB;
  - the 16x job in at most 17 x the time of the 1x job.

--smoke runs a tiny job once, checks that every command works and that tarve's
output is complete, prints the figures without judging them, and exits 0 unless
something broke.
"""

import argparse
import os
import random
import re
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

# The 1x job.
BITMAPS = 120
PNGS = 120
ICONS = 40
SIDE = 256
ICON_SIDES = (16, 32, 48)

MIB = 1024 * 1024
SLACK = 8 * MIB

TARGET_CAT = 1.5
TARGET_ICOTOOL = 0.25
TARGET_LINEAR = 17.0


# ---------------------------------------------------------------------------------
# The job's files


def bitmap_file(rng, side, bits):
    """A bottom-up Windows bitmap of noise with a 40-byte header."""
    stride = (bits * side + 31) // 32 * 4
    pixels = rng.randbytes(stride * side)
    off_bits = 14 + 40
    file_header = b"BM" + struct.pack("<IHHI", off_bits + len(pixels), 0, 0, off_bits)
    info = struct.pack("<IiiHHIIiiII", 40, side, side, 1, bits, 0, len(pixels), 2835, 2835, 0, 0)
    return file_header + info + pixels


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png_file(rng, side):
    """An RGBA PNG of noise. Noise does not compress, so the image data is stored
    uncompressed in deflate's stored blocks, about 4 bytes a pixel."""
    rows = b"".join(b"\x00" + rng.randbytes(4 * side) for _ in range(side))
    ihdr = struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) +
            png_chunk(b"IDAT", zlib.compress(rows, 0)) + png_chunk(b"IEND", b""))


def icon_file(images):
    """An icon file holding the given PNG images."""
    header = struct.pack("<HHH", 0, 1, len(images))
    directory = b""
    offset = 6 + 16 * len(images)
    for side, data in images:
        directory += struct.pack("<BBBBHHII", side % 256, side % 256, 0, 0, 1, 32, len(data),
                                 offset)
        offset += len(data)
    return header + directory + b"".join(data for _, data in images)


class Job:
    """The input files of one job and what tarve must make of them."""

    def __init__(self, bitmaps, pngs, icons):
        self.bitmaps = bitmaps  # [(name, size, image bytes tarve builds)]
        self.pngs = pngs        # [(name, size)]
        self.icons = icons      # [(name, size, [image sizes])]

    def inputs(self):
        return ([b[0] for b in self.bitmaps] + [p[0] for p in self.pngs] +
                [i[0] for i in self.icons])

    def png_inputs(self):
        return [p[0] for p in self.pngs]

    def input_bytes(self):
        return (sum(b[1] for b in self.bitmaps) + sum(p[1] for p in self.pngs) +
                sum(i[1] for i in self.icons))

    def images(self):
        return len(self.bitmaps) + len(self.pngs) + sum(len(i[2]) for i in self.icons)

    def output_bytes(self, png_only=False):
        if png_only:
            return 6 + 16 * len(self.pngs) + sum(p[1] for p in self.pngs)
        data = (sum(b[2] for b in self.bitmaps) + sum(p[1] for p in self.pngs) +
                sum(sum(i[2]) for i in self.icons))
        return 6 + 16 * self.images() + data

    def built_bitmap_bytes(self):
        return sum(b[2] for b in self.bitmaps)

    def memory_budget(self):
        """What the run must hold at once: every input, every bitmap image built
        from one, and the output buffer."""
        return self.input_bytes() + self.built_bitmap_bytes() + self.output_bytes()

    def part(self, fraction):
        """The first `fraction` of each kind of file."""
        def first(items):
            return items[:max(1, round(len(items) * fraction))]
        return Job(first(self.bitmaps), first(self.pngs), first(self.icons))


def bitmap_image_size(side, bits):
    """The icon image tarve builds from a bitmap without a colour table: the
    header, the colour rows (24 bits widened to 32) and the 1-bit mask rows."""
    out_bits = 32 if bits == 24 else bits
    return 40 + side * ((out_bits * side + 31) // 32 * 4 + (side + 31) // 32 * 4)


def generate(directory, scale, bits, seed, small=False):
    """Writes the files of the job at `scale` and returns it."""
    rng = random.Random(seed)
    counts = (2, 2, 1) if small else (BITMAPS * scale, PNGS * scale, ICONS * scale)
    bitmaps, pngs, icons = [], [], []
    for i in range(counts[0]):
        name = f"b{i:05d}.bmp"
        data = bitmap_file(rng, SIDE, bits)
        write(os.path.join(directory, name), data)
        bitmaps.append((name, len(data), bitmap_image_size(SIDE, bits)))
    for i in range(counts[1]):
        name = f"p{i:05d}.png"
        data = png_file(rng, SIDE)
        write(os.path.join(directory, name), data)
        pngs.append((name, len(data)))
    for i in range(counts[2]):
        name = f"i{i:05d}.ico"
        images = [(side, png_file(rng, side)) for side in ICON_SIDES]
        write(os.path.join(directory, name), icon_file(images))
        icons.append((name, os.path.getsize(os.path.join(directory, name)),
                      [len(d) for _, d in images]))
    return Job(bitmaps, pngs, icons)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


# ---------------------------------------------------------------------------------
# Running and timing


class Runner:
    def __init__(self, directory):
        self.directory = directory
        self.output = os.path.join(directory, "out.ico")
        self.listing = os.path.join(directory, "listing.txt")

    def fresh_output(self):
        """Removes the last output and flushes dirty pages, outside the timed part,
        so that no run pays for the one before it."""
        for path in (self.output, self.listing):
            if os.path.exists(path):
                os.unlink(path)
        os.sync()

    def timed(self, argv, stdout_path):
        """Wall time of one run of argv, in seconds, with its standard output going
        to a new file. Fails loudly if the command fails."""
        self.fresh_output()
        start = time.perf_counter()
        with open(stdout_path, "wb") as out:
            status = subprocess.run(argv, cwd=self.directory, stdout=out,
                                    stderr=subprocess.PIPE).returncode
        elapsed = time.perf_counter() - start
        if status != 0:
            sys.exit(f"bench: {argv[0]} exited with status {status}")
        return elapsed

    def tarve(self, tarve, inputs):
        return self.timed([tarve, self.output] + inputs, self.listing)

    def cat(self, inputs):
        return self.timed(["cat"] + inputs, self.output)

    def icotool(self, icotool, inputs):
        argv = [icotool, "-c", "-o", self.output]
        for name in inputs:
            argv += ["-r", name]
        return self.timed(argv, self.listing)

    def peak_memory(self, tarve, inputs):
        """tarve's maximum resident set size in bytes, from /usr/bin/time -v."""
        self.fresh_output()
        result = subprocess.run(["/usr/bin/time", "-v", tarve, self.output] + inputs,
                                cwd=self.directory, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, text=True)
        if result.returncode != 0:
            sys.exit(f"bench: tarve under /usr/bin/time exited with status {result.returncode}")
        found = re.search(r"Maximum resident set size \(kbytes\): (\d+)", result.stderr)
        if not found:
            sys.exit("bench: no maximum resident set size in /usr/bin/time's report")
        return int(found.group(1)) * 1024

    def check_output(self, expected_size, expected_images):
        """tarve's output holds every image: the count in its header and its size."""
        size = os.path.getsize(self.output)
        with open(self.output, "rb") as f:
            reserved, kind, count = struct.unpack("<HHH", f.read(6))
        if (reserved, kind, count, size) != (0, 1, expected_images, expected_size):
            sys.exit(f"bench: tarve wrote {size} bytes and {count} images, expected "
                     f"{expected_size} bytes and {expected_images} images")
        with open(self.listing, "rb") as f:
            lines = f.read().count(b"\n")
        if lines != expected_images:
            sys.exit(f"bench: tarve listed {lines} images, expected {expected_images}")


def alternate(runs, commands):
    """Runs each command once per repetition, rotating which goes first, and
    returns each command's list of times."""
    times = [[] for _ in commands]
    for repetition in range(runs):
        for k in range(len(commands)):
            which = (k + repetition) % len(commands)
            times[which].append(commands[which]())
    return times


# ---------------------------------------------------------------------------------
# Reporting


def spread(values, scale=1000.0, unit="ms"):
    return (f"{statistics.median(values) * scale:8.1f} {unit} "
            f"[{min(values) * scale:.1f} .. {max(values) * scale:.1f}]")


def ratio_line(ratios):
    return (f"{statistics.median(ratios):6.3f} "
            f"[{min(ratios):.3f} .. {max(ratios):.3f}]")


def verdict(ok, judged):
    if not judged:
        return "(not judged)"
    return "PASS" if ok else "FAIL"


def machine_description(directory):
    model = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    memory = "?"
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal"):
                memory = f"{int(line.split()[1]) / MIB:.1f} GiB"
                break
    fs = "?"
    for probe in (["findmnt", "-n", "-o", "FSTYPE", "-T", directory],
                  ["stat", "-f", "-c", "%T", directory]):
        try:
            fs = subprocess.run(probe, capture_output=True, text=True).stdout.strip() or fs
        except OSError:
            continue
        if fs != "?":
            break
    thp = "?"
    try:
        with open("/sys/kernel/mm/transparent_hugepage/enabled") as f:
            thp = f.read().strip()
    except OSError:
        pass
    return (f"machine: {model}, {os.cpu_count()} cores, {memory}, "
            f"Linux {os.uname().release}, temp dir {directory} on {fs}, "
            f"transparent huge pages: {thp}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tarve", default="build/tarve", help="the tarve program to measure")
    parser.add_argument("--icotool", default="icotool", help="icotool, for the PNG comparison")
    parser.add_argument("--runs", type=int, default=11, help="repetitions of the 1x job")
    parser.add_argument("--scale-runs", type=int, default=7,
                        help="repetitions of each larger job")
    parser.add_argument("--scales", default="1,4,16", help="job sizes to time, as multiples")
    parser.add_argument("--bits", type=int, default=32, choices=(24, 32),
                        help="bits per pixel of the job's bitmaps")
    parser.add_argument("--tmpdir", default=None, help="where to make the temporary directory")
    parser.add_argument("--keep", action="store_true", help="keep the generated files")
    parser.add_argument("--seed", type=int, default=2013)
    parser.add_argument("--smoke", action="store_true",
                        help="a tiny job, run once: checks that everything works")
    args = parser.parse_args()

    tarve = os.path.abspath(args.tarve)
    if not os.access(tarve, os.X_OK):
        sys.exit(f"bench: no tarve program at {tarve}")
    icotool = shutil.which(args.icotool)
    scales = [1] if args.smoke else [int(s) for s in args.scales.split(",")]
    if 1 not in scales:
        scales = [1] + scales
    largest = max(scales)
    runs = 1 if args.smoke else args.runs
    scale_runs = 1 if args.smoke else args.scale_runs
    judged = not args.smoke

    if (BITMAPS + PNGS + ICONS * len(ICON_SIDES)) * largest > 65535:
        sys.exit(f"bench: a {largest}x job has more images than one icon file can count (65,535)")

    directory = tempfile.mkdtemp(prefix="tarve-bench-", dir=args.tmpdir)
    try:
        print(machine_description(directory))
        started = time.perf_counter()
        full = generate(directory, 1 if args.smoke else largest, args.bits, args.seed,
                        small=args.smoke)
        job = full.part(1 / largest) if not args.smoke else full
        print(f"generated {len(full.inputs())} files, {full.input_bytes() / 1e6:.1f} MB, "
              f"in {time.perf_counter() - started:.1f} s")
        print(f"1x job: {len(job.bitmaps)} bitmaps ({args.bits} bits), {len(job.pngs)} PNG "
              f"images, {len(job.icons)} icon files: {len(job.inputs())} inputs, "
              f"{job.images()} images, {job.input_bytes() / 1e6:.1f} MB in, "
              f"{job.output_bytes() / 1e6:.1f} MB out")
        print(f"tarve: {tarve}")
        print()

        runner = Runner(directory)
        failed = False

        # Warm the page cache and check the output once before anything is timed.
        inputs = job.inputs()
        runner.tarve(tarve, inputs)
        runner.check_output(job.output_bytes(), job.images())
        runner.cat(inputs)

        # Whole job against cat.
        tarve_times, cat_times = alternate(
            runs, [lambda: runner.tarve(tarve, inputs), lambda: runner.cat(inputs)])
        ratios = [t / c for t, c in zip(tarve_times, cat_times)]
        ok = statistics.median(ratios) <= TARGET_CAT
        failed |= judged and not ok
        print(f"whole job, {runs} runs (median [min .. max]):")
        print(f"  tarve          {spread(tarve_times)}")
        print(f"  cat            {spread(cat_times)}")
        print(f"  tarve / cat    {ratio_line(ratios)}   target <= {TARGET_CAT}   "
              f"{verdict(ok, judged)}")
        print()

        # The PNG files against icotool.
        png_inputs = job.png_inputs()
        if icotool is None:
            print(f"PNG files: icotool not found (Debian package icoutils)   "
                  f"{'FAIL' if judged else '(skipped)'}")
            failed |= judged
        else:
            runner.tarve(tarve, png_inputs)
            runner.check_output(job.output_bytes(png_only=True), len(png_inputs))
            tarve_times, icotool_times, cat_times = alternate(
                runs, [lambda: runner.tarve(tarve, png_inputs),
                       lambda: runner.icotool(icotool, png_inputs),
                       lambda: runner.cat(png_inputs)])
            ratios = [t / i for t, i in zip(tarve_times, icotool_times)]
            floor = [c / i for c, i in zip(cat_times, icotool_times)]
            ok = statistics.median(ratios) <= TARGET_ICOTOOL
            failed |= judged and not ok
            print(f"PNG files ({len(png_inputs)}), {runs} runs:")
            print(f"  tarve          {spread(tarve_times)}")
            print(f"  icotool -c -r  {spread(icotool_times)}")
            print(f"  cat            {spread(cat_times)}")
            print(f"  tarve/icotool  {ratio_line(ratios)}   target <= {TARGET_ICOTOOL}   "
                  f"{verdict(ok, judged)}")
            print(f"  cat/icotool    {ratio_line(floor)}   (the floor: cat of the same files)")
            print()

        # Peak memory.
        budget = job.memory_budget()
        peaks = [runner.peak_memory(tarve, inputs) for _ in range(3 if judged else 1)]
        ok = max(peaks) <= budget + SLACK
        failed |= judged and not ok
        print("peak memory, whole job (maximum resident set size, /usr/bin/time -v):")
        print(f"  tarve          {statistics.median(peaks) / MIB:8.1f} MiB "
              f"[{min(peaks) / MIB:.1f} .. {max(peaks) / MIB:.1f}]")
        print(f"  must hold      {budget / MIB:8.1f} MiB (inputs "
              f"{job.input_bytes() / MIB:.1f} + bitmap images "
              f"{job.built_bitmap_bytes() / MIB:.1f} + output {job.output_bytes() / MIB:.1f})")
        print(f"  over that      {(max(peaks) - budget) / MIB:8.1f} MiB   target <= 8 MiB   "
              f"{verdict(ok, judged)}")
        print()

        # Growth with the size of the job. cat of the same files is timed beside
        # tarve at each size, as a measure of how the system itself scales.
        print(f"growth with size, {scale_runs} runs each:")
        tarve_medians, cat_medians = {}, {}
        for scale in sorted(scales):
            scaled = full.part(scale / largest) if scale != largest else full
            if args.smoke:
                scaled = job
            scaled_inputs = scaled.inputs()
            runner.tarve(tarve, scaled_inputs)
            runner.check_output(scaled.output_bytes(), scaled.images())
            tarve_times, cat_times = alternate(
                scale_runs, [lambda: runner.tarve(tarve, scaled_inputs),
                             lambda: runner.cat(scaled_inputs)])
            tarve_medians[scale] = statistics.median(tarve_times)
            cat_medians[scale] = statistics.median(cat_times)
            size_mb = scaled.input_bytes() / 1e6
            over = runner.peak_memory(tarve, scaled_inputs) - scaled.memory_budget()
            print(f"  {scale:3d}x  {len(scaled_inputs):5d} inputs {scaled.images():5d} images "
                  f"{size_mb:7.1f} MB")
            print(f"        tarve {spread(tarve_times)}  {tarve_medians[scale] / tarve_medians[1]:6.2f}"
                  f" x 1x  {tarve_medians[scale] * 1000 / size_mb:.2f} ms/MB  "
                  f"peak {over / MIB:+.1f} MiB over what it must hold")
            print(f"        cat   {spread(cat_times)}  {cat_medians[scale] / cat_medians[1]:6.2f}"
                  f" x 1x  {cat_medians[scale] * 1000 / size_mb:.2f} ms/MB")
        if largest > 1:
            growth = tarve_medians[largest] / tarve_medians[1]
            limit = TARGET_LINEAR * largest / 16
            ok = growth <= limit
            failed |= judged and not ok
            print(f"  tarve {largest}x / 1x  {growth:6.2f}   target <= {limit:g}   "
                  f"{verdict(ok, judged)}   (cat: {cat_medians[largest] / cat_medians[1]:.2f})")
        print()
        print("result:", "smoke run complete" if not judged else ("FAIL" if failed else "PASS"))
        return 1 if failed else 0
    finally:
        if args.keep:
            print(f"kept {directory}")
        else:
            shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())

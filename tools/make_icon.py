#!/usr/bin/env python3
"""Writes a Windows icon file from an SVG: rsvg-convert renders it at 16 and
32 pixels and each size is stored as a 32-bit DIB with its alpha channel
(and an AND mask), which every Windows version and Wine read."""
import argparse
import os
import struct
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_skin import read_png_rgba  # noqa: E402


def dib_entry(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rsvg", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("svg")
    parser.add_argument("ico")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    entries = []
    for size in (16, 32):
        png = os.path.join(args.work, "icon%d.png" % size)
        subprocess.run([args.rsvg, "-w", str(size), "-h", str(size), "-o", png, args.svg], check=True)
        rows = [[px if len(px) == 4 else px + (255,) for px in row] for row in read_png_rgba(png)]
        entries.append((size, dib_entry(rows)))
    offset = 6 + 16 * len(entries)
    out = struct.pack("<HHH", 0, 1, len(entries))
    for size, data in entries:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in entries)
    with open(args.ico, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()

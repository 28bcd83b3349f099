#!/usr/bin/env python3
"""Writes the PNG strips of the test skin: flat colour frames whose pixels
the window tests look for.  Usage: make_test_images.py OUTPUT_FOLDER"""
import os
import struct
import sys
import zlib


def png(path, width, height, color_at):
    rows = b"".join(
        b"\x00" + b"".join(struct.pack("4B", *color_at(x, y), 255) for x in range(width))
        for y in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(rows)))
        f.write(chunk(b"IEND", b""))


def frames(colors, frame_width):
    return lambda x, y: colors[x // frame_width]


RED, GREEN, BLUE, GREY = (255, 0, 0), (0, 255, 0), (0, 0, 255), (128, 128, 128)
# Box frames: unchecked, unchecked hovered, checked, checked hovered.
BOX = [(255, 255, 0), (0, 255, 255), (255, 128, 0), (128, 0, 255)]


def strip(left, middle, right):
    # (100 - 1) >> 1 = 49-pixel caps leave two middle columns.
    return lambda x, y: left if x < 49 else middle if x < 51 else right


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    png(os.path.join(out, "btn4.png"), 120, 20, frames([RED, GREEN, BLUE, GREY], 30))
    png(os.path.join(out, "btn3.png"), 90, 20, frames([RED, GREEN, BLUE], 30))
    png(os.path.join(out, "box.png"), 52, 13, frames(BOX, 13))
    png(os.path.join(out, "film.png"), 60, 20, frames([RED, GREEN, BLUE], 20))
    png(os.path.join(out, "pic.png"), 40, 40, lambda x, y: (200, 100, 0))
    png(os.path.join(out, "progress_bg.png"), 100, 7, strip((30, 30, 30), (100, 100, 100), (60, 60, 60)))
    png(os.path.join(out, "progress.png"), 100, 7, strip((0, 0, 200), (0, 150, 255), (0, 0, 120)))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Builds a skin package: renders every images/*.svg of a skin folder to PNG
(colours from palette.txt substituted for @name@) and zips the PNGs with
skin.txt and Licence.txt. Entries carry a fixed time, so the same sources
give the same archive.

The window shows its images over a colour key, so every rendered pixel must
be opaque: a partly transparent one would be blended with the key colour.
An image with such a pixel stops the build. The opaque images are stored
without their alpha channel, as palette images where 256 colours suffice."""
import argparse
import os
import struct
import subprocess
import sys
import zipfile
import zlib

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def read_png_rgba(path):
    """Pixels of an 8-bit RGB or RGBA, non-interlaced PNG (what rsvg-convert
    writes) as a list of rows of (r, g, b, a) tuples."""
    data = open(path, "rb").read()
    if not data.startswith(PNG_SIGNATURE):
        raise ValueError("not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace != 0:
        raise ValueError("expected 8-bit RGB or RGBA without interlacing")
    raw = zlib.decompress(idat)
    bpp = 4 if colour == 6 else 3
    stride = width * bpp
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - bpp] if i >= bpp else 0
            up = previous[i]
            corner = previous[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                guess = left + up - corner
                pa, pb, pc = abs(guess - left), abs(guess - up), abs(guess - corner)
                best = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + best) & 0xFF
        rows.append([tuple(line[i:i + 3]) + ((line[i + 3],) if bpp == 4 else (255,))
                     for i in range(0, stride, bpp)])
        previous = line
    return rows


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def write_opaque_png(path, rows):
    """Writes opaque pixels as a palette PNG when they have at most 256
    colours, else as RGB; rows are filtered with the 'up' filter."""
    width, height = len(rows[0]), len(rows)
    colours = sorted({p[:3] for row in rows for p in row})
    if len(colours) <= 256:
        index = {c: i for i, c in enumerate(colours)}
        lines = [bytes(index[p[:3]] for p in row) for row in rows]
        header = struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0)
        extra = png_chunk(b"PLTE", b"".join(bytes(c) for c in colours))
    else:
        lines = [bytes(v for p in row for v in p[:3]) for row in rows]
        header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
        extra = b""
    raw, previous = bytearray(), bytes(len(lines[0]))
    for line in lines:
        raw += b"\x02" + bytes((a - b) & 0xFF for a, b in zip(line, previous))
        previous = line
    with open(path, "wb") as out:
        out.write(PNG_SIGNATURE + png_chunk(b"IHDR", header) + extra +
                  png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))


def make_opaque(path, name):
    rows = read_png_rgba(path)
    for y, row in enumerate(rows):
        for x, pixel in enumerate(row):
            if pixel[3] != 255:
                sys.exit("make_skin: %s is not opaque at (%d, %d): paint it on the colour it "
                         "sits on, the window's colour key shows through" % (name, x, y))
    write_opaque_png(path, rows)


def read_palette(path):
    palette = {}
    if os.path.exists(path):
        for line in open(path, encoding="utf-8"):
            line = line.strip()
            if line and not line.startswith("#") and "=" in line:
                key, value = line.split("=", 1)
                palette[key.strip()] = value.strip()
    return palette


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rsvg", default="rsvg-convert")
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()

    palette = read_palette(os.path.join(args.source, "palette.txt"))
    os.makedirs(args.work, exist_ok=True)
    images = os.path.join(args.source, "images")
    entries = []
    for name in sorted(os.listdir(images)):
        if not name.endswith(".svg"):
            continue
        text = open(os.path.join(images, name), encoding="utf-8").read()
        for key, value in palette.items():
            text = text.replace("@%s@" % key, value)
        if "@" in text.replace("xmlns", ""):
            sys.exit("make_skin: %s names a colour that palette.txt lacks" % name)
        svg = os.path.join(args.work, name)
        open(svg, "w", encoding="utf-8").write(text)
        png = os.path.join(args.work, name[:-4] + ".png")
        subprocess.run([args.rsvg, "-o", png, svg], check=True)
        make_opaque(png, name)
        entries.append((name[:-4] + ".png", png))
    for name in ("skin.txt", "Licence.txt"):
        entries.append((name, os.path.join(args.source, name)))

    temp = args.output + ".tmp"
    with zipfile.ZipFile(temp, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, path in entries:
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = (0o644 << 16) | 0x20
            archive.writestr(info, open(path, "rb").read())
    os.replace(temp, args.output)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Builds a skin package: renders every images/*.svg of a skin folder to PNG
at 1x and 2x ("name@2x.png"; colours from palette.txt substituted for
@name@) and zips the PNGs with skin.txt and Licence.txt. Entries carry a fixed time, so the same sources
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


def reduce_colours(rows, limit=256):
    """The pixels with at most `limit` colours. Images of flat fills with
    anti-aliased text and edges have a few colours that cover most pixels
    and many blends between them: the frequent colours are kept exactly,
    the blends share the remaining entries (median cut, weighted by how
    often each occurs), so no visible colour changes by more than a few
    levels and the image becomes a palette image."""
    counts = {}
    for row in rows:
        for p in row:
            c = p[:3]
            counts[c] = counts.get(c, 0) + 1
    if len(counts) <= limit:
        return rows
    total = sum(counts.values())
    frequent = sorted(counts, key=counts.get, reverse=True)
    fixed = [c for c in frequent[:limit // 8] if counts[c] * 200 >= total]
    boxes = [[c for c in counts if c not in set(fixed)]]
    while len(boxes) + len(fixed) < limit:
        # Split the box with the widest channel range at its weighted median.
        def spread(box):
            return max(max(c[i] for c in box) - min(c[i] for c in box) for i in range(3))
        widest = max((b for b in boxes if len(b) > 1), key=spread, default=None)
        if widest is None:
            break
        channel = max(range(3), key=lambda i: max(c[i] for c in widest) - min(c[i] for c in widest))
        widest.sort(key=lambda c: c[channel])
        half, run, cut = sum(counts[c] for c in widest) / 2, 0, 1
        for i, c in enumerate(widest[:-1]):
            run += counts[c]
            if run >= half:
                cut = i + 1
                break
        boxes.remove(widest)
        boxes += [widest[:cut], widest[cut:]]
    palette = list(fixed)
    for box in boxes:
        weight = sum(counts[c] for c in box)
        palette.append(tuple(round(sum(c[i] * counts[c] for c in box) / weight) for i in range(3)))
    nearest = {}
    for c in counts:
        nearest[c] = min(palette, key=lambda q: sum((a - b) ** 2 for a, b in zip(c, q)))
    return [[nearest[p[:3]] for p in row] for row in rows]


def filtered(lines, bpp):
    """The PNG scanlines, each with the filter that leaves the smallest sum
    of signed differences (the usual heuristic; none for palette images,
    whose indices do not vary smoothly)."""
    raw, previous = bytearray(), bytes(len(lines[0]))
    for line in lines:
        if bpp == 0:
            raw += b"\x00" + line
            previous = line
            continue
        left = bytes(bpp) + line[:-bpp]
        corner = bytes(bpp) + previous[:-bpp]
        candidates = [
            line,
            bytes((a - b) & 0xFF for a, b in zip(line, left)),
            bytes((a - b) & 0xFF for a, b in zip(line, previous)),
            bytes((a - ((b + c) >> 1)) & 0xFF for a, b, c in zip(line, left, previous)),
        ]
        paeth = bytearray(len(line))
        for i, (a, b, c, d) in enumerate(zip(line, left, previous, corner)):
            guess = b + c - d
            pa, pb, pc = abs(guess - b), abs(guess - c), abs(guess - d)
            paeth[i] = (a - (b if pa <= pb and pa <= pc else (c if pb <= pc else d))) & 0xFF
        candidates.append(bytes(paeth))
        kind = min(range(5), key=lambda k: sum(v if v < 128 else 256 - v for v in candidates[k]))
        raw += bytes([kind]) + candidates[kind]
        previous = line
    return bytes(raw)


def write_opaque_png(path, rows):
    """Writes opaque pixels as a palette PNG (at most 256 colours, see
    reduce_colours), else as RGB."""
    rows = reduce_colours(rows)
    width, height = len(rows[0]), len(rows)
    colours = sorted({p[:3] for row in rows for p in row})
    if len(colours) <= 256:
        index = {c: i for i, c in enumerate(colours)}
        lines = [bytes(index[p[:3]] for p in row) for row in rows]
        header = struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0)
        extra = png_chunk(b"PLTE", b"".join(bytes(c) for c in colours))
        raw = filtered(lines, 0)
    else:
        lines = [bytes(v for p in row for v in p[:3]) for row in rows]
        header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
        extra = b""
        raw = filtered(lines, 3)
    with open(path, "wb") as out:
        out.write(PNG_SIGNATURE + png_chunk(b"IHDR", header) + extra +
                  png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


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
        # Each image at 1x, and at 2x for displays above 125 %: rendered
        # from the same source, so the 2x image is sharp, not stretched.
        for suffix, zoom in (("", "1"), ("@2x", "2")):
            png = os.path.join(args.work, name[:-4] + suffix + ".png")
            subprocess.run([args.rsvg, "-z", zoom, "-o", png, svg], check=True)
            make_opaque(png, name)
            entries.append((name[:-4] + suffix + ".png", png))
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

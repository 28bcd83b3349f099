#!/usr/bin/env python3
"""Builds a skin package: renders every images/*.svg of a skin folder to PNG
(colours from palette.txt substituted for @name@) and zips the PNGs with
skin.txt and Licence.txt. Entries carry a fixed time, so the same sources
give the same archive."""
import argparse
import os
import subprocess
import sys
import zipfile


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

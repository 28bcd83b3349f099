#!/usr/bin/env python3
"""Writes a ZIP whose entry names try to leave the folder they are unpacked
into, plus one entry stored read-only with a Unix mode in the high bits."""
import sys
import zipfile

entries = [
    ("../evil_parent.txt", b"parent"),
    ("..\\evil_backslash.txt", b"backslash"),
    ("a/../../evil_nested.txt", b"nested"),
    ("C:../evil_drive.txt", b"drive"),
    ("C:\\rooted\\evil_rooted.txt", b"rooted"),
    ("sub/inner.txt", b"inner"),
    ("CON", b"device"),
    ("a.txt:stream", b"stream"),
]
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as archive:
    for name, data in entries:
        info = zipfile.ZipInfo(name, date_time=(2020, 5, 17, 10, 20, 30))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = (0o644 << 16) | 0x20
        archive.writestr(info, data)
    readonly = zipfile.ZipInfo("readonly.txt", date_time=(2020, 5, 17, 10, 20, 30))
    readonly.compress_type = zipfile.ZIP_DEFLATED
    readonly.external_attr = (0o100444 << 16) | 0x01 | 0x20
    archive.writestr(readonly, b"first" * 5000)

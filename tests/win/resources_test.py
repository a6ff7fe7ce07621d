#!/usr/bin/env python3
"""Norvane.exe's resources as wrestool (icoutils) lists and extracts them:
icon group 1 over the images 30001-30009 of norvane.ico in order, the logo
only as data, and the version record.

    resources_test.py NORVANE_EXE NORVANE_ICO LOGO_ICO

Exits 77 (skipped) when wrestool is not installed.
"""

import re
import shutil
import struct
import subprocess
import sys

exe, app_ico, logo_ico = sys.argv[1:4]
failures = []


def check(what, expected, actual):
    print(("ok   " if expected == actual else "FAIL ") + what)
    if expected != actual:
        print(f"     expected {expected!r}\n     got      {actual!r}")
        failures.append(what)


def wrestool(*args):
    return subprocess.run(["wrestool", *args, exe], check=True,
                          capture_output=True).stdout


def icon_images(path):
    """(directory entry without the file offset, image bytes) per image."""
    data = open(path, "rb").read()
    count = struct.unpack_from("<H", data, 4)[0]
    images = []
    for i in range(count):
        entry = data[6 + 16 * i:6 + 16 * i + 16]
        size, offset = struct.unpack_from("<II", entry, 8)
        images.append((entry[:12], data[offset:offset + size]))
    return data, images


if not shutil.which("wrestool"):
    print("wrestool (icoutils) is not installed; skipping")
    sys.exit(77)

listing = wrestool("-l").decode()
print(listing, end="")
resources = sorted(
    (int(m[1]), m[2], m[3]) for m in
    re.finditer(r"--type=(\d+) --name=(\S+) --language=(\d+)", listing))
check("the resources are the icon images, one group, the logo, the version "
      "record and the manifest, all US English",
      sorted([(3, str(n), "1033") for n in range(30001, 30010)] +
             [(10, "200", "1033"), (14, "1", "1033"), (16, "1", "1033"),
              (24, "1", "1033")]),
      resources)

# Icon group 1: its entries name 30001-30009 in the file's order, and each
# image is the file's image.
app_data, app_images = icon_images(app_ico)
group = wrestool("-x", "--raw", "--type=14", "--name=1")
count = struct.unpack_from("<H", group, 4)[0]
entries = [group[6 + 14 * i:6 + 14 * i + 14] for i in range(count)]
check("group 1 lists nine images, 30001 to 30009 in order",
      list(range(30001, 30010)),
      [struct.unpack_from("<H", e, 12)[0] for e in entries])
check("group 1 describes each image as norvane.ico does",
      [d for d, _ in app_images], [e[:12] for e in entries])
for n, (_, image) in enumerate(app_images):
    check(f"image {30001 + n} is image {n + 1} of norvane.ico", image,
          wrestool("-x", "--raw", "--type=3", f"--name={30001 + n}"))
check("the group extracts as norvane.ico", app_data,
      wrestool("-x", "--type=14", "--name=1")[:len(app_data)])

check("the logo is embedded whole, as data",
      open(logo_ico, "rb").read(),
      wrestool("-x", "--raw", "--type=10", "--name=200"))

# The version record: VS_FIXEDFILEINFO, then the strings of 040904B0.
version = wrestool("-x", "--raw", "--type=16", "--name=1")
fixed = version[version.index(struct.pack("<I", 0xFEEF04BD)):][:52]
(_, _, file_ms, file_ls, product_ms, product_ls, mask, flags, os_, type_,
 subtype, _, _) = struct.unpack("<13I", fixed)
check("file and product version 1.0.0.0",
      (0x10000, 0, 0x10000, 0), (file_ms, file_ls, product_ms, product_ls))
check("flags 0, an application (VFT_APP)", (0, 1), (flags, type_))


def blocks(data, start, end):
    """The child blocks of a version block: (key, value bytes, children span)."""
    at = start
    while at + 6 <= end:
        length, value_length, is_text = struct.unpack_from("<HHH", data, at)
        if length == 0:
            break
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        size = value_length * 2 if is_text else value_length
        yield key, data[value_at:value_at + size], (value_at + size + 3) & ~3, at + length
        at = (at + length + 3) & ~3


strings, translation = {}, None
for key, _, child_start, child_end in blocks(version, 0, len(version)):
    for name, value, start, stop in blocks(version, child_start, child_end):
        if name == "StringFileInfo":
            for table, _, t_start, t_stop in blocks(version, start, stop):
                check("strings in US English, Unicode", "040904B0", table)
                for k, v, _, _ in blocks(version, t_start, t_stop):
                    strings[k] = v.decode("utf-16-le").rstrip("\0")
        elif name == "VarFileInfo":
            for k, v, _, _ in blocks(version, start, stop):
                translation = struct.unpack("<HH", v[:4])
check("translation 0x0409, code page 1200", (0x0409, 1200), translation)
check("the version strings", {
    "Comments": "Scan For MAC Address on specified IP by Nadia Halim",
    "CompanyName": "Velmora Networks",
    "FileDescription": "Detect MAC by IP",
    "FileVersion": "1.00",
    "InternalName": "Norvane",
    "LegalCopyright": "Copyright (C) 2026 Velmora Networks",
    "LegalTrademarks": "Norvane is a trademark of Velmora Networks",
    "OriginalFilename": "Norvane.exe",
    "ProductName": "Norvane",
    "ProductVersion": "1.00",
}, strings)

sys.exit(1 if failures else 0)

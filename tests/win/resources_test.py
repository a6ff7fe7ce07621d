#!/usr/bin/env python3
"""Norvane.exe's resources as wrestool lists them: icon group 1 over the images
30001-30009 of norvane.ico, the logo as data (its directory 200 over the images
201-210), the version record.
    resources_test.py NORVANE_EXE NORVANE_ICO LOGO_ICO    (77: no wrestool)"""
import re, shutil, struct, subprocess, sys

exe, app_ico, logo_ico = sys.argv[1:4]
failures = 0


def check(what, expected, actual):
    global failures
    if expected != actual:
        print(f"FAIL {what}\n  expected {expected!r:.300}\n  got      {actual!r:.300}")
        failures += 1


def wrestool(*args):
    return subprocess.run(["wrestool", *args, exe], check=True,
                          capture_output=True).stdout


if not shutil.which("wrestool"):
    print("wrestool (icoutils) is not installed; skipping")
    sys.exit(77)
check("icon images, icon group 1, the logo as data, the version record, the"
      " manifest, all US English",
      sorted([(3, n) for n in range(30001, 30010)] +
             [(10, n) for n in range(200, 211)] + [(14, 1), (16, 1), (24, 1)]),
      sorted((int(t), int(n)) for t, n, lang in re.findall(
          r"--type=(\d+) --name=(\d+) --language=(\d+)",
          wrestool("-l").decode()) if lang == "1033"))
group = wrestool("-x", "--raw", "--type=14", "--name=1")
check("group 1 names 30001 to 30009 in order", list(range(30001, 30010)),
      [struct.unpack_from("<H", group, 18 + 14 * i)[0] for i in range(9)])
app = open(app_ico, "rb").read()
check("group 1 is norvane.ico", app,
      wrestool("-x", "--type=14", "--name=1")[:len(app)])
# The logo's directory (200) over its images (201-210), made back into an .ico.
directory = wrestool("-x", "--raw", "--type=10", "--name=200")
ico, images = bytearray(directory[:6]), b""
for i in range(struct.unpack_from("<H", directory, 4)[0]):
    *fields, image_id = struct.unpack_from("<8sIH", directory, 6 + 14 * i)
    image = wrestool("-x", "--raw", "--type=10", f"--name={image_id}")
    ico += struct.pack("<8sII", fields[0], len(image),
                       6 + 16 * (len(directory) - 6) // 14 + len(images))
    images += image
check("the logo is logo.ico", open(logo_ico, "rb").read(), bytes(ico) + images)

# The version record: its fixed part, then keys and values in UTF-16.
version = wrestool("-x", "--raw", "--type=16", "--name=1")
fixed = version[version.index(struct.pack("<I", 0xFEEF04BD)):]
check("1.0.0.0, flags 0, an application", (0x10000, 0, 0x10000, 0, 0, 1),
      struct.unpack_from("<4x4x4I4xI4xI", fixed))
text = version.decode("utf-16-le", "surrogatepass")


def value(key):
    return (m := re.search(key + "\0+([^\0]*)", text)) and m[1]


check("strings in US English, Unicode; translation 0x0409, code page 1200",
      (True, "\u0409\u04b0"), ("040904B0" in text, value("Translation")[:2]))
sys.exit(1 if failures else 0)

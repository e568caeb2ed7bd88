"""Writes branded stubs for the PE checks: each stub as mksfx brands it with
the test icon (two bitmaps and a PNG image) and every version text, with no
settings block and no archive behind it.

    make_branded.py MKSFX DIST OUTDIR"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "packer"))
from sfxfiles import VERSION_OPTIONS, bitmap_image, png_image, write_icon  # noqa: E402

mksfx, dist, out = sys.argv[1:4]
os.makedirs(out, exist_ok=True)
icon = write_icon(os.path.join(out, "brand.ico"),
                  [(32, 32, bitmap_image(32)), (16, 32, bitmap_image(16)), (48, 32, png_image(48))])
empty = os.path.join(out, "empty.zip")
open(empty, "wb").close()
for arch in ("x86", "x64"):
    subprocess.run([mksfx, "--stub", os.path.join(dist, f"sfx-{arch}.exe"), "--raw-zip", "--no-settings",
                    "--icon", icon, *VERSION_OPTIONS, "-o", os.path.join(out, f"branded-{arch}.exe"), empty],
                   check=True)

"""Extraction speed: the stub under Wine against Info-ZIP unzip on the same
archive and against plain copying of the same uncompressed bytes (the
floor). Run by scripts/bench-extract, which starts the Wine session.

Two archives, made once and kept in the work folder:
  mixed   about 200 MB of files every Debian machine has (/usr/lib, /usr/share,
          /usr/bin; sorted, deterministic), zipped by Info-ZIP zip -6
  small   20,000 generated text files of 100 bytes to 4 KB, zip -6
For each, three runs of each contender; the median is reported:
  list     ours: process start to the main dialog with its list filled;
           unzip -l
  extract  ours: "&Unzip" to the success box; unzip -o -q; cp -r (floor)
"""

import os
import random
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "e2e"))
import sfxtest  # noqa: E402
from sfxtest import FOLDER_EDIT, MAIN_CAPTION, UNZIP, Driver  # noqa: E402

REPEATS = 3
MIXED_BYTES = 200 * 1024 * 1024
SMALL_FILES = 20000


def collect_mixed(root):
    """Regular files from system folders, in sorted order, to ~200 MB."""
    total = 0
    os.makedirs(root, exist_ok=True)
    for top in ("/usr/lib/x86_64-linux-gnu", "/usr/share", "/usr/bin"):
        for folder, dirs, names in os.walk(top):
            dirs.sort()
            for name in sorted(names):
                path = os.path.join(folder, name)
                if not os.path.isfile(path) or os.path.islink(path):
                    continue
                size = os.path.getsize(path)
                if size == 0 or size > 32 * 1024 * 1024:
                    continue
                target = os.path.join(root, os.path.relpath(path, "/"))
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copyfile(path, target)
                total += size
                if total >= MIXED_BYTES:
                    return total
    return total


def make_small(root):
    rng = random.Random(20000)
    words = "lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor".split()
    for i in range(SMALL_FILES):
        folder = os.path.join(root, f"d{i // 500:02}")
        os.makedirs(folder, exist_ok=True)
        size = rng.randint(100, 4096)
        text = " ".join(rng.choice(words) for _ in range(size // 5))[:size]
        with open(os.path.join(folder, f"f{i:05}.txt"), "w") as f:
            f.write(text)


def prepare(work, name):
    source = os.path.join(work, name + "-source")
    archive = os.path.join(work, name + ".zip")
    if not os.path.exists(archive):
        shutil.rmtree(source, ignore_errors=True)
        if name == "mixed":
            collect_mixed(source)
        else:
            make_small(source)
        subprocess.run(["zip", "-q", "-r", "-6", "-D", archive, "."], cwd=source, check=True)
    exe = os.path.join(work, name + ".exe")
    subprocess.run([sfxtest.config().mksfx, "--stub", sfxtest.config().stub("x64"),
                    "--overwrite", "always", "-o", exe, archive], check=True)
    return source, archive, exe


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


def timed(command, **kwargs):
    start = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)
    return time.monotonic() - start


def ours(driver, exe, out):
    """(list seconds, extract seconds) of one run of the stub."""
    fresh(out)
    start = time.monotonic()
    pid = driver.call("start", sfxtest.windows_path(exe))["pid"]
    program = sfxtest.Program(driver, pid, exe)
    dialog = program.wait_window(MAIN_CAPTION, timeout=600)
    listed = time.monotonic() - start
    dialog.set_text(FOLDER_EDIT, sfxtest.windows_path(out))
    start = time.monotonic()
    dialog.click(UNZIP)
    box = program.wait_window("Extraction Completed", timeout=3600)
    extracted = time.monotonic() - start
    box.click(1)
    program.exit_code(timeout=60)
    return listed, extracted


def main():
    work = os.environ["SFX_E2E_WORK"]
    os.makedirs(work, exist_ok=True)
    driver = Driver(work, os.path.join(work, "driver.log"))
    try:
        for name in ("mixed", "small"):
            source, archive, exe = prepare(work, name)
            out = os.path.join(work, name + "-out")
            runs = {"ours list": [], "ours extract": [], "unzip list": [], "unzip extract": [], "copy": []}
            for _ in range(REPEATS):
                listed, extracted = ours(driver, exe, out)
                runs["ours list"].append(listed)
                runs["ours extract"].append(extracted)
                runs["unzip list"].append(timed(["unzip", "-l", archive]))
                fresh(out)
                runs["unzip extract"].append(timed(["unzip", "-o", "-q", archive, "-d", out]))
                shutil.rmtree(out)
                runs["copy"].append(timed(["cp", "-r", source, out]))
            median = {k: statistics.median(v) for k, v in runs.items()}
            size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(source) for f in fs)
            files = sum(len(fs) for _, _, fs in os.walk(source))
            print(f"{name}: {files} files, {size / 1e6:.1f} MB uncompressed, "
                  f"archive {os.path.getsize(archive) / 1e6:.1f} MB; median of {REPEATS}")
            for key, value in median.items():
                print(f"  {key:14} {value:8.3f} s")
            print(f"  list:    ours/unzip {median['ours list'] / median['unzip list']:.2f}")
            print(f"  extract: ours/unzip {median['ours extract'] / median['unzip extract']:.2f}, "
                  f"ours/copy {median['ours extract'] / median['copy']:.2f}, "
                  f"unzip/copy {median['unzip extract'] / median['copy']:.2f}")
    finally:
        driver.close()


if __name__ == "__main__":
    main()

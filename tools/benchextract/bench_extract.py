"""Extraction speed: the stub under Wine against floors measured in the same
Wine session, with Info-ZIP unzip and cp as context. Run by
scripts/bench-extract, which starts the Wine session.

Three sets, their archives made once and kept in the work folder:
  small          20,000 generated text files of 100 bytes to 4 KB in 40
                 folders, zip -6
  mixed stored   about 200 MB of files every Debian machine has (/usr/lib,
                 /usr/share, /usr/bin; sorted, deterministic), zip -0
  mixed deflated the same files, zip -6

The floors (tools/benchextract/extract_floor.cpp, a plain Win32 program,
timed inside itself from its first file-system call):
  write   the files' contents already in memory; per folder CreateDirectoryA,
          per file CreateFileA, WriteFile, SetFileTime, CloseHandle
  copy    the same, reading a stored archive in 1 MB pieces and checking each
          file's CRC-32
  decode  the program's own inflate over the deflated archive in memory
The small set is held against the write floor, the stored set against the
copy floor, the deflated set against the copy floor plus decoding.

Ours: "&Unzip" to the success box. Each figure is the median of three runs.

With --profile, the measuring build of the stub (SFX_PROFILE_STUB) extracts
each set once instead and its timing counters are printed: where the walk's
time goes, step by step.

With --before STUB, a second stub (an earlier build, say) is timed in the
same runs, interleaved with ours, and its ratios are printed beside them.

With --answers, the small set is extracted once and then again under "Never
Overwrite", every file kept; meanwhile a message is sent to the main dialog
again and again, and the longest and the median time it took to answer are
printed: how long the window leaves a person waiting while a walk goes
through 20,000 files that it does not write.
"""

import os
import random
import re
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


def source_of(work, name):
    source = os.path.join(work, name + "-source")
    if not os.path.isdir(source):
        if name == "mixed":
            collect_mixed(source)
        else:
            make_small(source)
    return source


def archive_of(work, source, name, level):
    archive = os.path.join(work, f"{name}-{level}.zip")
    if not os.path.exists(archive):
        subprocess.run(["zip", "-q", "-r", f"-{level}", "-D", archive, "."], cwd=source, check=True)
    return archive


def sfx_of(archive, stub=None, tag="", overwrite="always"):
    exe = archive[:-4] + tag + ".exe"
    subprocess.run([sfxtest.config().mksfx, "--stub", stub or sfxtest.config().stub("x64"),
                    "--overwrite", overwrite, "-o", exe, archive], check=True, stdout=subprocess.DEVNULL)
    return exe


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)


def timed(command, **kwargs):
    start = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)
    return time.monotonic() - start


def ours(driver, exe, out, keep=False, while_walking=None):
    """Seconds from "&Unzip" to the success box, for one run of the stub
    (into a fresh folder unless keep); while_walking(program, dialog) runs
    once the walk has started, until it sees the success box."""
    if not keep:
        fresh(out)
    pid = driver.call("start", sfxtest.windows_path(exe))["pid"]
    program = sfxtest.Program(driver, pid, exe)
    dialog = program.wait_window(MAIN_CAPTION, timeout=600)
    dialog.set_text(FOLDER_EDIT, sfxtest.windows_path(out))
    start = time.monotonic()
    dialog.click(UNZIP)
    if while_walking:
        while_walking(program, dialog)
    box = program.wait_window("Extraction Completed", timeout=3600)
    extracted = time.monotonic() - start
    box.click(1)
    program.exit_code(timeout=60)
    return extracted


def answer_gaps(driver, exe, out):
    """The small set extracted, then walked again with every file kept;
    the milliseconds that each message sent meanwhile waited for its
    answer."""
    ours(driver, exe, out)
    gaps = []

    def ping(program, dialog):
        while True:
            try:
                program.wait_window("Extraction Completed", timeout=0.02)
                return
            except sfxtest.Timeout:
                gaps.append(driver.call("ping", dialog.hwnd, 10000, timeout=10))

    seconds = ours(driver, exe, out, keep=True, while_walking=ping)
    return seconds, gaps


def floor(mode, archive, out=None):
    """Seconds that the floor program reports for its timed part."""
    cfg = sfxtest.config()
    arguments = [cfg.wine, os.environ["SFX_FLOOR"], mode, sfxtest.windows_path(archive)]
    if out is not None:
        fresh(out)
        shutil.rmtree(out)
        arguments.append(sfxtest.windows_path(out))
    result = subprocess.run(arguments, env=cfg.environment(), check=True, stdout=subprocess.PIPE, text=True)
    return float(re.search(r"seconds ([0-9.]+)", result.stdout).group(1))


def report(title, runs, floor_keys):
    median = {k: statistics.median(v) for k, v in runs.items()}
    print(f"{title}: median of {REPEATS}")
    for key, value in median.items():
        print(f"  {key:14} {value:8.3f} s")
    floor_time = sum(median[k] for k in floor_keys)
    print(f"  extract: ours/floor {median['ours'] / floor_time:.2f}   "
          f"(floor: {' + '.join(floor_keys)}; ours/unzip {median['ours'] / median['unzip']:.2f})")
    if "before" in median:
        print(f"  before:  before/floor {median['before'] / floor_time:.2f}")


def profile(work, driver, title, archive):
    """One run of the measuring build, and its counters."""
    exe = sfx_of(archive, os.environ["SFX_PROFILE_STUB"], "-profile")
    counters = os.path.join(work, "sfx-profile.txt")
    if os.path.exists(counters):
        os.remove(counters)
    seconds = ours(driver, exe, os.path.join(work, "out"))
    print(f"{title}: {seconds:.3f} s")
    with open(counters) as f:
        for line in f:
            step, ms, _, marks, _ = line.split()
            print(f"  {step:10} {int(ms):7} ms  {marks:>6} marks")


def main():
    work = os.environ["SFX_E2E_WORK"]
    os.makedirs(work, exist_ok=True)
    driver = Driver(work, os.path.join(work, "driver.log"))
    try:
        small = source_of(work, "small")
        mixed = source_of(work, "mixed")
        for name, source in (("small", small), ("mixed", mixed)):
            size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(source) for f in fs)
            files = sum(len(fs) for _, _, fs in os.walk(source))
            print(f"{name}: {files} files, {size / 1e6:.1f} MB")
        sets = [
            ("small (zip -6)", small, archive_of(work, small, "small", 6), archive_of(work, small, "small", 0),
             ["write"]),
            ("mixed stored (zip -0)", mixed, archive_of(work, mixed, "mixed", 0), None, ["copy"]),
            ("mixed deflated (zip -6)", mixed, archive_of(work, mixed, "mixed", 6), None, ["copy", "decode"]),
        ]
        out = os.path.join(work, "out")
        if "--profile" in sys.argv:
            for title, _, archive, _, _ in sets:
                profile(work, driver, title, archive)
            return
        if "--answers" in sys.argv:
            exe = sfx_of(sets[0][2], tag="-never", overwrite="never")
            seconds, gaps = answer_gaps(driver, exe, out)
            print(f"small set walked again, every file kept: {seconds:.3f} s, {len(gaps)} messages answered; "
                  f"longest wait {max(gaps)} ms, median {statistics.median(gaps)} ms")
            return
        before = sys.argv[sys.argv.index("--before") + 1] if "--before" in sys.argv else None
        for title, source, archive, stored, floor_keys in sets:
            stored = stored or archive_of(work, source, "mixed", 0)
            exe = sfx_of(archive)
            before_exe = sfx_of(archive, before, "-before") if before else None
            runs = {"ours": [], **({"before": []} if before else {}), **{k: [] for k in floor_keys},
                    "unzip": [], "cp": []}
            for repeat in range(REPEATS):
                # The two stubs take turns at going first: a run is slowed by
                # the disk still writing back what the run before it left.
                order = [("ours", exe)] + ([("before", before_exe)] if before else [])
                for key, program in order if repeat % 2 == 0 else order[::-1]:
                    runs[key].append(ours(driver, program, out))
                for key in floor_keys:
                    runs[key].append(floor(key, archive if key == "decode" else stored,
                                           None if key == "decode" else out))
                fresh(out)
                runs["unzip"].append(timed(["unzip", "-o", "-q", archive, "-d", out]))
                shutil.rmtree(out)
                runs["cp"].append(timed(["cp", "-r", source, out]))
            report(title, runs, floor_keys)
    finally:
        driver.close()


if __name__ == "__main__":
    main()

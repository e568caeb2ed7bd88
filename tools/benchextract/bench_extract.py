"""Extraction speed: the stub under Wine against floors measured in the same
Wine session, with Info-ZIP unzip and cp as context. Run by
scripts/bench-extract, which starts the Wine session.

Four sets, their archives made once and kept in the work folder:
  small          20,000 generated text files of 100 bytes to 4 KB in 40
                 folders, zip -6
  tree stored    4,000 generated files of 1 to 48 KB in 400 folders (three
                 levels deep), zip -0: the cost per folder
  mixed stored   about 200 MB of files every Debian machine has (/usr/lib,
                 /usr/share, /usr/bin; sorted, deterministic), zip -0
  mixed deflated the same files, zip -6
"--sets small,tree" times only the sets named (by their first word).

The floors (tools/benchextract/extract_floor.cpp, a plain Win32 program,
timed inside itself from its first file-system call):
  write   the files' contents already in memory; per folder CreateDirectoryA,
          per file CreateFileA, WriteFile, SetFileTime, CloseHandle
  copy    the same, reading a stored archive in 1 MB pieces and checking each
          file's CRC-32
  decode  the program's own inflate over the deflated archive in memory
The small set is held against the write floor, the stored set against the
copy floor, the deflated set against the copy floor plus decoding.

Ours: "&Unzip" to the success box. Each figure is the median of three runs,
or of N with --repeats N (a noisy disk needs more).

With --profile, the measuring build of the stub (SFX_PROFILE_STUB) extracts
each set once instead and its timing counters are printed: where the walk's
time goes, step by step.

With --before STUB, a second stub (an earlier build, say) is timed in the
same runs, interleaved with ours, and its ratios are printed beside them.

With --replace, 2,000 files of the small set are extracted into a fresh
folder and then over themselves ("Always Overwrite"): what replacing costs,
the flush before each replacing rename included, beside writing new files.

With --gap, one entry of 600 MB (deflated zeros) is extracted while a
message is sent to the main dialog again and again; the longest time one
waited for its answer is printed.

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
TREE_FOLDERS = 400
TREE_FILES = 4000
REPLACED_FILES = 2000
GAP_ENTRY = 600 << 20


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


def make_tree(root):
    """Folders three levels deep (a/b/c), each with the same share of files."""
    rng = random.Random(400)
    folders = [os.path.join(root, f"t{i // 40:02}", f"u{i // 8 % 5}", f"v{i % 8}") for i in range(TREE_FOLDERS)]
    for i in range(TREE_FILES):
        folder = folders[i % TREE_FOLDERS]
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"g{i:05}.bin"), "wb") as f:
            f.write(rng.randbytes(rng.randint(1024, 48 * 1024)))


def make_replaced(root):
    """The first REPLACED_FILES files of the small set."""
    small = os.path.join(os.path.dirname(root), "small-source")
    names = sorted(os.path.relpath(os.path.join(d, f), small) for d, _, fs in os.walk(small) for f in fs)
    for name in names[:REPLACED_FILES]:
        os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
        shutil.copyfile(os.path.join(small, name), os.path.join(root, name))


def make_gap(root):
    os.makedirs(root)
    with open(os.path.join(root, "long.bin"), "wb") as f:
        for _ in range(GAP_ENTRY >> 20):
            f.write(bytes(1 << 20))


def source_of(work, name):
    source = os.path.join(work, name + "-source")
    if not os.path.isdir(source):
        {"mixed": collect_mixed, "small": make_small, "tree": make_tree, "replaced": make_replaced,
         "gap": make_gap}[name](source)
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
    """An empty folder, and the disk done with writing what came before, so
    that no run pays for the write-back of the run before it."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    os.sync()


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


def pinged(driver, exe, out, keep=False):
    """Seconds for one run, and the milliseconds that each message sent to
    the main dialog meanwhile waited for its answer."""
    gaps = []

    def ping(program, dialog):
        while True:
            try:
                program.wait_window("Extraction Completed", timeout=0.02)
                return
            except sfxtest.Timeout:
                gaps.append(driver.call("ping", dialog.hwnd, 10000, timeout=10))

    return ours(driver, exe, out, keep=keep, while_walking=ping), gaps


def answer_gaps(driver, exe, out):
    """The small set extracted, then walked again with every file kept;
    the milliseconds that each message sent meanwhile waited for its
    answer."""
    ours(driver, exe, out)
    return pinged(driver, exe, out, keep=True)


def stubs(before):
    """The stubs to time: ours, and the one before when given."""
    return [("ours", None)] + ([("before", before)] if before else [])


def alternating(before):
    """The stubs of every repeat, the order turned each time, so that
    neither always goes first."""
    for repeat in range(REPEATS):
        order = stubs(before)
        yield from (order if repeat % 2 == 0 else order[::-1])


def replace_runs(work, driver, before):
    """2,000 files written new, then over themselves, by each stub."""
    source = source_of(work, "replaced")
    archive = archive_of(work, source, "replaced", 6)
    out = os.path.join(work, "out")
    runs = {}
    for key, stub in alternating(before):
        exe = sfx_of(archive, stub, "-" + key)
        runs.setdefault(key + " new", []).append(ours(driver, exe, out))
        runs.setdefault(key + " replace", []).append(ours(driver, exe, out, keep=True))
    print(f"replace: {REPLACED_FILES} files, median of {REPEATS}")
    median = {k: statistics.median(v) for k, v in runs.items()}
    for key, value in median.items():
        print(f"  {key:14} {value:8.3f} s")
    for key, _ in stubs(before):
        print(f"  {key}: replace/new {median[key + ' replace'] / median[key + ' new']:.2f}, "
              f"{(median[key + ' replace'] - median[key + ' new']) * 1000 / REPLACED_FILES:.2f} ms more per file")


def gap_runs(work, driver, before):
    """The longest wait for an answer while one 600 MB entry is written."""
    source = source_of(work, "gap")
    archive = archive_of(work, source, "gap", 6)
    out = os.path.join(work, "out")
    longest = {}
    for key, stub in alternating(before):
        seconds, gaps = pinged(driver, sfx_of(archive, stub, "-" + key), out)
        longest.setdefault(key, []).append(max(gaps))
    print(f"gap: one entry of {GAP_ENTRY >> 20} MB, the longest wait for an answer in each of {REPEATS} runs")
    for key, values in longest.items():
        print(f"  {key:14} {' '.join(f'{v:5d} ms' for v in values)}   (longest {max(values)} ms)")


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
    global REPEATS
    if "--repeats" in sys.argv:
        REPEATS = int(sys.argv[sys.argv.index("--repeats") + 1])
    driver = Driver(work, os.path.join(work, "driver.log"))
    try:
        before = sys.argv[sys.argv.index("--before") + 1] if "--before" in sys.argv else None
        if "--replace" in sys.argv:
            source_of(work, "small")
            replace_runs(work, driver, before)
            return
        if "--gap" in sys.argv:
            gap_runs(work, driver, before)
            return
        small = source_of(work, "small")
        tree = source_of(work, "tree")
        mixed = source_of(work, "mixed")
        for name, source in (("small", small), ("tree", tree), ("mixed", mixed)):
            size = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(source) for f in fs)
            files = sum(len(fs) for _, _, fs in os.walk(source))
            print(f"{name}: {files} files, {size / 1e6:.1f} MB")
        sets = [
            ("small (zip -6)", small, archive_of(work, small, "small", 6), archive_of(work, small, "small", 0),
             ["write"]),
            ("tree stored (zip -0)", tree, archive_of(work, tree, "tree", 0), None, ["copy"]),
            ("mixed stored (zip -0)", mixed, archive_of(work, mixed, "mixed", 0), None, ["copy"]),
            ("mixed deflated (zip -6)", mixed, archive_of(work, mixed, "mixed", 6), None, ["copy", "decode"]),
        ]
        chosen = sys.argv[sys.argv.index("--sets") + 1].split(",") if "--sets" in sys.argv else None
        picked = [entry for entry in sets if not chosen or entry[0].split()[0] in chosen]
        out = os.path.join(work, "out")
        if "--profile" in sys.argv:
            for title, _, archive, _, _ in picked:
                profile(work, driver, title, archive)
            return
        if "--answers" in sys.argv:
            exe = sfx_of(sets[0][2], tag="-never", overwrite="never")
            seconds, gaps = answer_gaps(driver, exe, out)
            print(f"small set walked again, every file kept: {seconds:.3f} s, {len(gaps)} messages answered; "
                  f"longest wait {max(gaps)} ms, median {statistics.median(gaps)} ms")
            return
        for title, source, archive, stored, floor_keys in picked:
            stored = stored or (archive if "stored" in title else archive_of(work, source, "mixed", 0))
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

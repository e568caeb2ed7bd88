"""Packing speed and size of mksfx against Info-ZIP zip -9 and 7-Zip's ZIP
writer at -mx9 and -mx5, on two sets made from this machine's files, all
in one run. Prints, for each set, mksfx's size and time as ratios to
7z -mx9 and 7z -mx5 (below 1.00: smaller or faster). With --memory, the
peak memory of mksfx packing one 1.5 GB file instead."""
import argparse
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MKSFX = os.path.join(ROOT, "dist", "mksfx")
STUB = os.path.join(ROOT, "dist", "sfx-x86.exe")
WORK = os.environ.get("SFX_BENCH_WORK", os.path.join(ROOT, "build", "bench-pack"))
DEFAULT_LEVEL = 12         # tools/mksfx/entry_packer.h
# No level is both as small as 7z -mx5 and twice as fast: 10 is the first
# as small, 6 the last about twice as fast and then some (README, Speed).
FAST_LEVELS = (10, 6)

WINE_DLLS = ("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/i386-linux-gnu/wine/i386-windows")
PYTHON_LIB = "/usr/lib/python%d.%d" % sys.version_info[:2]


def make_dll_set(target):
    """Every 8th of Wine's PE DLLs, both architectures, in name order."""
    dlls = sorted((name, folder) for folder in WINE_DLLS for name in os.listdir(folder)
                  if name.endswith(".dll") and os.path.isfile(os.path.join(folder, name)))
    for name, folder in dlls[::8]:
        sub = os.path.join(target, os.path.basename(folder))
        os.makedirs(sub, exist_ok=True)
        shutil.copy2(os.path.join(folder, name), os.path.join(sub, name))


def make_python_set(target):
    """Python's standard library with its bytecode at the three optimisation
    levels, links resolved (some lead outside it)."""
    shutil.copytree(PYTHON_LIB, target, symlinks=False, ignore=shutil.ignore_patterns("dist-packages"))
    subprocess.run([sys.executable, "-m", "compileall", "-q", "-o", "0", "-o", "1", "-o", "2", target],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    stamp = 1700000000
    for here, dirs, names in os.walk(target):
        for n in dirs + names:
            os.utime(os.path.join(here, n), (stamp, stamp), follow_symlinks=False)


SETS = {"Windows PE DLLs (Wine)": ("dlls", make_dll_set), "Python standard library": ("python", make_python_set)}


def ensure_set(folder, make):
    path = os.path.join(WORK, "sets", folder)
    if not os.path.isdir(path):
        make(path + ".new")
        os.rename(path + ".new", path)
    files = [os.path.join(h, n) for h, _, names in os.walk(path) for n in names]
    return path, len(files), sum(os.path.getsize(f) for f in files)


def run(command, cwd=None):
    """Wall-clock seconds and peak resident memory (KB) of one command."""
    start = time.perf_counter()
    child = subprocess.Popen(command, cwd=cwd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("failed: " + " ".join(command))
    return seconds, usage.ru_maxrss


def contenders(levels):
    def mksfx(level):
        return lambda src, out: [MKSFX, "--stub", STUB, "--quiet", "--level", str(level), "-o", out, src]
    table = [("mksfx --level %d" % level, mksfx(level), "exe") for level in levels]
    table += [("zip -9", lambda src, out: ["zip", "-q", "-r", "-9", "-X", out, "."], "zip"),
              ("7z -mx9", lambda src, out: ["7z", "a", "-tzip", "-mx9", "-bd", "-bso0", out, "."], "zip"),
              ("7z -mx5", lambda src, out: ["7z", "a", "-tzip", "-mx5", "-bd", "-bso0", out, "."], "zip")]
    return table


def bench_sets(levels, runs):
    print("mksfx packs a folder; zip and 7z (7z a -tzip) write a ZIP of it; %d processors; median of %d run%s"
          % (os.cpu_count(), runs, "" if runs == 1 else "s"))
    for title, (folder, make) in SETS.items():
        src, count, size = ensure_set(folder, make)
        print("\n%s: %d files, %.2f MB" % (title, count, size / 1e6))
        results = {}
        for name, command, ext in contenders(levels):
            out = os.path.join(WORK, "out." + ext)
            times = []
            for _ in range(runs):
                if os.path.exists(out):
                    os.remove(out)
                times.append(run(command(src, out), cwd=src)[0])
            results[name] = (os.path.getsize(out), sorted(times)[len(times) // 2])
            os.remove(out)
        best, middle = results["7z -mx9"], results["7z -mx5"]
        print("  %-17s %10s %8s   %-17s %-15s" % ("", "MB", "s", "size vs -mx9/-mx5", "time vs -mx9/-mx5"))
        for name, (bytes_, seconds) in results.items():
            print("  %-17s %10.3f %8.2f   %6.4f / %6.4f   %5.3f / %5.3f" % (
                name, bytes_ / 1e6, seconds, bytes_ / best[0], bytes_ / middle[0], seconds / best[1],
                seconds / middle[1]))


def bench_memory(size=1_500_000_000):
    """One file of 1.5 GB made of the DLL set's files over and over."""
    src, _, _ = ensure_set(*SETS["Windows PE DLLs (Wine)"])
    folder = os.path.join(WORK, "large")
    big = os.path.join(folder, "large.bin")
    if not os.path.exists(big) or os.path.getsize(big) != size:
        os.makedirs(folder, exist_ok=True)
        parts = sorted(os.path.join(h, n) for h, _, names in os.walk(src) for n in names)
        with open(big, "wb") as f:
            while f.tell() < size:
                for p in parts:
                    with open(p, "rb") as g:
                        f.write(g.read()[:size - f.tell()])
    out = os.path.join(WORK, "large.exe")
    print("one file of %.2f GB (Wine's DLLs over and over), %d processors" % (size / 1e9, os.cpu_count()))
    for level in (DEFAULT_LEVEL,) + FAST_LEVELS:
        for threads in (1, os.cpu_count()):
            seconds, peak = run([MKSFX, "--stub", STUB, "--quiet", "--level", str(level), "--threads", str(threads),
                                 "-o", out, folder])
            print("  --level %-2d --threads %d: peak memory %.1f MB, %.1f s, %.2f MB written"
                  % (level, threads, peak / 1024, seconds, os.path.getsize(out) / 1e6))
            os.remove(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--levels", default=",".join(map(str, (DEFAULT_LEVEL,) + FAST_LEVELS)),
                        help="mksfx levels to run, comma-separated, or 'all' (default: 12, 10 and 6)")
    parser.add_argument("--runs", type=int, default=1, help="runs of each command; the median time counts")
    parser.add_argument("--memory", action="store_true", help="peak memory for one 1.5 GB file instead")
    args = parser.parse_args()
    os.makedirs(WORK, exist_ok=True)
    if args.memory:
        bench_memory()
        return
    levels = range(1, 13) if args.levels == "all" else [int(n) for n in args.levels.split(",")]
    bench_sets(levels, args.runs)


if __name__ == "__main__":
    main()

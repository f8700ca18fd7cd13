"""Measures the launcher against a reference that does only what the
contract needs, under Wine, with a no-op application library.

    bench.py BUILD_DIR PAIRS

- start to exit: wall time of `wine <exe>`, launcher and reference paired run
  by run (A B A B ...) after a warm-up; medians and the median of the ratios;
- in process: the no-op library's time from process creation
  (GetProcessTimes) to its entry point's first instruction; and, more finely,
  from the executable's first code (a static initialiser that both
  benchmark copies carry) to the same point; medians;
- modules: the modules loaded when the entry point is reached;
- footprint: the image by section, and what the C++ runtime costs it.
"""
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import pefile

WARM_UP = 5


def wine_env(build, record=None, bench=False):
    env = dict(os.environ)
    env.update({"WINEPREFIX": os.path.join(build, "wineprefix"),
                "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="})
    if record:
        env["PROBE_RECORD"] = "Z:" + record.replace("/", "\\")
    if bench:
        env["PROBE_BENCH"] = "1"
    return env


def wine(build, args, **kwargs):
    with tempfile.TemporaryFile() as log:
        return subprocess.run(["wine"] + args, stdin=subprocess.DEVNULL,
                              stdout=log, stderr=log, check=False,
                              env=wine_env(build, **kwargs)).returncode


def install(build, root):
    """Both executables side by side, the no-op library in both builds."""
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "Library", "x64"))
    launcher = os.path.join(root, "Tolvarin.exe")
    timed_launcher = os.path.join(root, "TolvarinTimed.exe")
    reference = os.path.join(root, "Reference.exe")
    shutil.copy(os.path.join(build, "Tolvarin.exe"), launcher)
    shutil.copy(os.path.join(build, "bench", "bench_launcher_timed.exe"),
                timed_launcher)
    shutil.copy(os.path.join(build, "bench", "bench_reference.exe"), reference)
    noop = os.path.join(build, "tests", "probes", "probe_noop.dll")
    for name in ("TOLVARIN64.dll", "TOLVARIN64avx.dll"):
        shutil.copy(noop, os.path.join(root, "Library", name))
    return launcher, timed_launcher, reference


def timed(build, exe):
    start = time.perf_counter()
    status = wine(build, [exe])
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit(f"{exe} exited {status}")
    return elapsed


def in_process(build, exe, record):
    if os.path.exists(record):
        os.remove(record)
    if wine(build, [exe], record=record, bench=True) != 0:
        sys.exit(f"{exe} failed")
    with open(record, encoding="utf-8") as lines:
        entry = json.loads(lines.readline())
    return (entry["sinceCreation100ns"] / 1e4, entry["sinceExeStartUs"] / 1e3,
            entry["modules"])


def sections(path):
    pe = pefile.PE(path, fast_load=True)
    return {s.Name.rstrip(b"\0").decode(): s.SizeOfRawData
            for s in pe.sections}, os.path.getsize(path)


def icon_sizes(path):
    pe = pefile.PE(path)
    sizes = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == 3:  # RT_ICON
            for name in kind.directory.entries:
                sizes[name.id] = name.directory.entries[0].data.struct.Size
    return sizes


def main(build, pairs):
    build = os.path.abspath(build)
    root = os.path.join(build, "bench-install")
    record = os.path.join(build, "bench-record.jsonl")
    launcher, timed_launcher, reference = install(build, root)
    subprocess.run(["wineserver", "-p60"], env=wine_env(build), check=False,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    try:
        for _ in range(WARM_UP):
            timed(build, launcher)
            timed(build, reference)
        wall = {"launcher": [], "reference": []}
        ratios = []
        for _ in range(pairs):
            a = timed(build, launcher)
            b = timed(build, reference)
            wall["launcher"].append(a)
            wall["reference"].append(b)
            ratios.append(a / b)
        inside = {"launcher": [], "reference": []}
        own = {"launcher": [], "reference": []}
        modules = {}
        for _ in range(pairs):
            for name, exe in (("launcher", timed_launcher),
                              ("reference", reference)):
                ms, own_ms, loaded = in_process(build, exe, record)
                inside[name].append(ms)
                own[name].append(own_ms)
                # Each loads its own executable and the application library
                # (under the name of the build it chose); compare the rest.
                modules[name] = {m.lower() for m in loaded} - {
                    os.path.basename(exe).lower(), "tolvarin64.dll",
                    "tolvarin64avx.dll"}
    finally:
        subprocess.run(["wineserver", "-k"], env=wine_env(build), check=False,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    median = statistics.median
    print(f"Machine: {platform.node()}, {os.cpu_count()} cores, "
          f"{platform.processor() or platform.machine()}, "
          f"{subprocess.run(['wine', '--version'], capture_output=True, text=True, env=wine_env(build)).stdout.strip()}")
    print(f"Date: {time.strftime('%Y-%m-%d')}; {pairs} pairs after "
          f"{WARM_UP} warm-up runs each\n")
    print("| Measure | Launcher | Reference | |")
    print("|---|---|---|---|")
    print(f"| start to exit, median | {median(wall['launcher']) * 1e3:.1f} ms "
          f"| {median(wall['reference']) * 1e3:.1f} ms | median ratio "
          f"{median(ratios):.3f} (goal 1.02 or less) |")
    li, ri = median(inside["launcher"]), median(inside["reference"])
    differences = [a - b for a, b in zip(inside["launcher"],
                                         inside["reference"])]
    quartiles = statistics.quantiles(differences, n=4)
    print(f"| process creation to entry point, median | {li:.2f} ms | "
          f"{ri:.2f} ms | difference of the medians {li - ri:+.2f} ms; "
          f"median of the paired differences {median(differences):+.2f} ms, "
          f"quartiles {quartiles[0]:+.2f} / {quartiles[2]:+.2f} ms "
          f"(goal within 0.5 ms) |")
    lo, ro = median(own["launcher"]), median(own["reference"])
    print(f"| executable's first code to entry point, median | "
          f"{lo * 1e3:.0f} µs | {ro * 1e3:.0f} µs | difference "
          f"{(lo - ro) * 1e3:+.0f} µs |")
    extra = sorted(modules["launcher"] - modules["reference"])
    print(f"| modules at the entry point, besides the executable and the "
          f"application library | {len(modules['launcher'])} | "
          f"{len(modules['reference'])} | launcher only: "
          f"{', '.join(extra) or 'none'} |")

    print("\nFootprint (bytes in the file):\n")
    exe = os.path.join(build, "Tolvarin.exe")
    lean = os.path.join(build, "bench", "bench_launcher_lean.exe")
    ref = os.path.join(build, "bench", "bench_reference.exe")
    layout, total = sections(exe)
    print("| Section | Tolvarin.exe |")
    print("|---|---|")
    for name, size in layout.items():
        print(f"| {name} | {size:,} |")
    headers = total - sum(layout.values())
    print(f"| headers | {headers:,} |")
    print(f"| **file** | **{total:,}** |")
    outside = total - layout.get(".rsrc", 0)
    icons = icon_sizes(exe)
    print(f"\nOutside the resources: {outside:,} bytes. Resources: "
          f"{layout.get('.rsrc', 0):,}, of which the icon images "
          f"{sum(icons.values()):,} and the 256 x 256 image alone "
          f"{icons.get(10, 0):,}.")
    lean_size = sections(lean)[1]
    ref_layout, ref_total = sections(ref)
    ref_size = ref_total - ref_layout.get(".rsrc", 0)
    print(f"Code image without resources: launcher {outside:,}, launcher "
          f"without the verbose terminate handler {lean_size:,}, reference "
          f"(no C++ library, resources left out) {ref_size:,}.")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], int(sys.argv[2])))

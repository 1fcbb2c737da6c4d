#!/usr/bin/env python3
"""Turns the raw results of bench.sh into the report (Markdown) and the plot's data files.

usage: report.py WORK_DIR OUT.md "SIZES" "ADAPTERS"

Reads WORK_DIR/machine.txt, times-<MiB>.json (hyperfine), memory.txt ("MiB program KiB"),
nicburn.txt ("N MODE {json}" from nicrun.py) and skipped.txt; writes OUT.md, and sizes.dat and
adapters.dat in WORK_DIR for plot.gp. Ratios are of medians; the spread is the interquartile range
(first to third quartile) of the runs.
"""
import json
import os
import statistics
import sys

METHODS = [
    ("pkg-pkgunzip", "our package, pkgunzip (default)"),
    ("pkg-nodigest", "our package, pkgunzip, without the digest record (not checked)"),
    ("pkg-miniunzip", "our package, Debian miniunzip"),
    ("floor", "floor: copy the zip out, then miniunzip"),
    ("io-cp", "I/O reference: cp of the zip and of the files"),
    ("makeself", "makeself, default (checksum, then extract)"),
    ("makeself-nocheck", "makeself, SETUP_NOCHECK=1"),
    ("unzip", "Info-ZIP unzip -q"),
    ("tar-xzf", "tar xzf of the same files"),
]
GOAL_SIZES = (64, 512)


def quartiles(values):
    if len(values) < 2:
        return values[0], values[0]
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], q[2]


def read_kv(path):
    kv = {}
    if os.path.exists(path):
        for line in open(path):
            if "=" in line:
                k, v = line.rstrip("\n").split("=", 1)
                kv[k] = v
    return kv


def ms(seconds):
    return "%.0f" % (seconds * 1000) if seconds >= 0.1 else "%.1f" % (seconds * 1000)


def main():
    work, out, sizes, adapters = sys.argv[1], sys.argv[2], [int(s) for s in sys.argv[3].split()], \
        [int(a) for a in sys.argv[4].split()]
    machine = read_kv(os.path.join(work, "machine.txt"))
    lines = []
    w = lines.append
    w("# Benchmark results: %s, %s" % (machine.get("date", "?"), machine.get("machine", "?")))
    w("")
    w("Made by `make bench` (bench/bench.sh); see docs/PERFORMANCE.md for what each row measures.")
    w("")
    w("| | |")
    w("|---|---|")
    for key, label in (("cpu", "processor"), ("memory", "memory"), ("kernel", "kernel"), ("tmp", "/tmp file system"),
                       ("load_before", "load average before (1, 5, 15 min)"),
                       ("load_after", "load average after"), ("versions", "tools"), ("seed", "payload seed")):
        w("| %s | %s |" % (label, machine.get(key, "?")))
    w("")

    # ---- extraction times
    times = {}  # (mib, method) -> (median, q1, q3, runs)
    for mib in sizes:
        path = os.path.join(work, "times-%d.json" % mib)
        if not os.path.exists(path):
            continue
        for r in json.load(open(path))["results"]:
            q1, q3 = quartiles(r["times"])
            times[(mib, r["command"])] = (statistics.median(r["times"]), q1, q3, len(r["times"]))
    w("## Extraction of the whole payload (warm cache)")
    w("")
    w("Payload: half random bytes (40 files), half text (260 files). Each method extracts everything")
    w("into a new folder in /tmp (%s) and removes it again. Median of the runs, interquartile range" %
      ("a fresh tmpfs" if machine.get("tmp") == "tmpfs" else "file system " + machine.get("tmp", "?")))
    w("as spread; × floor is the ratio of medians (brackets: the quartiles over the floor's median).")
    w("")
    for mib in sizes:
        floor = times.get((mib, "floor"))
        runs = max([t[3] for (m, _), t in times.items() if m == mib] or [0])
        w("### %d MiB (%d runs each; load average when its timing began: %s)" % (
            mib, runs, machine.get("load_%d" % mib, "?")))
        w("")
        w("| method | median ms | spread ms | × floor |")
        w("|---|---:|---:|---:|")
        for name, label in METHODS:
            t = times.get((mib, name))
            if not t:
                w("| %s | not measured | | |" % label)
                continue
            ratio = "%.2f (%.2f–%.2f)" % (t[0] / floor[0], t[1] / floor[0], t[2] / floor[0]) if floor else "?"
            w("| %s | %s | %s–%s | %s |" % (label, ms(t[0]), ms(t[1]), ms(t[2]), ratio))
        w("")
    with open(os.path.join(work, "sizes.dat"), "w") as f:
        f.write("MiB " + " ".join(n for n, _ in METHODS) + "\n")
        for mib in sizes:
            f.write("%d %s\n" % (mib, " ".join("%.4f" % times[(mib, n)][0] if (mib, n) in times else "?"
                                               for n, _ in METHODS)))

    # ---- memory
    memory = {}
    mpath = os.path.join(work, "memory.txt")
    if os.path.exists(mpath):
        for line in open(mpath):
            parts = line.split()
            if len(parts) == 3 and parts[2].isdigit():
                memory[(int(parts[0]), parts[1])] = int(parts[2])
    w("## Peak resident size (KiB)")
    w("")
    w("pkgstub: its own VmHWM, read by the package's startup command from /proc (the launcher alone,")
    w("not its children). Unzip utilities: `/usr/bin/time` maximum resident size of a run on the")
    w("launcher's command line (`./miniunz image.zip`).")
    w("")
    w("| program | " + " | ".join("%d MiB" % m for m in sizes) + " | largest / smallest |")
    w("|---|" + "---:|" * (len(sizes) + 1))
    for prog in ("pkgstub", "pkgunzip", "miniunzip"):
        vals = [memory.get((m, prog)) for m in sizes]
        if not any(vals):
            continue
        got = [v for v in vals if v]
        w("| %s | %s | %.2f |" % (prog, " | ".join(str(v) if v else "–" for v in vals), max(got) / min(got)))
    w("")

    # ---- nicburn
    nic = {}  # (n, mode) -> list of runs
    npath = os.path.join(work, "nicburn.txt")
    if os.path.exists(npath):
        for line in open(npath):
            n, mode, js = line.split(" ", 2)
            nic.setdefault((int(n), mode), []).append(json.loads(js))
    w("## nicburn against simulated adapters")
    w("")
    w("fwsim adapters, alternately NetXtreme (3 components) and NetXtreme II (5 components); the")
    w("update run rewrites every component. Medians of the runs. Processes: every process the run")
    w("started (counted in a PID namespace of its own); utility runs: fwsim's trace lines. nicburn's")
    w("own CPU time is apart from its children's (/proc/PID/stat, 10 ms ticks).")
    w("")
    w("| mode | adapters | runs | wall ms | ms per adapter | processes | utility runs | nicburn CPU ms | children CPU ms | nicburn CPU / wall | status |")
    w("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    with open(os.path.join(work, "adapters.dat"), "w") as f:
        f.write("# adapters -v update (median wall seconds)\n")
        for n in adapters:
            row = [str(n)]
            for mode in ("-v", "update"):
                runs = nic.get((n, mode))
                if not runs:
                    row.append("?")
                    continue
                wall = statistics.median(r["wall"] for r in runs)
                own = statistics.median(r["self_cpu"] for r in runs)
                kids = statistics.median(r["children_cpu"] for r in runs)
                w("| %s | %d | %d | %s | %.1f | %d | %d | %.0f | %.0f | %.1f %% | %s |" % (
                    mode, n, len(runs), ms(wall), wall * 1000 / n, statistics.median(r["procs"] for r in runs),
                    statistics.median(r["trace"] for r in runs), own * 1000, kids * 1000, 100 * own / wall,
                    ",".join(sorted({str(r["status"]) for r in runs}))))
                row.append("%.4f" % wall)
            f.write(" ".join(row) + "\n")
    w("")

    # ---- goals
    w("## Goals")
    w("")
    goals = []

    def med(mib, name):
        t = times.get((mib, name))
        return t[0] if t else None

    for mib in GOAL_SIZES:
        p, fl, mk = med(mib, "pkg-pkgunzip"), med(mib, "floor"), med(mib, "makeself")
        if p is None or fl is None:
            goals.append("package with pkgunzip ≤ 0.75 × floor at %d MiB: NOT MEASURED" % mib)
        else:
            goals.append("package with pkgunzip ≤ 0.75 × floor at %d MiB: %s (%.2f ×)" % (
                mib, "met" if p <= 0.75 * fl else "NOT MET", p / fl))
        nd = med(mib, "pkg-nodigest")
        if p is None or nd is None:
            goals.append("digest check adds ≤ 10 %% to unpacking at %d MiB: NOT MEASURED" % mib)
        else:
            goals.append("digest check adds ≤ 10 %% to unpacking at %d MiB: %s (%+.1f %%)" % (
                mib, "met" if p <= 1.10 * nd else "NOT MET", 100.0 * (p / nd - 1.0)))
        if p is not None and mk is not None:
            goals.append("package with pkgunzip ≥ 5 × faster than makeself's default at %d MiB: %s (%.1f ×)" % (
                mib, "met" if mk >= 5 * p else "NOT MET", mk / p))
        elif p is None or mk is None:
            goals.append("package ≥ 5 × faster than makeself's default at %d MiB: NOT MEASURED" % mib)
    for prog in ("pkgstub", "pkgunzip"):
        vals = [memory[(m, prog)] for m in sizes if (m, prog) in memory]
        if len(vals) < len(sizes) or not vals:
            goals.append("%s peak resident size flat and under 4 MiB: NOT MEASURED at every size" % prog)
            continue
        flat = max(vals) <= 1.10 * min(vals)
        small = max(vals) < 4096
        goals.append("%s peak resident size within 10 %% across sizes (%s, %d–%d KiB) and under 4 MiB (%s)" % (
            prog, "met" if flat else "NOT MET", min(vals), max(vals), "met" if small else "NOT MET"))
    for mode in ("-v", "update"):
        pts = [n for n in adapters if (n, mode) in nic]
        if not pts:
            continue

        def per(n, key):
            return statistics.median(r[key] for r in nic[(n, mode)]) / n

        if len(pts) >= 2:
            # Linear: what each adapter costs nicburn (processes it starts, its own CPU time) is
            # the same, within 25 %, at the two largest counts.
            a, b = pts[-2], pts[-1]
            procs_ok = per(b, "procs") <= 1.25 * per(a, "procs")
            cpu_ok = per(b, "self_cpu") <= 1.25 * per(a, "self_cpu") + 0.0005
            goals.append("nicburn %s cost linear in adapters: %s (per adapter at %d and %d adapters: %.1f and %.1f "
                         "processes, %.1f and %.1f ms of its own CPU; wall %.1f and %.1f ms, where the "
                         "children's CPU (shells, simulator) per utility run is %.1f and %.1f ms: fwsim reads the whole scenario "
                         "and state on every run)" % (
                             mode, "met" if procs_ok and cpu_ok else "NOT MET", a, b, per(a, "procs"),
                             per(b, "procs"), per(a, "self_cpu") * 1000, per(b, "self_cpu") * 1000,
                             per(a, "wall") * 1000, per(b, "wall") * 1000,
                             1000 * per(a, "children_cpu") / max(per(a, "trace"), 1e-9),
                             1000 * per(b, "children_cpu") / max(per(b, "trace"), 1e-9)))
        shares = []
        for n in pts:
            runs = nic[(n, mode)]
            wall = statistics.median(r["wall"] for r in runs)
            own = statistics.median(r["self_cpu"] for r in runs)
            pause = statistics.median(r.get("upgrades", 0) for r in runs) * 0.001
            shares.append((100 * own / wall, 100 * max(own - pause, 0) / wall, n))
        worst = max(shares)
        goals.append("nicburn %s own CPU under 5 %% of the run: %s (at most %.1f %%, at %d adapters; without the "
                     "1 ms busy pause after each upgrade that the tool must make: %.1f %%)" % (
                         mode, "met" if worst[0] < 5 else "NOT MET", worst[0], worst[2],
                         max(s[1] for s in shares)))
    for g in goals:
        w("- " + g)
    skipped = [s.strip() for s in open(os.path.join(work, "skipped.txt"))] if os.path.exists(
        os.path.join(work, "skipped.txt")) else []
    skipped = [s for s in skipped if s]
    if skipped:
        w("")
        w("Not measured in this run:")
        w("")
        for s in skipped:
            w("- " + s)
    w("")
    w("![time against payload size and against adapters](%s)" % (os.path.basename(out)[:-3] + ".png"))
    w("")
    with open(out, "w") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main()

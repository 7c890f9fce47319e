#!/usr/bin/env python3
# Turns the hyperfine rounds, the system-call counts and the memory readings of
# bench/run into tables of medians and ratios against the peer tools, with the
# spread of the ratio over the rounds and the targets.
import glob
import json
import os
import re
import statistics
import sys

E2E = "zrkupd (verify, unpack, place, record, empty)"
WINE_RUN = "zrkupd.exe under Wine (with test host)"
WINE_UNPACK = "zrk_bench_steps.exe unzip under Wine"
WINE_PLACE = "zrk_bench_steps.exe place under Wine"
NO_FLUSH = "the same under eatmydata (no flush reaches the disk)"
HASH = "hashing every staged file (HashFile, as a build with a package key does)"
WINE_HASH = "zrk_bench_steps.exe hash under Wine"

# (group, label, baseline label, target ratio or None)
NATIVE = [
    ("e2e", E2E, "bsdtar -xf + cp -p", 1.0),
    # The peers made as durable as the run: everything they wrote flushed.
    ("e2e", E2E, "bsdtar -xf + cp -p + sync -f", 1.0),
    ("e2e", "unzip -o -j -q + cp -p", "bsdtar -xf + cp -p", None),
    # The signature check's share of the whole run.
    ("e2e", HASH, E2E, 0.1),
    ("verify", "verification (CheckPackageFile)", "cp package", 1.5),
    ("unpack", "unpacking (DUNZIP through TUnzipFile)", "bsdtar -xf", 1.0),
    ("unpack", "unpacking (DUNZIP through TUnzipFile)", "unzip -o -j -q", None),
    ("place", "placement (PlaceStagedFiles)", "cp -p", 1.2),
    # What the flushes for a power cut cost: the same run with none of them
    # reaching the disk.
    ("flush", E2E, NO_FLUSH, 1.1),
]
WINE = [
    ("run", WINE_RUN, "7za.exe e + xcopy under Wine", 1.0),
    ("run", WINE_HASH, WINE_RUN, 0.1),
    ("unpack", WINE_UNPACK, "7za.exe e under Wine", 0.5),
    ("place", WINE_PLACE, "xcopy /Y /R /K under Wine", 0.8),
]
# The program's fixed start-up timer: part of every run, no part of its work.
TIMER_SECONDS = 0.3
WITH_TIMER = (E2E, WINE_RUN)
MEMORY_LIMIT_MIB = 5.0
MEMORY_FLAT_MIB = 0.25


def load_rounds(folder):
    """Per group and command label, the time of each round (round -> seconds)."""
    times = {}
    for path in sorted(glob.glob(os.path.join(folder, "*.json"))):
        group, round_no = os.path.basename(path)[:-5].rsplit("-", 1)
        with open(path) as f:
            data = json.load(f)
        for result in data["results"]:
            per_round = times.setdefault(group, {}).setdefault(result["command"], {})
            per_round[int(round_no)] = statistics.median(result["times"])
    return times


def load_busy(path):
    """Load average (1 minute) before each round of each group."""
    busy = {}
    if os.path.exists(path):
        with open(path) as f:
            for row in f:
                group, _, load = row.split()
                busy.setdefault(group, []).append(float(load))
    return busy


def busy_note(loads):
    if not loads:
        return ""
    return "%.1f–%.1f" % (min(loads), max(loads))


def row(step, label, baseline, target, times, busy, group, less=0.0):
    mine = times.get(group, {}).get(label)
    theirs = times.get(group, {}).get(baseline)
    if not mine or not theirs:
        return None
    rounds = sorted(set(mine) & set(theirs))
    ratios = [(mine[r] - less) / theirs[r] for r in rounds]
    a = statistics.median(mine.values()) - less
    b = statistics.median(theirs.values())
    ratio = statistics.median(ratios)
    met = "" if target is None else ("yes" if ratio <= target else "**no**")
    shown = label if less == 0 else "%s, less the fixed %.0f ms timer" % (label, less * 1000)
    line = "| %s | %s | %.3f s | %s | %.3f s | %.2f× | %.2f–%.2f× | %s | %s | %s |" % (
        step, shown, a, baseline, b, ratio, min(ratios), max(ratios),
        "" if target is None else "≤ %.1f×" % target, met, busy_note(busy.get(group)))
    if less == 0 and label in WITH_TIMER and baseline != NO_FLUSH:
        # The same run with the timer taken out: what the work itself costs.
        line += "\n" + row(step, label, baseline, None, times, busy, group, TIMER_SECONDS)
    return line


TABLE_HEAD = ["| step | command | median | against | median | ratio (median of rounds) | "
              "spread over rounds | target | met | load average |",
              "|---|---|---|---|---|---|---|---|---|---|"]


def parse_strace(path):
    """(label, files, {syscall: calls}) from an `strace -c` summary."""
    with open(path) as f:
        first = f.readline().split()
        counts = {}
        for line in f:
            parts = line.split()
            if len(parts) >= 5 and re.match(r"^[0-9.]+$", parts[0]) and parts[-1] != "total":
                calls = int(parts[3])
                counts[parts[-1]] = counts.get(parts[-1], 0) + calls
    return first[0], int(first[1]), counts


def parse_relay(path):
    with open(path) as f:
        first = f.readline().split()
        counts = {}
        for line in f:
            n, _, name = line.split()
            counts[name.replace("KERNEL32.", "")] = int(n)
    return first[0], int(first[1]), counts


def syscall_lines(calls_dir):
    lines = []
    native = {}
    for path in sorted(glob.glob(os.path.join(calls_dir, "native-*.txt"))):
        label, files, counts = parse_strace(path)
        native[label] = (files, counts)
    if native:
        names = sorted({n for _, c in native.values() for n in c},
                       key=lambda n: -max(c.get(n, 0) / f for f, c in native.values()))
        labels = [l for l in ("unpack", "bsdtar", "place", "cp-p") if l in native]
        lines += ["", "## System calls per file, natively (`strace -c -f`, %d files)" %
                  next(iter(native.values()))[0], "",
                  "| call | " + " | ".join(labels) + " |",
                  "|---|" + "---|" * len(labels)]
        for n in names:
            per = [native[l][1].get(n, 0) / native[l][0] for l in labels]
            if max(per) < 0.5:
                continue
            lines.append("| %s | %s |" % (n, " | ".join("%.1f" % p for p in per)))
        totals = [sum(native[l][1].values()) / native[l][0] for l in labels]
        lines.append("| **all** | %s |" % " | ".join("%.1f" % t for t in totals))
        lines += ["", "unpack = `zrk_bench_steps unzip`, place = `zrk_bench_steps place`; "
                  "the peers are `bsdtar -xf` and `cp -p`."]

    wine = {}
    for path in sorted(glob.glob(os.path.join(calls_dir, "wine-*.txt"))):
        step, files, counts = parse_relay(path)
        wine.setdefault(step, []).append((files, counts))
    if wine:
        lines += ["", "## Win32 file calls per file under Wine (Wine's relay trace)", "",
                  "Counted at two sizes; (calls of the larger − calls of the smaller) / "
                  "(difference in files), so what a run does once drops out.", "",
                  "| call | per unpacked file | per placed file |", "|---|---|---|"]
        per = {}
        for step, runs in wine.items():
            runs.sort()
            if len(runs) < 2:
                continue
            (f1, c1), (f2, c2) = runs[0], runs[-1]
            per[step] = {n: (c2.get(n, 0) - c1.get(n, 0)) / (f2 - f1) for n in set(c1) | set(c2)}
        names = sorted({n for p in per.values() for n in p},
                       key=lambda n: -sum(p.get(n, 0) for p in per.values()))
        for n in names:
            u, p = per.get("unpack", {}).get(n, 0), per.get("place", {}).get(n, 0)
            if max(u, p) < 0.05:
                continue
            lines.append("| %s | %.1f | %.1f |" % (n, u, p))
        lines.append("| **all** | %.1f | %.1f |" % (
            sum(per.get("unpack", {}).values()), sum(per.get("place", {}).values())))
    return lines


def memory_lines(memory_file):
    if os.path.getsize(memory_file) == 0:
        return []  # a run that measured no memory
    lines = ["", "## Peak memory (`/usr/bin/time -v`, maximum resident set size)", "",
             "| program | package (files x MB) | peak RSS | target | met |", "|---|---|---|---|---|"]
    own = {}
    with open(memory_file) as f:
        for entry in f:
            program, package, kib = entry.split()
            mib = int(kib) / 1024
            mine = program == "zrkupd"
            if mine:
                own[package] = mib
            met = ("yes" if mib <= MEMORY_LIMIT_MIB else "**no**") if mine else ""
            lines.append("| %s | %s | %.2f MiB | %s | %s |" % (
                program, package, mib, "≤ %.0f MiB" % MEMORY_LIMIT_MIB if mine else "", met))
    # Size and file count apart: 200 files of 20 and of 200 MB, then 200 and
    # 10,000 files of 20 MB.
    for a, b, what in (("200x20", "200x200", "20 MB and 200 MB (200 files each)"),
                       ("200x20", "10000x20", "200 and 10,000 files (20 MB each)"),
                       ("200x20", "30000x30", "200 and 30,000 files (20 and 30 MB)")):
        if a in own and b in own:
            growth = own[b] - own[a]
            lines.append("")
            lines.append("Same peak for %s (within %.2f MiB): %s (%+.2f MiB)." % (
                what, MEMORY_FLAT_MIB, "yes" if abs(growth) <= MEMORY_FLAT_MIB else "**no**",
                growth))
    return lines


def main():
    rounds, memory_file, calls_dir, load_file, notes_file, out_file, context_file = sys.argv[1:8]
    times = load_rounds(rounds)
    busy = load_busy(load_file)
    lines = ["# Benchmark results", ""]
    with open(context_file) as f:
        lines += f.read().rstrip("\n").split("\n")
    lines += ["", "The load average (1 minute, taken before each round) says how busy the two cores "
              "were: above 2, other work ran beside the benchmark and the times carry its noise; "
              "the ratios of one round share it.", "",
              "## Natively, the large corpus", ""] + TABLE_HEAD
    for group, label, baseline, target in NATIVE:
        r = row(group, label, baseline, target, times, busy, group)
        if r:
            lines.append(r)

    flat = sorted((g for g in times if g.startswith("flat_")),
                  key=lambda g: int(g.split("_")[1].split("x")[0]))
    if flat:
        lines += ["", "## Natively, many files in one folder (each replacing its older copy)", ""]
        lines += TABLE_HEAD
        per_file = []
        for group in flat:
            files = int(group.split("_")[1].split("x")[0])
            r = row("place, %d files" % files, "placement (PlaceStagedFiles)", "cp -p", 1.2,
                    times, busy, group)
            if r:
                lines.append(r)
                mine = times[group]["placement (PlaceStagedFiles)"].values()
                per_file.append((files, statistics.median(mine) / files))
        if len(per_file) > 1:
            lines += ["", "Time per placed file: " + ", ".join(
                "%.0f µs at %d files" % (t * 1e6, n) for n, t in per_file) +
                " (the same at every size when the cost is linear in the folder's size)."]

    wine_groups = sorted({g.split("_")[1] for g in times if g.startswith("wine_")},
                         key=lambda s: int(s.split("x")[0]))
    if wine_groups:
        lines += ["", "## Under Wine, one prefix with a running wineserver", ""] + TABLE_HEAD
        for corpus in wine_groups:
            for step, label, baseline, target in WINE:
                group = "wine_%s_%s" % (corpus, step)
                r = row("%s, %s files" % (step, corpus.split("x")[0]), label, baseline, target,
                        times, busy, group)
                if r:
                    lines.append(r)

    lines += syscall_lines(calls_dir)
    lines += memory_lines(memory_file)
    if os.path.exists(notes_file):
        with open(notes_file) as f:
            lines += [""] + f.read().rstrip("\n").split("\n")
    with open(out_file, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
# Turns the hyperfine rounds and the memory readings of bench/run into one
# table of medians and ratios against the peer tools, with the targets.
import glob
import json
import os
import statistics
import sys

# (group, label, baseline label, target ratio or None)
COMPARISONS = [
    ("e2e", "zrkupd (verify, unpack, place, record, empty)", "bsdtar -xf + cp -p", 1.0),
    ("e2e", "unzip -o -j -q + cp -p", "bsdtar -xf + cp -p", None),
    ("verify", "verification (CheckPackageFile)", "cp package", 1.5),
    ("unpack", "unpacking (DUNZIP through TUnzipFile)", "bsdtar -xf", 1.0),
    ("unpack", "unzip -o -j -q", "bsdtar -xf", None),
    ("unpack", "unpacking (DUNZIP through TUnzipFile)", "unzip -o -j -q", None),
    ("place", "placement (PlaceStagedFiles)", "cp -p", None),
    ("wine", "zrkupd.exe under Wine (with test host)", "zrkupd native", 2.0),
]


def load_rounds(folder):
    """Times per group and command label, every round's run."""
    times = {}
    for path in sorted(glob.glob(os.path.join(folder, "*.json"))):
        group = os.path.basename(path).split("-")[0]
        with open(path) as f:
            data = json.load(f)
        for result in data["results"]:
            label = result.get("command")
            times.setdefault(group, {}).setdefault(label, []).extend(result["times"])
    return times


def seconds(value):
    return "%.3f s" % value


def main():
    rounds, memory_file, notes_file, out_file, context_file = sys.argv[1:6]
    times = load_rounds(rounds)
    lines = ["# Benchmark results", ""]
    with open(context_file) as f:
        lines += f.read().rstrip("\n").split("\n")
    lines += ["", "## Medians and ratios", "",
              "| step | command | median | runs | against | median | ratio | target | met |",
              "|---|---|---|---|---|---|---|---|---|"]
    for group, label, baseline, target in COMPARISONS:
        mine = times.get(group, {}).get(label)
        theirs = times.get(group, {}).get(baseline)
        if not mine or not theirs:
            continue
        a, b = statistics.median(mine), statistics.median(theirs)
        ratio = a / b
        met = "" if target is None else ("yes" if ratio <= target else "**no**")
        lines.append("| %s | %s | %s | %d | %s | %s | %.2f× | %s | %s |" % (
            group, label, seconds(a), len(mine), baseline, seconds(b), ratio,
            "" if target is None else "≤ %.1f×" % target, met))

    lines += ["", "## Peak memory (`/usr/bin/time -v`, maximum resident set size)", "",
              "| program | package | peak RSS | target | met |", "|---|---|---|---|---|"]
    own = []
    with open(memory_file) as f:
        for row in f:
            program, package, kib = row.split()
            mib = int(kib) / 1024
            mine = program == "zrkupd"
            if mine:
                own.append(mib)
            met = ("yes" if mib <= 6.0 else "**no**") if mine else ""
            lines.append("| %s | %s | %.2f MiB | %s | %s |" % (
                program, package, mib, "≤ 6 MiB" if mine else "", met))
    if len(own) == 2:
        growth = own[1] - own[0]
        same = abs(growth) < 0.05
        lines += ["", "Same peak for the small and the large package: %s (%+.2f MiB)." % (
            "yes" if same else "**no**", growth)]

    if os.path.exists(notes_file):
        with open(notes_file) as f:
            lines += [""] + f.read().rstrip("\n").split("\n")
    with open(out_file, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()

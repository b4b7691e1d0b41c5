#!/usr/bin/env python3
"""Prints the before/after tables of docs/performance.md from a run of
scripts/run-benchmarks.sh with VESTREL_BENCH_BEFORE set: the benchmark program
built from the code before a change and the one built now, run in turn, each
round with its benchmarks in random order. Every figure is the median over the
rounds of the CPU time per sample; the baseline and the rivals are the current
program's (their code is the same in both).

Usage: compare.py DIR   (DIR holds before-N.json and after-N.json)
"""
import glob
import json
import os
import statistics
import sys


def load(pattern):
    """benchmark name -> (median ns per sample over the files, kept, load averages)."""
    samples, kept, loads = {}, {}, []
    for path in sorted(glob.glob(pattern)):
        with open(path) as source:
            data = json.load(source)
        loads.append(data["context"].get("load_avg", [0])[0])
        for run in data["benchmarks"]:
            if run.get("run_type") == "aggregate" or "time_per_sample" not in run:
                continue
            samples.setdefault(run["run_name"], []).append(run["time_per_sample"] * 1e9)
            if "kept" in run:
                kept[run["run_name"]] = int(run["kept"])
    return {name: statistics.median(v) for name, v in samples.items()}, kept, loads, samples


def cell(value, digits=2):
    return "n/a" if value is None else f"{value:.{digits}f}"


def ratio(a, b):
    return None if a is None or b is None else a / b


def main():
    folder = sys.argv[1]
    before, _, loads_before, _ = load(os.path.join(folder, "before-*.json"))
    after, kept, loads_after, runs = load(os.path.join(folder, "after-*.json"))
    rounds = max((len(v) for v in runs.values()), default=0)
    loads = loads_before + loads_after
    print(f"{rounds} rounds; 1-minute load average {min(loads):.1f} to {max(loads):.1f}.")
    print()
    print("| helix | SimplifyPath before | after | baseline | Reumann-Witkam -O3 (kept) "
          "| angle filter -O3 (kept) | after / baseline | after / angle filter "
          "| after / Reumann-Witkam | after / before |")
    print("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for samples in (1000, 100000, 1000000, 10000000):
        name = f"helix/{samples}"
        ours, old = after.get(f"SimplifyPath/{name}"), before.get(f"SimplifyPath/{name}")
        if ours is None:
            continue
        base = after.get(f"Baseline/{name}")
        rw, angle = after.get(f"ReumannWitkam/{name}"), after.get(f"AngleFilter/{name}")
        kept_of = lambda who: format(kept.get(f"{who}/{name}", 0), ",")
        print(f"| {samples:,} | {cell(old)} | **{cell(ours)}** | {cell(base)} "
              f"| {cell(rw)} ({kept_of('ReumannWitkam')}) | {cell(angle)} ({kept_of('AngleFilter')}) "
              f"| {cell(ratio(ours, base))} | {cell(ratio(ours, angle))} | {cell(ratio(ours, rw))} "
              f"| {cell(ratio(ours, old))} |")
    print()
    print("| 1,000,000 samples | before ns/sample | after ns/sample | after / before "
          "| after / baseline |")
    print("|---|---:|---:|---:|---:|")
    for name in sorted(after):
        if not name.endswith("/1000000") or not name.startswith(("Baseline/", "SimplifyPath/",
                                                                  "Breakdown/")):
            continue
        shape = "helix" if name.startswith("Breakdown/") else name.split("/")[1]
        base = after.get(f"Baseline/{shape}/1000000")
        print(f"| {name[:-len('/1000000')]} | {cell(before.get(name))} | {cell(after[name])} "
              f"| {cell(ratio(after[name], before.get(name)))} | {cell(ratio(after[name], base))} |")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Turns the JSON of a vestrel_benchmarks run into the Markdown tables of
docs/performance.md: medians of the repetitions (CPU time), SimplifyPath's
time as a ratio to the read-and-link baseline and to the two -O3 rivals
(Reumann-Witkam, the bare angle filter), all from the same run, the
Douglas-Peucker rival, and the plug-in's own cost per frame of 'SETM' + 'GENM'.

Usage: report.py RESULTS.json
"""
import json
import sys


def medians(benchmarks):
    """run name -> the median aggregate (or the single run without repetitions)."""
    result = {}
    for run in benchmarks:
        name = run["run_name"]
        if run.get("run_type") == "aggregate":
            if run.get("aggregate_name") == "median":
                result[name] = run
        elif name not in result:
            result[name] = run
    return result


def cell(value, digits=2):
    return "n/a" if value is None else f"{value:.{digits}f}"


def per_item_ns(run, counter):
    return None if run is None else run[counter] * 1e9


def main():
    with open(sys.argv[1]) as source:
        data = json.load(source)
    runs = medians(data["benchmarks"])
    context = data["context"]
    print(f"Run of {context['date']}: {context['num_cpus']} CPUs at {context['mhz_per_cpu']} MHz, "
          f"load average {', '.join(f'{x:.2f}' for x in context.get('load_avg', []))}; "
          f"medians of the CPU time of each benchmark's repetitions; "
          f"SimplifyPath's sweep: {context.get('sweep', 'n/a')}.")
    print()

    print("| path | samples | SimplifyPath ns/sample | baseline | Reumann-Witkam -O3 (kept) "
          "| angle filter -O3 (kept) | SimplifyPath / baseline | SimplifyPath / Reumann-Witkam "
          "| SimplifyPath / angle filter |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name, run in runs.items():
        if not name.startswith("SimplifyPath/"):
            continue
        _, shape, samples = name.split("/")
        ours = per_item_ns(run, "time_per_sample")
        baseline = per_item_ns(runs.get(f"Baseline/{shape}/{samples}"), "time_per_sample")
        rw_run = runs.get(f"ReumannWitkam/{shape}/{samples}")
        angle_run = runs.get(f"AngleFilter/{shape}/{samples}")
        rw = per_item_ns(rw_run, "time_per_sample")
        angle = per_item_ns(angle_run, "time_per_sample")
        kept = lambda r: "n/a" if r is None else format(int(r["kept"]), ",")
        print(f"| {shape} | {int(samples):,} | {cell(ours)} | {cell(baseline)} "
              f"| {cell(rw)} ({kept(rw_run)}) | {cell(angle)} ({kept(angle_run)}) "
              f"| {cell(ours / baseline if baseline else None)} "
              f"| {cell(ours / rw if rw else None)} | {cell(ours / angle if angle else None)} |")
    print()

    print("| path | samples | SimplifyPath ns/sample | M samples/s | kept | baseline ns/sample "
          "| ratio to baseline | Douglas-Peucker ns/sample | DP kept | DP / SimplifyPath |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name, run in runs.items():
        if not name.startswith("SimplifyPath/"):
            continue
        _, shape, samples = name.split("/")
        ours = per_item_ns(run, "time_per_sample")
        baseline = per_item_ns(runs.get(f"Baseline/{shape}/{samples}"), "time_per_sample")
        rival_run = runs.get(f"BoostDouglasPeucker/{shape}/{samples}")
        rival = per_item_ns(rival_run, "time_per_sample")
        print(f"| {shape} | {int(samples):,} | {cell(ours)} | {cell(run['items_per_second'] / 1e6, 0)} "
              f"| {int(run['kept']):,} | {cell(baseline)} "
              f"| {cell(ours / baseline if baseline else None)} | {cell(rival)} "
              f"| {'n/a' if rival_run is None else format(int(rival_run['kept']), ',')} "
              f"| {cell(rival / ours if rival else None, 1)} |")
    print()

    breakdown = [(name, run) for name, run in runs.items() if name.startswith("Breakdown/")]
    if breakdown:
        baseline = per_item_ns(runs.get("Baseline/helix/1000000"), "time_per_sample")
        ours = per_item_ns(runs.get("SimplifyPath/helix/1000000"), "time_per_sample")
        print("| helix, 1,000,000 samples | ns/sample | ratio to baseline |")
        print("|---|---:|---:|")
        print(f"| Baseline | {cell(baseline)} | 1.00 |")
        print(f"| SimplifyPath, tolerance 5 | {cell(ours)} | {cell(ours / baseline if ours and baseline else None)} |")
        for name, run in breakdown:
            value = per_item_ns(run, "time_per_sample")
            print(f"| {name.split('/')[1]} | {cell(value)} | {cell(value / baseline if baseline else None)} |")
        print()

    print("| path | frames | SETM + GENM ns/frame | host calls only ns/frame | plug-in's own ns/frame | kept |")
    print("|---|---:|---:|---:|---:|---:|")
    for name, run in runs.items():
        if not name.startswith("SetupAndGenerate/"):
            continue
        _, shape, frames = name.split("/")
        total = per_item_ns(run, "time_per_frame")
        host_only = per_item_ns(runs.get(f"HostCallsOnly/{shape}/{frames}"), "time_per_frame")
        own = None if host_only is None else total - host_only
        print(f"| {shape} | {int(frames):,} | {cell(total)} | {cell(host_only)} | {cell(own)} "
              f"| {int(run['kept']):,} |")


if __name__ == "__main__":
    main()

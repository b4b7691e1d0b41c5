#!/usr/bin/env bash
# Builds and runs the benchmarks, then prints the tables of docs/performance.md.
#
#   scripts/run-benchmarks.sh [benchmark options...]
#
# Runs every benchmark VESTREL_BENCH_REPETITIONS times (default 5), the
# repetitions of all benchmarks interleaved in random order (so that a busy
# moment of the machine does not fall on one contender alone), and reports the
# medians, with SimplifyPath's time as a ratio to the baseline and to each
# rival from the same run. Extra options go to the benchmark program, for instance
# --benchmark_filter='SimplifyPath/helix/1000000$|Baseline/helix/1000000$'.
# The build is the default preset's (build/default); VESTREL_BENCH_BUILD_DIR
# names another build directory, configured with the same settings.
# The raw results stay in <build dir>/benchmarks.json.
#
# VESTREL_BENCH_BEFORE=<program> compares instead: that benchmark program,
# built from the code before a change, and this one run in turn, once each per
# round for VESTREL_BENCH_REPETITIONS rounds, every round with its benchmarks
# in random order; benchmarks/compare.py prints the medians side by side. The
# rounds' results stay in <build dir>/before-after/.
set -euo pipefail
cd "$(dirname "$0")/.."

repetitions=${VESTREL_BENCH_REPETITIONS:-5}
build_dir=${VESTREL_BENCH_BUILD_DIR:-build/default}

if [ "$build_dir" = build/default ]; then
  cmake --preset default >/dev/null
else
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build_dir" --target vestrel_benchmarks

program="$build_dir/benchmarks/vestrel_benchmarks"
if [ ! -x "$program" ]; then
  echo "No benchmark program: Google Benchmark (libbenchmark-dev) is missing." >&2
  exit 1
fi

echo "Processor: $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | cut -d: -f2- | sed 's/^ //'), $(nproc) cores"
echo "Compiler:  $(grep -m1 '^CMAKE_CXX_COMPILER:' "$build_dir/CMakeCache.txt" | cut -d= -f2) ($("$(grep -m1 '^CMAKE_CXX_COMPILER:' "$build_dir/CMakeCache.txt" | cut -d= -f2)" --version | head -1))"
echo "Build:     $(grep -m1 '^CMAKE_BUILD_TYPE:' "$build_dir/CMakeCache.txt" | cut -d= -f2)"
echo

if [ -n "${VESTREL_BENCH_BEFORE:-}" ]; then
  folder="$build_dir/before-after"
  rm -rf "$folder" && mkdir -p "$folder"
  for round in $(seq "$repetitions"); do
    for side in before after; do
      side_program=$program
      [ "$side" = before ] && side_program=$VESTREL_BENCH_BEFORE
      "$side_program" --benchmark_enable_random_interleaving=true \
        --benchmark_out="$folder/$side-$round.json" --benchmark_out_format=json "$@" >/dev/null
    done
    echo "round $round of $repetitions done ($(cut -d' ' -f1-3 /proc/loadavg) load)"
  done
  python3 benchmarks/compare.py "$folder"
  exit 0
fi

results="$build_dir/benchmarks.json"
"$program" --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
  --benchmark_enable_random_interleaving=true \
  --benchmark_out="$results" --benchmark_out_format=json "$@"

echo
if command -v python3 >/dev/null; then
  python3 benchmarks/report.py "$results"
else
  echo "python3 is missing: the tables are not made; the results are in $results"
fi

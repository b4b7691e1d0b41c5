#!/usr/bin/env bash
# Runs every fuzz target for a long while, one after another, keeping the
# corpus each one grows in a folder outside the repository, so that the next
# soak starts where this one ended. CI keeps its short runs (scripts/test.sh).
#
#   scripts/fuzz-soak.sh [SECONDS]      each target SECONDS (default 600)
#
#   VESTREL_FUZZ_CORPUS   where the corpora live (default ~/.cache/vestrel-fuzz)
#   VESTREL_FUZZ_TARGETS  which targets (default: every one the build has)
#
# Prints, per target, the inputs run, the coverage reached and the corpus size;
# a crash leaves its input in <corpus>/<target>/artifacts and the script exits
# non-zero at the end. Copy such an input into fuzz/corpus/<target>/ to keep
# it as a regression test.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-600}"
corpus_root="${VESTREL_FUZZ_CORPUS:-$HOME/.cache/vestrel-fuzz}"

cmake --preset fuzz >/dev/null && cmake --build --preset fuzz || exit 1

targets=()
if [ -n "${VESTREL_FUZZ_TARGETS:-}" ]; then
  read -r -a targets <<<"$VESTREL_FUZZ_TARGETS"
else
  for program in build/fuzz/fuzz/vestrel_fuzz_*; do
    name=$(basename "$program")
    case "$name" in vestrel_fuzz_replay_*) continue ;; esac
    targets+=("${name#vestrel_fuzz_}")
  done
fi

failed=0
for target in "${targets[@]}"; do
  corpus="$corpus_root/$target"
  mkdir -p "$corpus/inputs" "$corpus/artifacts"
  echo "== $target: ${seconds} s, corpus $corpus/inputs =="
  log="$corpus/last-run.log"
  build/fuzz/fuzz/vestrel_fuzz_"$target" -max_total_time="$seconds" -print_final_stats=1 \
    -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$corpus/artifacts/" \
    "$corpus/inputs" "fuzz/corpus/$target" >"$log" 2>&1
  status=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
  coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  inputs=$(find "$corpus/inputs" -type f | wc -l)
  echo "  ${runs:-?} inputs run, ${coverage:-cov: ?} edges, $inputs inputs in the corpus"
  if [ $status -ne 0 ]; then
    echo "  FOUND A FAULT: see $log and $corpus/artifacts"
    failed=1
  fi
done
exit $failed

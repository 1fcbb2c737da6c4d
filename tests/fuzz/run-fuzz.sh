#!/usr/bin/env bash
# Runs every fuzz target (or the ones named) for a set time on a scratch copy of its seed
# corpus, two at a time, and fails when any target finds a crash, a leak or a hang.
#   tests/fuzz/run-fuzz.sh BUILD_DIR SECONDS [TARGET...]
# Environment: FUZZ_JOBS (targets run at once, default 2), FUZZ_FLAGS (extra libFuzzer options).
# Everything a run writes stays under BUILD_DIR/fuzz-work/<target>/: the growing corpus, crash
# inputs (crash-*, leak-*, timeout-*), the log, and the targets' temporary directories.
set -uo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: run-fuzz.sh BUILD_DIR SECONDS [TARGET...]}" && pwd)" || exit 2
seconds="${2:?usage: run-fuzz.sh BUILD_DIR SECONDS [TARGET...]}"
shift 2
jobs="${FUZZ_JOBS:-2}"

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for dir in "$here"/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

run_one() {
  local target="$1" work="$build/fuzz-work/$1"
  local bin="$build/bin/$target"
  if [ ! -x "$bin" ]; then
    echo "fuzz: $target: no program at $bin; build the fuzz targets first (make fuzz)" >&2
    return 1
  fi
  mkdir -p "$work/corpus" "$work/artifacts" "$work/tmp"
  # The seeds join what earlier runs found; the repository's corpus is never written.
  cp -n "$here/corpus/$target/"* "$work/corpus/"
  # FUZZ_FLAGS holds several options: split on purpose.
  # shellcheck disable=SC2086
  TMPDIR="$work/tmp" "$bin" -max_total_time="$seconds" -timeout=10 -close_fd_mask=3 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" ${FUZZ_FLAGS:-} "$work/corpus" \
    >"$work/log" 2>&1
  local status=$?
  local stats
  stats="$(grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$work/log" | sed 's/^stat:://' | tr '\n' ' ')"
  if [ $status -ne 0 ]; then
    echo "fuzz: $target FAILED (status $status) after ${seconds}s; input and report:" >&2
    ls "$work/artifacts" >&2
    grep -E 'ERROR|SUMMARY|property broken|Test unit written' "$work/log" | head -20 >&2
    echo "fuzz: full log: $work/log" >&2
    return 1
  fi
  echo "fuzz: $target ok in ${seconds}s: $stats corpus $(find "$work/corpus" -maxdepth 1 -type f | wc -l) files"
}

failed=0
running=0
pids=()
for target in "${targets[@]}"; do
  run_one "$target" &
  pids+=($!)
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
    running=$((running - 1))
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit $failed

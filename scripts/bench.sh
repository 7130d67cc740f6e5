#!/usr/bin/env bash
# Runs every benchmark program of the build; BENCH_FILTER narrows them (Google Benchmark regex).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
for program in "$root"/build/bench/*; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program" ${BENCH_FILTER:+--benchmark_filter="$BENCH_FILTER"}
done

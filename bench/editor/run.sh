#!/bin/sh
# Runs each editor benchmark in its own process, so that its peak resident size is its
# own, then times hbtcfg end to end on the limits configuration.
# Usage: bench/editor/run.sh [BUILD_DIR]   (default: build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
bench=$build/bench/editor_bench
for name in BM_Save BM_Open BM_CsvExport BM_CsvImport; do
  "$bench" --benchmark_filter="^$name\$" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep -E "^$name"
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HBT_REGISTRY_DIR="$work/registry"
cfg=$build/bin/hbtcfg
echo "hbtcfg end to end (wall seconds, peak KiB):"
/usr/bin/time -f "  import  %e s  %M KiB" "$cfg" import "$root/examples/limits.csv" -o "$work/limits.HBT" >/dev/null
/usr/bin/time -f "  check   %e s  %M KiB" "$cfg" check "$work/limits.HBT" >/dev/null
/usr/bin/time -f "  export  %e s  %M KiB" "$cfg" export "$work/limits.HBT" -o "$work/limits.csv" >/dev/null

#!/usr/bin/env bash
# Every figure the project reports: the Google Benchmark programs (build/bench/*_bench), then
# the whole-process load runs. BENCH_FILTER narrows the benchmarks (a Google Benchmark regex);
# LOAD_SECONDS sets the length of each load run (default 10).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
seconds=${LOAD_SECONDS:-10}
for program in "$build"/bench/*_bench; do
  [ -x "$program" ] || continue
  [ "$(basename "$program")" = editor_bench ] && continue  # run.sh below runs it one process a case
  echo "== $(basename "$program")"
  "$program" ${BENCH_FILTER:+--benchmark_filter="$BENCH_FILTER"}
done
echo "== editor: save, open and CSV of the limits configuration, with peak memory"
"$root/bench/editor/run.sh" "$build"
if [ -x "$build/bench/editor_ui_timing" ]; then
  echo "== editor windows: start-up, channel switch and status tick on the limits configuration"
  "$root/bench/editor_ui/run.sh" "$build"
fi
echo "== simulator: requests per second on loopback"
"$root/bench/mcsim/run_load.sh" "$build" 3
echo "== poller: 32 busy channels, idle poller, reply conversion"
"$root/scripts/load/poller_load.sh" "$build" "$seconds"
echo "== OPC end to end: change-to-callback latency, server CPU with 10,000 items"
"$root/bench/opc_client/run.sh" "$build" "$seconds"
if [ -x "$build/bench/mqtt_end_to_end" ] || grep -q mqtt_end_to_end "$build/build.ninja" 2>/dev/null; then
  echo "== MQTT edge node: 100,000 metrics over 32 PLCs, 10,000 changes a second"
  "$root/bench/mqtt/run.sh" "$build" "$seconds"
fi
if [ -f "$build/lib/hbtua/node_modules/.hbt-installed" ]; then
  echo "== OPC UA server: 100,000 variables over 32 PLCs, 10,000 changes a second, 10 clients"
  "$root/bench/ua/run.sh" "$build" "$seconds"
fi

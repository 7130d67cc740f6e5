#!/bin/sh
# hbtmqtt under load: 100,000 metrics over 32 PLCs, 10,000 changes a second; latency from a
# change in mcsim to its DDATA decoded by a subscriber, hbtmqtt's CPU and memory per metric.
# Usage: bench/mqtt/run.sh [BUILD_DIR] [SECONDS]
set -eu
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$here/build}
seconds=${2:-20}
cmake --build "$build" --target mqtt_end_to_end -j 2 >/dev/null
echo "== load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
"$build/bench/mqtt_end_to_end" --seconds "$seconds"

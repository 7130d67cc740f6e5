#!/bin/sh
# Whole-process load figures of the poller against mcsim on loopback:
#   32 channels with every record due every tick (requests/s per channel, CPU, tick lateness),
#   over UDP 3E binary and TCP 1E ASCII, and an idle poller with 10,000 records none of which
#   is due (CPU), next to a poller with one record (the cost of the 10 ms tick itself).
# Usage: scripts/load/poller_load.sh [BUILD_DIR] [SECONDS]
set -eu
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$here/build}
seconds=${2:-20}
case "$build" in /*) ;; *) build=$here/$build ;; esac

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  echo "poller_load.sh: $build is not a configured build directory" >&2
  exit 2
fi
cmake --build "$build" --target HBTSPOLL mcsim poller_load poller_bench -j 2 >/dev/null

load=$build/bench/poller_load
echo "== load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
echo "== busy, UDP 3E binary"
"$load" --mode busy --channels 32 --records 4 --seconds "$seconds"
echo "== busy, TCP 1E ASCII"
"$load" --mode busy --channels 32 --records 4 --seconds "$seconds" --tcp --frame 1e-ascii
echo "== idle, 10000 records"
"$load" --mode idle --channels 32 --records 10000 --seconds "$seconds"
echo "== idle, 1 record (the tick alone)"
"$load" --mode idle --channels 1 --records 1 --seconds "$seconds"
echo "== reply conversion"
"$build/bench/poller_bench" --benchmark_min_time=0.2

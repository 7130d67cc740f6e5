#!/bin/sh
# OPC figures end to end: latency from a change in mcsim to the subscriber's OnDataChange, and
# the CPU share of the server's process with 10,000 subscribed items, 100 changing a second.
# Usage: bench/opc_client/run.sh [BUILD_DIR] [SECONDS]
set -eu
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$here/build}
seconds=${2:-20}
cmake --build "$build" --target opc_end_to_end -j 2 >/dev/null
echo "== load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
"$build/bench/opc_end_to_end" latency "$seconds"
"$build/bench/opc_end_to_end" cpu "$seconds"

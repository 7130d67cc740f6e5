#!/usr/bin/env bash
# Requests per second one mcsim endpoint serves on loopback, over UDP and TCP, and the
# server's CPU time per request. Usage: run_load.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
build=${1:-$(dirname "$0")/../../build}
seconds=${2:-3}
mcsim=$build/bin/mcsim
load=$build/bench/mcsim_load
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

"$mcsim" --listen udp:0:3e-binary --listen tcp:0:3e-binary --listen tcp:0:1e-binary \
  --port-file "$work/ports" --no-stdin --quiet &
pid=$!
for _ in $(seq 100); do [ -s "$work/ports" ] && break; sleep 0.05; done
udp=$(awk 'NR==1{print $2}' "$work/ports")
tcp=$(awk 'NR==2{print $2}' "$work/ports")
tcp1e=$(awk 'NR==3{print $2}' "$work/ports")

for clients in 1 4; do
  "$load" --udp "$udp" --clients "$clients" --seconds "$seconds" --pid "$pid"
  "$load" --tcp "$tcp" --clients "$clients" --seconds "$seconds" --pid "$pid"
done
"$load" --tcp "$tcp1e" --frame 1e-binary --clients 4 --seconds "$seconds" --pid "$pid"

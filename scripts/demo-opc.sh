#!/usr/bin/env bash
# The demo plant seen through the OPC server: the plant of `make demo` runs in the background
# while hbtopc, an OPC DA client, browses the server's address space, reads item properties
# and values, and subscribes to a few points, printing every change the subscription
# receives. DEMO_SECONDS=N sets how long the subscription runs (default 10); exits 0 only when
# every subscribed point delivered a good value.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin
seconds=${DEMO_SECONDS:-10}
export HBT_NAMESPACE=hbtopcdemo$$_
export HBT_REGISTRY_DIR=$root/build/demo/registry
log=$root/build/demo-opc-plant.log

rm -f "$root/build/demo/DEMO.HBT"
setsid env DEMO_SECONDS=$((seconds + 60)) "$root/scripts/demo.sh" >"$log" 2>&1 &
plant_pgid=$!
stop_plant() {
  "$bin/hbtio" shutdown >/dev/null 2>&1 || true
  kill -- -"$plant_pgid" 2>/dev/null || true
  wait "$plant_pgid" 2>/dev/null || true
}
trap stop_plant EXIT
for _ in $(seq 300); do
  [ -s "$root/build/demo/DEMO.HBT" ] && "$bin/hbtio" status >/dev/null 2>&1 && break
  sleep 0.1
done
"$bin/hbtio" status >/dev/null 2>&1 || { echo "demo-opc: the plant did not start:"; cat "$log"; exit 1; }

# Registered in the demo's private registry, as regsvr32 registers it on Windows.
"$bin/hbtregsvr" /s "$root/build/lib/HBTOPC.so"

show() {
  echo
  echo "\$ hbtopc $*"
  "$bin/hbtopc" "$@"
}
show status
show browse
show browse QPLC1 --filter 'D*'
show props QPLC1:D:200
show read QPLC1:D:2 QPLC1:D:200 QPLC1:M:0 'QPLC1:D:400$11' 'QPLC1:D:100[5]' APLC3:D:0
show write QPLC1:D:10 4321
show read QPLC1:D:10

points=(QPLC1:D:2 QPLC1:D:200 QPLC1:M:0 'QPLC1:D:400$11' 'QPLC1:D:100[5]' APLC3:D:0 APLC2:M:100)
echo
echo "\$ hbtopc subscribe ${points[*]} --rate 500 --seconds $seconds"
"$bin/hbtopc" subscribe "${points[@]}" --rate 500 --seconds "$seconds" | tee "$root/build/demo-opc-subscribe.txt"

missing=()
for p in "${points[@]}"; do
  grep -qF -- "$p  " <(grep ' good (0xC0)' "$root/build/demo-opc-subscribe.txt") || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "demo-opc: no good value from ${missing[*]}"
  exit 1
fi
echo
echo "demo-opc: every subscribed point delivered good values through OPC"

#!/usr/bin/env bash
# The demo plant published as a Sparkplug B edge node: the plant of `make demo` runs in the
# background, a private Mosquitto listens on a free loopback port, hbtmqtt publishes the
# driver's values to it, and a small subscriber (npm mqtt and the Eclipse reference decoder)
# prints what arrives, after writing QPLC1 D:10 through a DCMD. DEMO_SECONDS=N sets how long
# the subscriber listens (default 10); exits 0 only when births and data arrived.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin
seconds=${DEMO_SECONDS:-10}
work=$root/build/demo-mqtt
export HBT_NAMESPACE=hbtmqttdemo$$_
export HBT_REGISTRY_DIR=$root/build/demo/registry
peers=$root/mqtt/tests/peers

command -v mosquitto >/dev/null 2>&1 || PATH=$PATH:/usr/sbin
command -v mosquitto >/dev/null 2>&1 || { echo "demo-mqtt: mosquitto is not installed (make deps)"; exit 1; }
"$peers/install.sh" || { echo "demo-mqtt: the npm subscriber could not be installed"; exit 1; }
rm -rf "$work" "$root/build/demo/DEMO.HBT"
mkdir -p "$work"

pids=()
plant_pgid=
stop_all() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  "$bin/hbtio" shutdown >/dev/null 2>&1 || true
  [ -n "$plant_pgid" ] && kill -- -"$plant_pgid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap stop_all EXIT

setsid env DEMO_SECONDS=$((seconds + 60)) "$root/scripts/demo.sh" >"$work/plant.log" 2>&1 &
plant_pgid=$!
for _ in $(seq 300); do
  [ -s "$root/build/demo/DEMO.HBT" ] && "$bin/hbtio" status >/dev/null 2>&1 && break
  sleep 0.1
done
"$bin/hbtio" status >/dev/null 2>&1 || { echo "demo-mqtt: the plant did not start:"; cat "$work/plant.log"; exit 1; }

# A broker of its own on a free port (never the system service).
port=$(node -e 'const s=require("net").createServer().listen(0,"127.0.0.1",()=>{console.log(s.address().port);s.close()})')
cat >"$work/mosquitto.conf" <<CONF
listener $port 127.0.0.1
allow_anonymous true
persistence false
# Latency: small messages go out at once instead of waiting for acknowledgements.
set_tcp_nodelay true
log_dest stderr
CONF
[ "$(id -u)" -eq 0 ] && echo "user root" >>"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" 2>"$work/mosquitto.log" &
pids+=($!)
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.05; done

cat >"$work/hbtmqtt.conf" <<CONF
broker = mqtt://127.0.0.1:$port
group_id = Demo
edge_node_id = Plant
publish_interval_ms = 500
node_metrics_interval_ms = 5000
store_forward_dir = $work/store-forward
CONF
echo "Broker: mqtt://127.0.0.1:$port; settings $work/hbtmqtt.conf; hbtmqtt log $work/hbtmqtt.log"
echo "\$ hbtmqtt --config $work/hbtmqtt.conf"
"$bin/hbtmqtt" --config "$work/hbtmqtt.conf" 2>"$work/hbtmqtt.log" &
pids+=($!)

echo "\$ sparkplug_print.js (a birth shows its first 8 metrics)"
status=0
node "$peers/sparkplug_print.js" "$port" "$seconds" --rebirth Demo/Plant \
  --write spBv1.0/Demo/DCMD/Plant/QPLC1 D:10 UInt16 4321 || status=$?
echo
echo "QPLC1 D10 in the PLC: $("$bin/hbtio" read QPLC1:D:10 2>/dev/null | tail -1)"
exit $status

#!/usr/bin/env bash
# The demo: a simulated plant of three PLCs, the poller started by a client through
# "DriverExe", and a live view of what it reads. DEMO_SECONDS=N (or output that is not a
# terminal) runs N seconds (default 10), prints the final table and exits 0 only when every
# polled record is good.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin
work=$root/build/demo
rm -rf "$work"
mkdir -p "$work"

# A private registry and region namespace: the demo never meets an installed driver.
export HBT_REGISTRY_DIR=$work/registry
export HBT_NAMESPACE=${HBT_NAMESPACE:-hbtdemo$$_}
key='HKLM\Software\Velmora\Brenlow\Config'

mcsim_pid=
cleanup() {
  "$bin/hbtio" shutdown >/dev/null 2>&1 || true
  [ -n "$mcsim_pid" ] && kill "$mcsim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

# The simulator on free ports: Q-series over UDP, A-series over TCP in ASCII and in binary.
"$bin/mcsim" --listen udp:0:3e-binary --listen tcp:0:1e-ascii:plc=a2 --listen tcp:0:1e-binary:plc=a3 \
  --script "$root/examples/demo_plant.mcsim" --port-file "$work/ports" --no-stdin --quiet \
  >"$work/mcsim.log" 2>&1 &
mcsim_pid=$!
for _ in $(seq 100); do [ -s "$work/ports" ] && break; sleep 0.05; done
[ -s "$work/ports" ] || { echo "demo: the simulator did not start:"; cat "$work/mcsim.log"; exit 1; }
mapfile -t ports < <(awk '{print $2}' "$work/ports")

# The sample plant, pointed at the simulator's ports.
awk -F, -v OFS=, -v p1="${ports[0]}" -v p2="${ports[1]}" -v p3="${ports[2]}" '
  /^!/ { section = $1 }
  section == "!CHANNEL" && $1 == "1" { $21 = p1 }
  section == "!CHANNEL" && $1 == "2" { $21 = p2 }
  section == "!CHANNEL" && $1 == "3" { $21 = p3 }
  { print }' "$root/examples/demo_plant.csv" >"$work/demo_plant.csv"
"$bin/hbtcfg" import "$work/demo_plant.csv" -o "$work/DEMO.HBT" --errors "$work/HBTDIDW.ERR"

"$bin/hbtreg" set "$key" ConfigFile "$work/DEMO.HBT"
"$bin/hbtreg" set "$key" DriverExe "$bin/HBTSPOLL S"

echo "Simulator ports: ${ports[*]}; configuration $work/DEMO.HBT; poller log in $work"
args=()
if [ -n "${DEMO_SECONDS:-}" ]; then
  args+=(--seconds "$DEMO_SECONDS")
elif [ ! -t 1 ]; then
  args+=(--seconds 10)
fi
cd "$work"
"$bin/hbtio" monitor --require-good "${args[@]}"

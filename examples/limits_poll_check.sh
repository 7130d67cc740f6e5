#!/usr/bin/env bash
# Polls examples/limits.csv against simulated PLCs of the CPU types it names (limits.mcsim):
# every one of its 10,000 poll records must read back good, and no PLC may have refused a
# single request.
# Usage: examples/limits_poll_check.sh BIN_DIR [SECONDS]   (at most SECONDS of polling, default 120)
set -euo pipefail
bin=$(cd "$1" && pwd)
seconds=${2:-120}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
export HBT_REGISTRY_DIR=$work/registry
export HBT_NAMESPACE=hbtlimits$$_
key='HKLM\Software\Velmora\Brenlow\Config'

mcsim_pid=
cleanup() {
  "$bin/hbtio" shutdown >/dev/null 2>&1 || true
  [ -n "$mcsim_pid" ] && kill "$mcsim_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# One endpoint per channel, in channel order, as limits.mcsim lists them.
mapfile -t listens < <(awk '$1 == "#" && $2 == "listen" { print "--listen"; print $3 }' "$here/limits.mcsim")
"$bin/mcsim" "${listens[@]}" --script "$here/limits.mcsim" --control "$work/control" \
  --port-file "$work/ports" --no-stdin --quiet >"$work/mcsim.log" 2>&1 &
mcsim_pid=$!
for _ in $(seq 200); do [ -s "$work/ports" ] && break; sleep 0.05; done
[ -s "$work/ports" ] || { echo "limits: the simulator did not start:"; cat "$work/mcsim.log"; exit 1; }

# The configuration, each channel pointed at its endpoint's port.
awk -F, -v OFS=, -v ports="$work/ports" '
  BEGIN { n = 0; while ((getline line < ports) > 0) { split(line, f, " "); port[++n] = f[2] } }
  /^!/ { section = $1 }
  section == "!CHANNEL" && $1 ~ /^[0-9]+$/ { $21 = port[$1] }
  { print }' "$here/limits.csv" >"$work/limits.csv"
"$bin/hbtcfg" import "$work/limits.csv" -o "$work/LIMITS.HBT" --errors "$work/HBTDIDW.ERR" >/dev/null
"$bin/hbtreg" set "$key" ConfigFile "$work/LIMITS.HBT" >/dev/null
"$bin/hbtreg" set "$key" DriverExe "$bin/HBTSPOLL S" >/dev/null

# Loading 10,000 records takes longer than a client waits for a poller it starts.
for _ in $(seq 20); do "$bin/hbtio" start >/dev/null 2>&1 && break; sleep 0.5; done
# Until every record has been read good once (slower under the sanitizers), at most
# SECONDS of polling.
status=1
start=$(date +%s)
while [ "$status" -ne 0 ] && [ $(( $(date +%s) - start )) -lt "$seconds" ]; do
  status=0
  "$bin/hbtio" monitor --require-good --seconds 5 >"$work/monitor.txt" 2>"$work/monitor.err" || status=$?
done
refused=$("$bin/mcsim" --send "$work/control" "stats" | awk '
  { for (i = 1; i <= NF; ++i) if ($i ~ /^abnormal=/) { split($i, f, "="); sum += f[2] } }
  END { print sum + 0 }')
requests=$("$bin/mcsim" --send "$work/control" "stats" | awk '
  { for (i = 1; i <= NF; ++i) if ($i ~ /^requests=/) { split($i, f, "="); sum += f[2] } }
  END { print sum + 0 }')
echo "limits: $requests requests, $refused refused in $(( $(date +%s) - start )) s; monitor exit $status"
if [ "$status" -ne 0 ] || [ "$refused" -ne 0 ] || [ "$requests" -eq 0 ]; then
  cat "$work/monitor.err"
  head -40 "$work/monitor.txt"
  exit 1
fi

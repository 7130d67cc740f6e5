#!/usr/bin/env bash
# OPC UA load run: 100,000 variables over 32 PLCs (16 channels, a PLC and a station behind
# each module, 7 poll records per PLC of up to 512 words, poll time 0.25 s), 10,000 changing
# once a second (counters spread over the second), 10 subscribed clients with 10,000
# monitored items each (publishing interval 100 ms). Prints hbtua's start-up time and memory,
# its CPU share while serving, the points library's CPU alone on the same plant, and the
# delay from a change in mcsim (its history) to the client's notification, p50/p99; with
# PROFILE=1 also hbtua's CPU profile by package.
# Usage: bench/ua/run.sh [BUILD_DIR] [SECONDS]   (not part of make test)
# Environment: UA_SAMPLING_MS (clients' sampling interval, default 0: on change),
# UA_PUBLISH_MS (default 100), UA_CLIENT_PROCESSES (default 2), KEEP=1 keeps the run's files.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
seconds=${2:-30}
case "$build" in /*) ;; *) build=$root/$build ;; esac
cmake --build "$build" --target hbtua hbtpoints HBTSPOLL HBTSTSR mcsim hbtcfg hbtreg hbtio -j 2 >/dev/null
bin=$build/bin
export HBTUA_DIR=$build/lib/hbtua
export NODE_PATH=$HBTUA_DIR/node_modules
[ -f "$NODE_PATH/.hbt-installed" ] || { echo "the npm packages of hbtua are not installed"; exit 1; }
load=$root/bench/ua/load.js
processes=${UA_CLIENT_PROCESSES:-2}

work=$(mktemp -d)
export HBT_REGISTRY_DIR=$work/registry HBT_NAMESPACE=hbtuabench$$_
pids=()
cleanup() {
  local status=$?
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  "$bin/hbtio" shutdown >/dev/null 2>&1 || true
  wait 2>/dev/null || true
  if [ "$status" -eq 0 ] && [ "${KEEP:-0}" != 1 ]; then rm -rf "$work"; else echo "bench/ua: its files are in $work"; fi
}
trap cleanup EXIT

# Process figures from /proc: CPU seconds (user + system) and resident memory.
cpu_s() { awk -v hz="$(getconf CLK_TCK)" '{ printf "%.2f", ($14 + $15) / hz }' "/proc/$1/stat"; }
rss_mb() { awk '/^VmRSS/ { printf "%.0f", $2 / 1024 }' "/proc/$1/status"; }
hwm_mb() { awk '/^VmHWM/ { printf "%.0f", $2 / 1024 }' "/proc/$1/status"; }
thread_cpu_s() {  # PID: main thread and all other threads
  local hz main=0 rest=0 t v
  hz=$(getconf CLK_TCK)
  for t in /proc/"$1"/task/*; do
    v=$(awk '{ print $14 + $15 }' "$t/stat")
    if [ "${t##*/}" = "$1" ]; then main=$v; else rest=$((rest + v)); fi
  done
  awk -v m="$main" -v r="$rest" -v hz="$hz" 'BEGIN { printf "%.2f %.2f\n", m / hz, r / hz }'
}

# The plant: 16 module endpoints, each a PLC with a second station; every PLC's registers
# are its own range of D (PLC k: D[3125k, 3125k + 3124]), so mcsim's history names them.
script=$work/plant.mcsim
listens=()
for c in $(seq 16); do
  listens+=(--listen "udp:0:3e-binary:plc=c$c")
  printf 'size D 110000 plc=c%d\nstation add 1 plc=c%d\n' "$c" "$c" >>"$script"
done
"$bin/mcsim" "${listens[@]}" --script "$script" --control "$work/mcsim.ctl" --port-file "$work/ports" \
  --history "$work/history.txt" --no-stdin --quiet 2>"$work/mcsim.err" &
pids+=($!)
for _ in $(seq 200); do [ -s "$work/ports" ] && break; sleep 0.05; done
[ -s "$work/ports" ] || { echo "mcsim did not start"; cat "$work/mcsim.err"; exit 1; }
mapfile -t ports < <(awk '{print $2}' "$work/ports")

csv=$work/plant.csv
{
  echo '[ HBTHBT  , OPC UA load: 32 PLCs, 100000 values ]'
  echo '!CHANNEL,DISPLAY ALARMS,,,,,,REPLY TIMEOUT,DELAY,RETRIES,,,,,,,,,,IP Address,IP Port,IP Protocol'
  for c in $(seq 16); do echo "$c,No,,,,,,1.0,1.0,1,,,,,,,,,,127.0.0.1,${ports[$((c - 1))]},UDP"; done
  echo
  echo '!DEVICE NAME,CHANNEL,DESCRIPTION,CPU,PROTOCOL,,,,,PRIMARY PLC ADDRESS,Network,Module'
  for k in $(seq 0 31); do
    c=$((k / 2 + 1)); pc=255; [ $((k % 2)) -eq 1 ] && pc=1
    echo "P$k,$c,Load PLC $k,Q Series,BINARY,,,,,$pc,0,0"
  done
  echo
  echo '!IOREC,DEVICE NAME,DATA TYPE,POLL TIME,ACCESS TIME,EXCEPTION,DEAD BAND,START ADDRESS,LENGTH'
  n=0
  for k in $(seq 0 31); do
    for r in 0 1 2 3 4 5 6; do
      len=512; [ $r -eq 6 ] && len=53
      echo "$((++n)),P$k,Unsigned,0.25,300.0,Disabled,0.0,D:$((k * 3125 + r * 512)),$len"
    done
  done
} >"$csv"
"$bin/hbtcfg" import "$csv" -o "$work/LOAD.HBT" --errors "$work/import.err" >/dev/null ||
  { echo "the load configuration was refused:"; cat "$work/import.err"; exit 1; }
key='HKLM\Software\Velmora\Brenlow\Config'
"$bin/hbtreg" set "$key" ConfigFile "$work/LOAD.HBT"
"$bin/hbtreg" set "$key" DriverExe "$bin/HBTSPOLL S"

# Every item ID, and the moving tenth of them (every tenth register of each PLC).
: >"$work/items.txt"
: >"$work/moves.txt"
for k in $(seq 0 31); do
  c=$((k / 2 + 1)); at=""; [ $((k % 2)) -eq 1 ] && at=" @1"
  awk -v k="$k" -v c="$c" -v at="$at" -v items="$work/items.txt" -v moves="$work/moves.txt" 'BEGIN {
    for (i = 0; i < 3125; ++i) {
      d = k * 3125 + i
      printf "P%d:D:%d\n", k, d >> items
      if (i % 10 == 0 && n++ < 313) printf "move D%d counter 1 1s plc=c%d%s\n", d, c, at >> moves
    }
  }'
done

echo "== load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores; $(wc -l <"$work/items.txt") variables, $(wc -l <"$work/moves.txt") moving; ${seconds} s"

# hbtua: start-up with 100,000 variables.
start=$(date +%s.%N)
hook=""
[ "${PROFILE:-0}" = 1 ] && hook="--require $root/bench/ua/profile_hook.js"
UA_PROFILE_FILE=$work/serving.cpuprofile NODE_OPTIONS=$hook "$bin/hbtua" --port 0 --port-file "$work/port" --data-dir "$work/data" \
  --allow-insecure --allow-anonymous 2>"$work/hbtua.log" &
server=$!
pids+=("$server")
for _ in $(seq 3000); do [ -s "$work/port" ] && break; kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
[ -s "$work/port" ] || { echo "hbtua did not start"; cat "$work/hbtua.log"; exit 1; }
ready=$(date +%s.%N)
url=opc.tcp://localhost:$(cat "$work/port")
echo "hbtua: ready in $(awk -v a="$start" -v b="$ready" 'BEGIN { printf "%.1f", b - a }') s, RSS $(rss_mb "$server") MB, CPU $(cpu_s "$server") s; $(grep -o 'configuration 1: .*' "$work/hbtua.log")"

# The clients subscribe (the initial values are not part of the figures), then the plant moves.
client_pids=()
for i in $(seq 0 $((processes - 1))); do
  node "$load" clients "$url" "$work/items.txt" "$processes" "$i" 3600 "$work/notes.$i" >"$work/clients.$i" 2>&1 &
  client_pids+=($!)
  pids+=($!)
done
# A probe: one more session, in a process of its own, on 50 moving items only: its delays
# are the server's, whatever the ten big clients' processes make of their share.
awk '{ sub(/^move D/, ""); split($0, w, " "); n = w[1] } NR % 200 == 1 { print n }' "$work/moves.txt" |
  while read -r d; do grep -m1 ":D:$d\$" "$work/items.txt"; done >"$work/probe-items.txt"
node "$load" clients "$url" "$work/probe-items.txt" 1 0 3600 "$work/probe.notes" 1 >"$work/probe.out" 2>&1 &
client_pids+=($!)
pids+=($!)
for _ in $(seq 3000); do
  [ "$(cat "$work"/clients.* "$work/probe.out" 2>/dev/null | grep -c '^ready')" -eq $((processes + 1)) ] && break
  sleep 0.1
done
[ "$(cat "$work"/clients.* | grep -c '^ready')" -eq "$processes" ] || { echo "clients did not subscribe"; cat "$work"/clients.*; exit 1; }
echo "clients: 10 sessions in $processes processes, subscribed; hbtua RSS $(rss_mb "$server") MB"
node "$load" moves "$work/mcsim.ctl" "$work/moves.txt"
sleep 3
[ "${PROFILE:-0}" = 1 ] && kill -USR2 "$server"
clients_cpu() { local sum=0 p; for p in "${client_pids[@]}"; do sum=$(awk -v s="$sum" -v c="$(cpu_s "$p")" 'BEGIN { print s + c }'); done; echo "$sum"; }
# CLOCK_MONOTONIC in ms (the clock of the history and of the receipts), for the window.
mono_ms() { node -e 'process.stdout.write(String(Math.round(Number(process.hrtime.bigint()) / 1e6)))'; }
m0=$(mono_ms)
cpu0=$(cpu_s "$server"); read -r main0 rest0 < <(thread_cpu_s "$server"); t0=$(date +%s.%N); cc0=$(clients_cpu)
sleep "$seconds"
cpu1=$(cpu_s "$server"); read -r main1 rest1 < <(thread_cpu_s "$server"); t1=$(date +%s.%N); cc1=$(clients_cpu)
m1=$(mono_ms)
[ "${PROFILE:-0}" = 1 ] && kill -USR2 "$server"
echo "clients' processes: CPU $(awk -v a="$cc0" -v b="$cc1" -v s="$t0" -v e="$t1" 'BEGIN { printf "%.1f", 100 * (b - a) / (e - s) }') % of one core"
echo "service's feed (value read → pushed into its variable, ms, per second: mean, largest, values/s):"
grep -h '^service' "$work"/clients.* | tail -n "$seconds" | awk '{ m += $2; if ($3 > x) x = $3; v += $4; n++ }
  END { if (n) printf "  mean %.1f, largest %.1f, %.0f values/s\n", m / n, x, v / n }'
awk -v a="$cpu0" -v b="$cpu1" -v m0="$main0" -v m1="$main1" -v r0="$rest0" -v r1="$rest1" -v s="$t0" -v e="$t1" \
  -v rss="$(rss_mb "$server")" -v hwm="$(hwm_mb "$server")" 'BEGIN {
  w = e - s
  printf "hbtua serving: CPU %.1f %% of one core (main thread %.1f %%, other threads %.1f %%), RSS %s MB (peak %s MB)\n",
    100 * (b - a) / w, 100 * (m1 - m0) / w, 100 * (r1 - r0) / w, rss, hwm }'
# The clients end (the SDK then takes their monitored items down), then hbtua; the points
# library alone runs on the same moving plant while the poller is still up.
for p in "${client_pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
for p in "${client_pids[@]}"; do wait "$p" || true; done
kill -TERM "$server"; wait "$server" || true
node "$load" feed "$seconds" >"$work/feed.out" 2>&1 || true
# Only what arrived within the window.
echo "latency (mcsim change → notification, ms): $(node "$load" latency "$m0" "$m1" "$work/history.txt" "$work"/notes.*)"
echo "latency of the probe (50 items, a session alone): $(node "$load" latency "$m0" "$m1" "$work/history.txt" "$work/probe.notes")"
if [ "${PROFILE:-0}" = 1 ]; then
  echo "hbtua while serving, $(node "$load" profile "$work/serving.cpuprofile")"
fi
echo "points library alone: $(cat "$work/feed.out")"

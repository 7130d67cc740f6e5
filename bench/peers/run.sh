#!/usr/bin/env bash
# The poller side by side with independent MC-protocol clients from npm, against one mcsim
# on loopback, each reading 10 words (D0..D9) as fast as it goes:
#   the poller at 1, 8 and 32 channels over UDP and TCP, 3E binary and 1E binary;
#   mcprotocol (1E binary over TCP) and melsec-connect (3E over TCP and UDP, 1E over TCP);
# then the idle poller (one record: the bare tick; 10,000 records none of them due).
# One table: requests per second, CPU microseconds per request (user + kernel), and each
# row's CPU per request over the poller's at 32 channels of the same transport and frame.
# Usage: bench/peers/run.sh [BUILD_DIR] [SECONDS]   (make bench-peers)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
seconds=${2:-${PEER_SECONDS:-5}}
case "$build" in /*) ;; *) build=$root/$build ;; esac
cmake --build "$build" --target HBTSPOLL mcsim poller_load -j 2 >/dev/null
load=$build/bench/poller_load

work=$(mktemp -d)
mcsim_pid=
cleanup() {
  [ -n "$mcsim_pid" ] && kill "$mcsim_pid" 2>/dev/null && wait "$mcsim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# One mcsim: 32 endpoints of each poller kind, one more of each for the npm clients.
args=()
for kind in udp:0:3e-binary tcp:0:3e-binary udp:0:1e-binary tcp:0:1e-binary; do
  for _ in $(seq 33); do args+=(--listen "$kind"); done
done
"$build/bin/mcsim" "${args[@]}" --control "$work/control" --port-file "$work/ports" --no-stdin --quiet \
  2>"$work/mcsim.err" &
mcsim_pid=$!
for _ in $(seq 200); do [ -s "$work/ports" ] && break; sleep 0.05; done
[ -s "$work/ports" ] || { echo "mcsim did not start"; cat "$work/mcsim.err"; exit 1; }
"$build/bin/mcsim" --send "$work/control" "set D0 1 2 3 4 5 6 7 8 9 10" >/dev/null

declare -A rps cpu user kernel late
rows=()
record() {  # NAME REQUESTS SECONDS USER_S KERNEL_S
  rows+=("$1")
  rps[$1]=$(awk -v n="$2" -v s="$3" 'BEGIN { printf "%.0f", n / s }')
  cpu[$1]=$(awk -v n="$2" -v u="$4" -v k="$5" 'BEGIN { printf "%.1f", (n > 0 ? (u + k) * 1e6 / n : 0) }')
  user[$1]=$(awk -v n="$2" -v u="$4" 'BEGIN { printf "%.1f", (n > 0 ? u * 1e6 / n : 0) }')
  kernel[$1]=$(awk -v n="$2" -v k="$5" 'BEGIN { printf "%.1f", (n > 0 ? k * 1e6 / n : 0) }')
}
field() { sed -n "s/.*\b$1=\([0-9.]*\).*/\1/p" | head -1; }

echo "== load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores; ${seconds} s per row"
for transport in udp tcp; do
  for frame in 3e-binary 1e-binary; do
    for channels in 1 8 32; do
      flag=(); [ "$transport" = tcp ] && flag=(--tcp)
      out=$("$load" --mode busy --channels "$channels" --records 1 --words 10 --seconds "$seconds" \
        --frame "$frame" "${flag[@]}" --mcsim-ports "$work/ports")
      name="poller $transport $frame ${channels}ch"
      record "$name" "$(echo "$out" | field requests)" "$(echo "$out" | sed -n 's/.*seconds=\([0-9.]*\)$/\1/p' | head -1)" \
        "$(echo "$out" | field cpu_user_s)" "$(echo "$out" | field cpu_kernel_s)"
      late[$name]=$(echo "$out" | sed -n 's/.*p50_ms=\([0-9.]*\).*p99_ms=\([0-9.]*\).*/\1 \2/p')
    done
  done
done

modules=$root/.interop/node_modules
have_npm=yes
if [ ! -d "$modules/mcprotocol" ] || [ ! -d "$modules/melsec-connect" ]; then
  if command -v npm >/dev/null 2>&1; then
    mkdir -p "$root/.interop"
    ( flock 9
      [ -d "$modules/mcprotocol" ] && [ -d "$modules/melsec-connect" ] ||
        npm install --prefix "$root/.interop" --no-audit --no-fund --loglevel=error mcprotocol melsec-connect >&2
    ) 9>"$root/.interop/.install.lock" || have_npm=no
  else
    have_npm=no
  fi
fi
port_of() { awk -v k="$1" '$1 == k { p = $2 } END { print p }' "$work/ports"; }  # the 33rd of a kind
if [ "$have_npm" = yes ] && command -v node >/dev/null 2>&1; then
  while read -r client transport frame coding kind; do
    out=$(NODE_PATH=$modules node "$root/bench/peers/npm_read_loop.js" "$client" "$(port_of "$kind")" \
      "$transport" "$frame" "$coding" "$seconds" 2>/dev/null | tail -1) || true
    name="$client ${transport,,} ${frame,,}-$coding"
    if [[ $out == requests=* ]]; then
      record "$name" "$(echo "$out" | field requests)" "$(echo "$out" | field seconds)" \
        "$(awk -v u="$(echo "$out" | field user_us)" 'BEGIN { print u / 1e6 }')" \
        "$(awk -v k="$(echo "$out" | field system_us)" 'BEGIN { print k / 1e6 }')"
    else
      echo "$name: $out"
    fi
  done <<'LIST'
mcprotocol TCP 1E binary tcp:0:1e-binary
melsec-connect TCP 3E binary tcp:0:3e-binary
melsec-connect UDP 3E binary udp:0:3e-binary
melsec-connect TCP 1E binary tcp:0:1e-binary
LIST
else
  echo "(node or the npm clients are not available: their rows are left out)"
fi

printf '\n%-34s %10s %10s %8s %8s %9s %14s\n' "client" "req/s" "CPU us/req" "user" "kernel" "vs poller" "tick p50/p99 ms"
for name in "${rows[@]}"; do
  read -r _ t f _ <<<"$name"
  case $name in
    poller*) kind="$t $f" ;;
    *) kind="$(echo "$t" | tr A-Z a-z) $f" ;;
  esac
  ref="poller $kind 32ch"
  ratio=$(awk -v a="${cpu[$name]}" -v b="${cpu[$ref]:-0}" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
  printf '%-34s %10s %10s %8s %8s %9s %14s\n' "$name" "${rps[$name]}" "${cpu[$name]}" "${user[$name]}" \
    "${kernel[$name]}" "$ratio" "${late[$name]:--}"
done

echo
echo "== idle poller (no mcsim traffic once read)"
for records in 1 10000; do
  channels=$([ "$records" = 1 ] && echo 1 || echo 32)
  out=$("$load" --mode idle --channels "$channels" --records "$records" --seconds "$seconds" \
    --mcsim-ports "$work/ports")
  printf '%-34s %s%% of one core (%s us per tick), tick lateness p50/p99 %s ms\n' "$records record(s) not due" \
    "$(echo "$out" | field poller_cpu_percent_of_one_core)" "$(echo "$out" | field poller_cpu_us_per_tick)" \
    "$(echo "$out" | sed -n 's/.*p50_ms=\([0-9.]*\).*p99_ms=\([0-9.]*\).*/\1\/\2/p')"
done

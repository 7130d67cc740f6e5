#!/usr/bin/env bash
# The demo plant seen through the OPC UA server: the plant of `make demo` runs in the
# background and hbtua serves it from a settings file (anonymous readers over SecurityPolicy
# None, a user who writes over Basic256Sha256; a free port unless DEMO_UA_PORT says one).
# hbtua-client, a client in another process, browses it, reads values, writes one as the
# user and reads it back, then subscribes to a few points and prints every change.
# DEMO_SECONDS=N sets how long the subscription runs (default 10); exits 0 only when every
# subscribed point delivered a good value.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin
seconds=${DEMO_SECONDS:-10}
export HBT_NAMESPACE=hbtuademo$$_
export HBT_REGISTRY_DIR=$root/build/demo/registry
work=$root/build/demo-ua
log=$work/plant.log
rm -rf "$work"
mkdir -p "$work"

rm -f "$root/build/demo/DEMO.HBT"
setsid env DEMO_SECONDS=$((seconds + 120)) "$root/scripts/demo.sh" >"$log" 2>&1 &
plant_pgid=$!
server_pid=
stop_all() {
  [ -n "$server_pid" ] && kill -TERM "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  "$bin/hbtio" shutdown >/dev/null 2>&1 || true
  kill -- -"$plant_pgid" 2>/dev/null || true
  wait "$plant_pgid" 2>/dev/null || true
}
trap stop_all EXIT
for _ in $(seq 300); do
  [ -s "$root/build/demo/DEMO.HBT" ] && "$bin/hbtio" status >/dev/null 2>&1 && break
  sleep 0.1
done
"$bin/hbtio" status >/dev/null 2>&1 || { echo "demo-ua: the plant did not start:"; cat "$log"; exit 1; }

# A user who may write, and the server's settings.
printf 'demo-password\n' | "$bin/hbtua" passwd "$work/users" demo --role operator
cat >"$work/hbtua.conf" <<SETTINGS
port = ${DEMO_UA_PORT:-0}
data_dir = data
users_file = users
allow_insecure = yes
allow_anonymous = yes
anonymous_role = viewer
# a demo only: a client's certificate is trusted on first sight
trust_client_certificates = yes
SETTINGS
"$bin/hbtua" --config "$work/hbtua.conf" --port-file "$work/port" 2>"$work/hbtua.log" &
server_pid=$!
for _ in $(seq 900); do
  [ -s "$work/port" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
[ -s "$work/port" ] || { echo "demo-ua: hbtua did not start:"; cat "$work/hbtua.log"; exit 1; }
endpoint=opc.tcp://localhost:$(cat "$work/port")
sed -n '/listening on/p' "$work/hbtua.log"

client() { "$bin/hbtua-client" --endpoint "$endpoint" --security none "$@"; }
show() {
  echo
  echo "\$ hbtua-client $*"
  client "$@" || true
}
show browse
show browse QPLC1
show browse 'QPLC1:D:400 - D:409'
show read QPLC1:D:0 QPLC1:D:100 QPLC1:D:200 QPLC1:D:300 'QPLC1:D:400$20' QPLC1:M:0 APLC2:D:50 APLC3:D:20

echo
echo "\$ HBTUA_PASSWORD=... hbtua-client --security encrypt --user demo write QPLC1:D:10 4321"
HBTUA_PASSWORD=demo-password "$bin/hbtua-client" --endpoint "$endpoint" --security encrypt \
  --pki "$work/client-pki" --user demo write QPLC1:D:10 4321 || true
sleep 1
show read QPLC1:D:10
echo
echo "\$ hbtio read QPLC1:D:10    # the same register through the host library"
"$bin/hbtio" read QPLC1:D:10 || true
show read 'Diagnostics/Channels/Channel 1/TX' 'Diagnostics/Channels/Channel 1/PollsPerSecond' \
  'Diagnostics/Driver/StatusText'

points=(QPLC1:D:0 QPLC1:D:2 QPLC1:M:0 'QPLC1:D:400$20' APLC3:D:0 APLC2:M:100)
echo
echo "\$ hbtua-client subscribe ${points[*]} --interval 250 --seconds $seconds"
client subscribe "${points[@]}" --interval 250 --seconds "$seconds" | tee "$work/subscribe.txt"

missing=()
for p in "${points[@]}"; do
  grep -F -- "$p  " "$work/subscribe.txt" | grep -q '  Good' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "demo-ua: no good value from ${missing[*]}"
  echo "--- hbtua log"
  cat "$work/hbtua.log"
  exit 1
fi
echo
echo "demo-ua: every subscribed point delivered good values through OPC UA"

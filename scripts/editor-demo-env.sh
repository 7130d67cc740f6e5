# Sourced by the editor scripts: starts the demo plant (simulator, poller and a live view
# that keeps the poller busy) in the background, for `seconds` seconds, in its own
# registry and region namespace, and waits until the poller runs.
# Sets: root, bin, demo_pgid; exports HBT_REGISTRY_DIR and HBT_NAMESPACE.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bin=$root/build/bin
export HBT_NAMESPACE=hbteditor$$_
export HBT_REGISTRY_DIR=$root/build/demo/registry
rm -f "$root/build/demo/DEMO.HBT"
setsid env DEMO_SECONDS="${seconds:-3600}" "$root/scripts/demo.sh" >"$root/build/editor-demo.log" 2>&1 &
demo_pgid=$!
stop_demo() {
  "$bin/hbtio" shutdown >/dev/null 2>&1 || true
  kill -- -"$demo_pgid" 2>/dev/null || true
  wait "$demo_pgid" 2>/dev/null || true
}
for _ in $(seq 200); do
  [ -s "$root/build/demo/DEMO.HBT" ] && "$bin/hbtio" status >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 2

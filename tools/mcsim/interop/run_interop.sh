#!/usr/bin/env bash
# Runs one interoperability check of mcsim against an npm client library written by
# others. The packages go to .interop/node_modules of the source tree (ignored by git)
# and are reused when present.
# Usage: run_interop.sh MCSIM_BINARY SOURCE_DIR CLIENT LISTEN-FRAME [PEER ARGS...]
#   CLIENT melsec-connect or mcprotocol; LISTEN-FRAME e.g. tcp:3e-binary.
# Exit 77 (skipped) when node or the packages cannot be had.
set -euo pipefail
mcsim=$1 source_dir=$2 client=$3 listen=$4
shift 4
here=$(cd "$(dirname "$0")" && pwd)
modules=$source_dir/.interop/node_modules

command -v node >/dev/null 2>&1 || { echo "node is not installed: skipped"; exit 77; }
if [ ! -d "$modules/mcprotocol" ] || [ ! -d "$modules/melsec-connect" ]; then
  command -v npm >/dev/null 2>&1 || { echo "npm is not installed: skipped"; exit 77; }
  mkdir -p "$source_dir/.interop"
  # Several tests may start at once: one installs, the others wait for it.
  (
    flock 9
    if [ ! -d "$modules/mcprotocol" ] || [ ! -d "$modules/melsec-connect" ]; then
      npm install --prefix "$source_dir/.interop" --no-audit --no-fund --loglevel=error \
        mcprotocol melsec-connect >&2
    fi
  ) 9>"$source_dir/.interop/.install.lock" || { echo "npm install failed: skipped"; exit 77; }
fi

work=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

transport=${listen%%:*}
frame=${listen#*:}
"$mcsim" --listen "$transport:0:$frame" --control "$work/control" --port-file "$work/ports" \
  --no-stdin --quiet 2>"$work/mcsim.err" &
pid=$!
for _ in $(seq 100); do [ -s "$work/ports" ] && break; sleep 0.05; done
[ -s "$work/ports" ] || { echo "mcsim did not start"; cat "$work/mcsim.err"; exit 1; }
port=$(awk '{print $2}' "$work/ports")

case $client in
  melsec-connect)
    peer=$here/peer_melsec_connect.js
    coding=${frame#*-}
    family=$(echo "${frame%%-*}" | tr a-z A-Z)
    args=("$port" "$(echo "$transport" | tr a-z A-Z)" "$family" "$coding" "$work/control") ;;
  mcprotocol)
    peer=$here/peer_mcprotocol.js
    args=("$port" "${frame#*-}" "$work/control") ;;
  *) echo "unknown client $client"; exit 2 ;;
esac
# The libraries chat on stdout; only the verdict lines matter.
NODE_PATH=$modules node "$peer" "${args[@]}" | grep -E '^(PASS|FAIL|NOTE)'
status=${PIPESTATUS[0]}
exit "$status"

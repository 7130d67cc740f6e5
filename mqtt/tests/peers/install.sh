#!/usr/bin/env bash
# Installs the npm peers of the edge node's tests (an MQTT client and the Eclipse Sparkplug B
# decoder, pinned by package-lock.json) into node_modules beside this script, once: later runs
# find them and return at once. Several tests may start at once: one installs, the rest wait.
# Exit 77 (the tests' "skipped") when node or npm is missing or the install fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
stamp=$here/node_modules/.installed-lock
ready() { [ -f "$stamp" ] && cmp -s "$stamp" "$here/package-lock.json"; }
command -v node >/dev/null 2>&1 || { echo "node is not installed: skipped" >&2; exit 77; }
ready && exit 0
command -v npm >/dev/null 2>&1 || { echo "npm is not installed: skipped" >&2; exit 77; }
(
  flock 9
  if ! ready; then
    npm ci --prefix "$here" --no-audit --no-fund --loglevel=error >&2
    cp "$here/package-lock.json" "$stamp"
  fi
) 9>"$here/.install.lock" || { echo "npm ci failed: skipped" >&2; exit 77; }

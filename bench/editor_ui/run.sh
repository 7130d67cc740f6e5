#!/usr/bin/env bash
# Editor window figures on the limits configuration (10,000 poll records).
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/../.." && pwd)/build}
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/hbtcfg" import "$root/examples/limits.csv" -o "$work/LIMITS.HBT" --errors "$work/ERR" >/dev/null
QT_QPA_PLATFORM=offscreen HBT_REGISTRY_DIR=$work/registry "$build/bench/editor_ui_timing" "$work/LIMITS.HBT"

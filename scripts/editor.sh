#!/usr/bin/env bash
# The configuration editor on the demo plant: the simulator and the poller run in the
# background while HBTDIDW shows the demo configuration with live traffic and status.
set -euo pipefail
seconds=86400
source "$(dirname "$0")/editor-demo-env.sh"
trap stop_demo EXIT
echo "Editor on $root/build/demo/DEMO.HBT (driver log: $root/build/editor-demo.log)"
"$bin/HBTDIDW"

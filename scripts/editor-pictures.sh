#!/usr/bin/env bash
# Pictures of the editor for the README: the demo plant runs, the editor's windows are
# drawn on a virtual 1280x800 screen (Xvfb) and saved as PNG files in docs/.
set -euo pipefail
"$(dirname "$0")/install-deps.sh" pictures
seconds=60
source "$(dirname "$0")/editor-demo-env.sh"
display=:$((90 + $$ % 100))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true; stop_demo' EXIT
sleep 1
export DISPLAY=$display
mkdir -p "$root/docs"
"$bin/hbtdidw_pictures" "$root/docs"
# The whole screen with the real program, as a person at 1280x800 sees it.
"$bin/HBTDIDW" &
editor_pid=$!
sleep 7
import -window root "$root/docs/editor-screen.png"
kill "$editor_pid" 2>/dev/null || true
wait "$editor_pid" 2>/dev/null || true

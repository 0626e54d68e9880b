#!/bin/sh
# Takes the README's pictures of the main window (docs/window-found-in.png,
# docs/window-stopped-scan.png) under a private X server with a window manager.
# Needs xvfb and openbox (apt-get install xvfb openbox); build/bin/window_shots
# is built by `cmake --build build --target window_shots`.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
display=:${SHOTS_DISPLAY:-97}
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null' EXIT INT TERM
sleep 1
DISPLAY=$display openbox &
sleep 1
DISPLAY=$display QT_QPA_PLATFORM=xcb "$here/build/bin/window_shots" "$here/docs"

#!/usr/bin/env bash
# Runs penshell. Without a usable display it runs it on a virtual X server
# instead: moves the pen, saves a screenshot, ends it with a key press and
# reports where the screenshot is and how the program ended. SCREENSHOT
# names the file (default: beside the program).
set -uo pipefail
program=$1; shift

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$program" "$@"
fi

echo "No display: running penshell on a virtual X server (Xvfb) instead."
screenshot=${SCREENSHOT:-$(dirname "$program")/screenshot.png}
# With -f the screen is larger than the window, so that the screenshot shows
# the frame scaled up to fill it.
size=640x480
for arg in "$@"; do [ "$arg" = "-f" ] && size=1024x768; done
fifo=$(mktemp -u); mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
server=$!
read -r number <"$fifo"; rm -f "$fifo"
cleanup() { kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; }
trap cleanup EXIT
export DISPLAY=:$number SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

"$program" "$@" &
pid=$!
sleep 1.5
# Relative motion in small steps: the pointer is grabbed, so only this moves the pen.
for _ in 1 2 3 4 5 6; do xdotool mousemove_relative -- 12 -8; sleep 0.05; done
sleep 0.3
import -window root "$screenshot"
xdotool key space
wait "$pid"
status=$?
echo "Screenshot: $screenshot"
echo "penshell exited with status $status"
exit "$status"

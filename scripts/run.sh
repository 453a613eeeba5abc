#!/usr/bin/env bash
# Runs penshell. Without a usable display it runs it on a virtual X server
# instead: moves the pen, saves a screenshot, ends it with a key press and
# reports where the screenshot is and how the program ended. SCREENSHOT
# names the file (default: beside the program).
set -uo pipefail
. "$(dirname "$0")/virtual-display.sh"

drive() {
  sleep 1.5
  move_pen 6 12 -8
  sleep 0.3
  import -window root "$1"
}

show "$1" "${SCREENSHOT:-$(dirname "$1")/screenshot.png}" drive "${@:2}"

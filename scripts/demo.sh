#!/usr/bin/env bash
# Runs penshell-cloth. Without a usable display it runs it on a virtual X
# server instead: lets the cloth fall, yanks it down again and again along its
# pins (button held, fast relative motion) until half of it comes away, saves a
# screenshot once the torn cloth lies on the balls, ends it with a key press
# and reports where the screenshot is and how the program ended.
set -uo pipefail
. "$(dirname "$0")/virtual-display.sh"

drive() {
  # The cloth falls over its pins and swings; the pen starts over its middle
  # and goes up to its left edge, just under the pins.
  sleep 2.5
  move_pen 4 -31 -33
  # Yanked down again and again along the pins, 12 pixels apart: each yank
  # tears out a patch; torn along half its width, the cloth hangs by one side
  # and its other side falls on the balls.
  local i
  for ((i = 0; i < 13; i++)); do
    xdotool mousedown 1
    xdotool mousemove_relative -- 0 60
    xdotool mousemove_relative -- 0 60
    sleep 0.1
    xdotool mouseup 1
    move_pen 3 4 -40
    sleep 0.2
  done
  sleep 3
  import -window root "$1"
}

show "$1" "$(dirname "$1")/demo.png" drive "${@:2}"

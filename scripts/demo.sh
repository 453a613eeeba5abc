#!/usr/bin/env bash
# Runs penshell-cloth. Without a usable display it runs it on a virtual X
# server instead: lets the cloth fall, yanks it by its middle again and again
# (button held, fast relative motion) so that a hole tears there, pulls its
# foot down onto the balls, saves a screenshot while the torn cloth lies on
# them, lets go, ends it with a key press and reports where the screenshot is
# and how the program ended.
set -uo pipefail
. "$(dirname "$0")/virtual-display.sh"

drive() {
  # The cloth falls over its pins and swings; the pen starts over its middle.
  sleep 2.5
  local i
  for ((i = 0; i < 12; i++)); do
    xdotool mousedown 1
    xdotool mousemove_relative -- -60 -20
    xdotool mousemove_relative -- -60 -20
    sleep 0.1
    xdotool mouseup 1
    move_pen 6 20 7
    sleep 0.3
  done
  sleep 1
  # Down to the foot, which is pulled onto the balls.
  move_pen 8 0 6
  xdotool mousedown 1
  move_pen 12 -3 5
  sleep 1.5
  import -window root "$1"
  xdotool mouseup 1
}

show "$1" "$(dirname "$1")/demo.png" drive "${@:2}"

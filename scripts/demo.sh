#!/usr/bin/env bash
# Runs penshell-cloth. Without a usable display it runs it on a virtual X
# server instead: lets the cloth fall, takes its bottom right corner with the
# pen (button held, relative motion) and drags it over the ball and down
# beside it, saves a screenshot while the cloth lies draped on the ball, lets
# go, ends it with a key press and reports where the screenshot is and how the
# program ended.
set -uo pipefail
. "$(dirname "$0")/virtual-display.sh"

drive() {
  # The cloth falls over its pins and swings; the pen starts over it and
  # goes to its bottom right corner.
  sleep 2.5
  move_pen 14 9 4
  xdotool mousedown 1
  move_pen 16 10 -5
  move_pen 12 1 9
  sleep 1
  import -window root "$1"
  xdotool mouseup 1
}

show "$1" "$(dirname "$1")/demo.png" drive "${@:2}"

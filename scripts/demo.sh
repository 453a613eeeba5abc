#!/usr/bin/env bash
# Runs penshell-cloth. Without a usable display it runs it on a virtual X
# server instead: lets the cloth fall, pulls it down and to the left with the
# pen (button held, relative motion), saves a screenshot while it is pulled,
# lets go, ends it with a key press and reports where the screenshot is and
# how the program ended.
set -uo pipefail
. "$(dirname "$0")/virtual-display.sh"

drive() {
  # The cloth falls over its pins and swings; the pen starts over it.
  sleep 2
  xdotool mousedown 1
  move_pen 14 -6 8
  sleep 0.1
  import -window root "$1"
  xdotool mouseup 1
}

show "$1" "$(dirname "$1")/demo.png" drive "${@:2}"

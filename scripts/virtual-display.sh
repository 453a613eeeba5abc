# Shared by run.sh and demo.sh, which source this file: running a program on a
# virtual X server when there is no display, and showing what it drew.

# Runs PROGRAM with ARGS. Without a usable display it runs it on a virtual X
# server instead, where the function DRIVE gives it input and saves the screen
# to PICTURE (DRIVE's argument); then a key press ends it, and it says where
# the picture is and how the program ended, with its exit status.
#   show PROGRAM PICTURE DRIVE ARGS...
show() {
  local program=$1 picture=$2 drive=$3 name pid status
  shift 3
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec "$program" "$@"
  fi
  name=$(basename "$program")
  echo "No display: running $name on a virtual X server (Xvfb) instead."
  start_virtual_display "$@"
  "$program" "$@" &
  pid=$!
  "$drive" "$picture"
  xdotool key space
  wait "$pid"
  status=$?
  echo "Screenshot: $picture"
  echo "$name exited with status $status"
  return "$status"
}

# Starts Xvfb on a free display for a program given these arguments, points
# DISPLAY at it and stops it when the script exits. With -f the screen is
# larger than the window, so that a screenshot shows the frame scaled up to
# fill it.
start_virtual_display() {
  local size=640x480 arg fifo number
  for arg in "$@"; do [ "$arg" = "-f" ] && size=1024x768; done
  fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
  server=$!
  read -r number <"$fifo"; rm -f "$fifo"
  trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null' EXIT
  export DISPLAY=:$number SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
}

# Relative motion in small steps (the pointer is grabbed, so only this moves
# the pen): COUNT steps of DX, DY pixels.
move_pen() {
  local i
  for ((i = 0; i < $1; i++)); do xdotool mousemove_relative -- "$2" "$3"; sleep 0.05; done
}

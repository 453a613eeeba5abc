#!/usr/bin/env bash
# Frames a second of penshell-cloth on a virtual X server (Xvfb, Mesa's
# llvmpipe) while the pen pulls the cloth down and up, for cloths of several
# sizes built from several revisions; REVISION@N makes the program see N
# cores (the frame probe's PENSHELL_CORES), so that it relaxes its springs on
# one thread or two. Each round runs every
# combination once, interleaved, so that other work on the machine spreads
# over all of them; the table gives the best and the worst round. Then the
# physics of a step in one part and in two (tools/cloth_steps), for the
# revisions that have that tool.
#   scripts/cloth-speed.sh ROUNDS REVISION[@N]... -- COLUMNSxROWS...
#   scripts/cloth-speed.sh 6 HEAD~3 HEAD@1 HEAD@2 -- 64x48 176x132
# Builds go to build-speed/ (kept: a second run rebuilds nothing).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
out=$src/build-speed
rounds=${1:?usage: $0 ROUNDS REVISION... -- COLUMNSxROWS...}
shift
revisions=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do revisions+=("$1"); shift; done
shift || true
sizes=("$@")
[ ${#revisions[@]} -gt 0 ] && [ ${#sizes[@]} -gt 0 ] || { echo "usage: $0 ROUNDS REVISION... -- COLUMNSxROWS..." >&2; exit 2; }
mkdir -p "$out"

# The probe of this tree (it knows PENSHELL_CORES) is preloaded into every build.
cmake -S "$src" -B "$out/probe" -DCMAKE_BUILD_TYPE=Release -DPENSHELL_TESTS=OFF -DPENSHELL_BENCH=OFF >/dev/null
cmake --build "$out/probe" -j2 --target frame_counter >/dev/null
probe=$out/probe/libframe_counter.so

programs=()
for token in "${revisions[@]}"; do
  revision=${token%@*}
  cores=$(nproc)
  [ "$token" = "$revision" ] || cores=${token#*@}
  hash=$(git -C "$src" rev-parse --short "$revision")
  if [ ! -d "$out/src-$hash" ]; then
    mkdir -p "$out/src-$hash"
    git -C "$src" archive "$hash" | tar -x -C "$out/src-$hash"
  fi
  for size in "${sizes[@]}"; do
    build=$out/$hash-$size
    cmake -S "$out/src-$hash" -B "$build" -DCMAKE_BUILD_TYPE=Release -DPENSHELL_TESTS=OFF -DPENSHELL_BENCH=OFF \
      -DCMAKE_CXX_FLAGS="-DCLOTH_COLUMNS=${size%x*} -DCLOTH_ROWS=${size#*x}" >/dev/null
    cmake --build "$build" -j2 --target penshell-cloth >/dev/null
    if [ -f "$out/src-$hash/tools/cloth_steps.cpp" ]; then
      cmake --build "$build" -j2 --target cloth_steps >/dev/null
    fi
    programs+=("$token $cores $size $build/penshell-cloth")
  done
done

fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
server=$!
read -r number <"$fifo"
rm -f "$fifo"
frames=$(mktemp)
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$frames"' EXIT
export DISPLAY=:$number SDL_AUDIODRIVER=dummy

now() { date +%s.%N; }
count() { tr -d ' \n' <"$frames"; }

# Frames a second while the pen pulls: after a second of falling, the button
# held, 20 steps down and 20 up, about 3 s.
measure() {
  local program=$1 n=$2 pid f0 t0 f1 t1 i
  : >"$frames"
  PENSHELL_CORES=$n PENSHELL_FRAME_FILE=$frames LD_PRELOAD=$probe "$program" &
  pid=$!
  sleep 1
  xdotool mousedown 1
  f0=$(count); t0=$(now)
  for ((i = 0; i < 40; i++)); do
    xdotool mousemove_relative -- 0 $((i < 20 ? 6 : -6))
    sleep 0.07
  done
  f1=$(count); t1=$(now)
  xdotool mouseup 1 key space
  wait "$pid"
  awk -v f0="$f0" -v f1="$f1" -v t0="$t0" -v t1="$t1" 'BEGIN { print (f1 - f0) / (t1 - t0) }'
}

declare -A best worst timed
for ((round = 1; round <= rounds; round++)); do
  for entry in "${programs[@]}"; do
    read -r token n size program <<<"$entry"
    key="$token $size"
    fps=$(measure "$program" "$n")
    printf 'round %d  %-12s %-9s %6.1f frames a second\n' "$round" "$token" "$size" "$fps" >&2
    best[$key]=$(echo "${best[$key]:-0} $fps" | awk '{print ($2 > $1) ? $2 : $1}')
    worst[$key]=$(echo "${worst[$key]:-1000} $fps" | awk '{print ($2 < $1) ? $2 : $1}')
  done
done

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-14s %-9s %s\n' revision size "frames a second, best of $rounds (worst)"
for entry in "${programs[@]}"; do
  read -r token n size program <<<"$entry"
  key="$token $size"
  printf '%-14s %-9s %.0f (%.0f)\n' "$token" "$size" "${best[$key]}" "${worst[$key]}"
done

# Each build once: the tool times one part and two itself.
for entry in "${programs[@]}"; do
  read -r token n size program <<<"$entry"
  steps=$(dirname "$program")/cloth_steps
  if [ -x "$steps" ] && [ -z "${timed[$steps]:-}" ]; then
    timed[$steps]=1
    echo "${token%@*}: $("$steps" 18)"
  fi
done

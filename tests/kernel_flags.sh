#!/usr/bin/env bash
# Builds and runs kernel_exactness with each compiler command given, as a program using
# the kernel would build it, through $RUN (an emulator) if set. Fails if any build or run does.
# Each line's sources compile $JOBS at a time (default: the cores), so a line left alone
# at the end of a parallel ctest still uses every core; output comes in the order given.
#   kernel_flags.sh OUT_DIR "g++ -O2" "clang++ -std=c++17 -O3 -march=native" ...
set -uo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
out=$1 && shift && mkdir -p "$out"
jobs=${JOBS:-$(nproc)}
sources=("$src"/physics/*.cpp "$src/tests/kernel_exactness.cpp")

# Compiles every source of one line into DIR, JOBS at a time; fails if any does.
compile_all() {
  local cmd=$1 dir=$2 pids=() status=0 source
  rm -rf "$dir" && mkdir -p "$dir"  # no object of a source since removed
  for source in "${sources[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
    $cmd -I"$src/physics/include" -I"$src/physics" -c "$source" -o "$dir/$(basename "$source" .cpp).o" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  return $status
}

build_and_run() {
  local cmd=$1 exe=$2
  echo "== $cmd"
  local objects=$out/objects/${exe##*/}
  compile_all "$cmd" "$objects" 2>&1 && $cmd "$objects"/*.o -o "$exe" 2>&1 && ${RUN:-} "$exe" 2>&1
}

status=0
for cmd in "$@"; do
  exe=$out/kernel_exactness$(echo " $cmd" | tr -c 'A-Za-z0-9=+\n' _)
  build_and_run "$cmd" "$exe" > "$exe.log"
  status=$(( status | $? ))
  cat "$exe.log"
done
exit $status

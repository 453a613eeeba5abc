#!/usr/bin/env bash
# Builds and runs kernel_exactness with each compiler command given, as a program using
# the kernel would build it, through $RUN (an emulator) if set. Fails if any build or run does.
# The builds run $JOBS at a time (default: the cores); their output comes in the order given.
#   kernel_flags.sh OUT_DIR "g++ -O2" "clang++ -std=c++17 -O3 -march=native" ...
set -uo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
out=$1 && shift && mkdir -p "$out"
jobs=${JOBS:-$(nproc)}

build_and_run() {
  local cmd=$1 exe=$2
  echo "== $cmd"
  $cmd -I"$src/physics/include" -I"$src/physics" "$src"/physics/*.cpp \
    "$src/tests/kernel_exactness.cpp" -o "$exe" 2>&1 && ${RUN:-} "$exe" 2>&1
}

pids=() exes=()
for cmd in "$@"; do
  exe=$out/kernel_exactness$(echo " $cmd" | tr -c 'A-Za-z0-9=+\n' _)
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  build_and_run "$cmd" "$exe" > "$exe.log" &
  pids+=($!) exes+=("$exe")
done
status=0
for k in "${!pids[@]}"; do
  wait "${pids[$k]}" || status=1
  cat "${exes[$k]}.log"
done
exit $status

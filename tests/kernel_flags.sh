#!/usr/bin/env bash
# Builds and runs kernel_exactness with each compiler command given, as a program using
# the kernel would build it, through $RUN (an emulator) if set. Fails if any build or run does.
#   kernel_flags.sh OUT_DIR "g++ -O2" "clang++ -std=c++17 -O3 -march=native" ...
set -uo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
out=$1 && shift && mkdir -p "$out"
status=0
for cmd in "$@"; do
  exe=$out/kernel_exactness$(echo " $cmd" | tr -c 'A-Za-z0-9=+\n' _)
  echo "== $cmd"
  $cmd -I"$src/physics/include" -I"$src/physics" "$src"/physics/*.cpp \
    "$src/tests/kernel_exactness.cpp" -o "$exe" && ${RUN:-} "$exe" || status=1
done
exit $status

#!/usr/bin/env bash
# The kernel's exactness check built with emscripten and run under node, as a
# web page's program would build it: with SIMD128 and without, optimised or
# not, and under the float flags that may fuse or reorder. It must give the
# scene hashes of the native build. Fails if any build or run does, if a
# SIMD128 build did not run its own path, or if a module holds a fused or
# relaxed instruction (engines may round those differently).
#   scripts/web-kernel-check.sh OUT_DIR
set -uo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
out=$1 && mkdir -p "$out" && rm -f "$out"/kernel_exactness_*
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}  # emscripten's tools need Debian's acorn
cxx="em++ -std=c++17 -sENVIRONMENT=node -sALLOW_MEMORY_GROWTH"
builds=("$cxx -O2 -msimd128" "$cxx -O2" "$cxx -O0 -msimd128"
        "$cxx -O3 -msimd128 -ffp-contract=fast -fassociative-math -freciprocal-math -fno-signed-zeros -fno-trapping-math")
RUN="node --no-experimental-fetch" "$src/tests/kernel_flags.sh" "$out" "${builds[@]}" | tee "$out/exactness.log"
status=${PIPESTATUS[0]}

# Each SIMD128 build must have checked its path: the step, the springs, the rules, the collisions
# and the torn cloth.
missing=$(awk '/^== / { if (simd && ran < 5) print cmd; cmd = $0; simd = /-msimd128/; ran = 0 }
               /^ok   simd128: / { ran++ }
               END { if (simd && ran < 5) print cmd }' "$out/exactness.log")
if [ -n "$missing" ]; then
  echo "FAIL the simd128 path did not run in: ${missing#== }"
  status=1
fi

modules=$(ls "$out"/kernel_exactness_*.wasm 2>/dev/null)
[ -n "$modules" ] || { echo "FAIL no WebAssembly module was built"; exit 1; }
for wasm in $modules; do
  fused=$(wasm-dis "$wasm" | grep -cE '\([a-z0-9]+x[0-9]+\.[a-z_]*(relaxed|fma|fms|laneselect)' || true)
  if [ "$fused" != 0 ]; then
    echo "FAIL $(basename "$wasm"): $fused fused or relaxed instructions"
    status=1
  fi
done
[ $status = 0 ] && echo "ok   $(echo "$modules" | wc -w) WebAssembly builds: the native hashes, no fused or relaxed instructions"
exit $status

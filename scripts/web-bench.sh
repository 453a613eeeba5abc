#!/usr/bin/env bash
# Builds the kernel's bench for WebAssembly twice, with SIMD128 and portable,
# and runs each under node: the ratios of each build measured side by side in
# its own run. Then the npm package (built in $NPM_BUILD, default build-npm)
# against plain JavaScript and against spring_pass looped in C++, its results
# also in $NPM_BUILD/bench.json. Usage: scripts/web-bench.sh OUT_DIR [rounds [case]]
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
out=$1 && shift
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}  # emscripten's tools need Debian's acorn
for build in simd128 portable; do
  dir=$out/bench-$build && mkdir -p "$dir"
  flags=(-std=c++17 -O2 -ffp-contract=off -I"$src/physics/include" -I"$src/physics")
  [ $build = simd128 ] && flags+=(-msimd128)
  objs=()
  for f in "$src"/physics/*.cpp "$src"/bench/{bench_web,sets,stream}.cpp; do
    em++ "${flags[@]}" -c "$f" -o "$dir/$(basename "$f" .cpp).o" && objs+=("$dir/$(basename "$f" .cpp).o")
  done
  # The plain loop stays plain: no vector code in it, as in the native suite.
  em++ "${flags[@]}" -fno-vectorize -fno-slp-vectorize -c "$src/bench/reference.cpp" -o "$dir/reference.o"
  em++ "${flags[@]}" -sENVIRONMENT=node -sALLOW_MEMORY_GROWTH "${objs[@]}" "$dir/reference.o" \
    -o "$dir/penshell_bench_web.js"
done
for build in simd128 portable; do
  echo
  node --no-experimental-fetch "$out/bench-$build/penshell_bench_web.js" "$@"
done

# The npm package, and spring_pass looped in C++ in modules built as the package's.
npm_out=${NPM_BUILD:-$src/build-npm}
"$src/scripts/npm.sh" build "$npm_out" >/dev/null
cmake --build "$npm_out/.build" -j "${JOBS:-2}" --target bench_simd bench_portable >/dev/null
node "$src/bench/bench_npm.mjs" "$npm_out/package" "$npm_out/.build/bench_simd.wasm" \
  "$npm_out/.build/bench_portable.wasm" "$npm_out/bench.json" "${1:-15}"

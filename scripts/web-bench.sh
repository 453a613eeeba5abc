#!/usr/bin/env bash
# Builds the kernel's bench for WebAssembly twice, with SIMD128 and portable,
# and runs each under node: the ratios of each build measured side by side in
# its own run. Then the npm package (built in $NPM_BUILD, default build-npm)
# against plain JavaScript and against spring_pass looped in C++.
# Usage: scripts/web-bench.sh OUT_DIR [rounds [case]]
# With FIGURES_DIR set, each build's figures also go to
# FIGURES_DIR/web-simd128.json and web-portable.json (for scripts/charts.py),
# and the package's to FIGURES_DIR/npm.json and javascript.json (without it,
# to $NPM_BUILD).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
out=$1 && shift
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}  # emscripten's tools need Debian's acorn
for build in simd128 portable; do
  dir=$out/bench-$build && mkdir -p "$dir"
  flags=(-std=c++17 -O2 -ffp-contract=off -I"$src/physics/include" -I"$src/physics")
  [ $build = simd128 ] && flags+=(-msimd128)
  objs=()
  for f in "$src"/physics/*.cpp "$src"/bench/{bench_web,figures,sets,stream}.cpp; do
    em++ "${flags[@]}" -c "$f" -o "$dir/$(basename "$f" .cpp).o" && objs+=("$dir/$(basename "$f" .cpp).o")
  done
  # The plain loop stays plain: no vector code in it, as in the native suite.
  em++ "${flags[@]}" -fno-vectorize -fno-slp-vectorize -c "$src/bench/reference.cpp" -o "$dir/reference.o"
  # NODERAWFS: the figures file is written to the machine's own files.
  em++ "${flags[@]}" -sENVIRONMENT=node -sALLOW_MEMORY_GROWTH -sNODERAWFS "${objs[@]}" "$dir/reference.o" \
    -o "$dir/penshell_bench_web.js"
done
for build in simd128 portable; do
  echo
  figures=()
  [ -n "${FIGURES_DIR:-}" ] && mkdir -p "$FIGURES_DIR" && figures=(--figures_out="$FIGURES_DIR/web-$build.json")
  node --no-experimental-fetch "$out/bench-$build/penshell_bench_web.js" "${figures[@]}" "$@"
done

# The npm package, and spring_pass looped in C++ in modules built as the package's.
npm_out=${NPM_BUILD:-$src/build-npm}
"$src/scripts/npm.sh" build "$npm_out" >/dev/null
cmake --build "$npm_out/.build" -j "${JOBS:-2}" --target bench_simd bench_portable >/dev/null
node "$src/bench/bench_npm.mjs" "$npm_out/package" "$npm_out/.build/bench_simd.wasm" \
  "$npm_out/.build/bench_portable.wasm" "${FIGURES_DIR:-$npm_out}" "${1:-15}"

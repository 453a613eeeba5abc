#!/usr/bin/env bash
# The npm package: npm.sh build OUT | check OUT.
#   build: the kernel's two WebAssembly modules (npm/CMakeLists.txt), the
#          package's files staged in OUT/package with the modules beside them
#          and embedded as base64, packed by npm pack into OUT/*.tgz.
#   check: the packed tarball installed into a scratch project (OUT/check) and
#          tested there as users get it: node:test, tsc --strict against its
#          types, and a page in headless Chromium and Firefox.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
what=$1 out=$(mkdir -p "$2" && cd "$2" && pwd)
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}  # emscripten's tools need Debian's acorn

case $what in
  build)
    test -f "$out/.build/CMakeCache.txt" ||
      emcmake cmake -S "$src/npm" -B "$out/.build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$out/.build" -j "${JOBS:-2}"
    stage=$out/package
    rm -rf "$stage" && mkdir -p "$stage"
    cp "$src"/npm/{package.json,index.js,index.d.ts,bare.js,bare.d.ts,core.js,README.md} "$src/LICENSE" "$stage/"
    for build in simd portable; do
      cp "$out/.build/$build.wasm" "$stage/"
      printf '// %s.wasm, made by scripts/npm.sh.\nexport default "%s";\n' \
        "$build" "$(base64 -w0 "$out/.build/$build.wasm")" > "$stage/$build-wasm.js"
    done
    rm -f "$out"/*.tgz
    (cd "$stage" && npm pack --pack-destination "$out" --loglevel=error >/dev/null)
    echo "npm package: $(ls "$out"/*.tgz)" ;;
  check)
    exec "$src/npm/check/run.sh" "$out" ;;
  *) echo "npm.sh: unknown step '$what'" >&2; exit 2 ;;
esac

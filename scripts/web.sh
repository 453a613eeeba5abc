#!/usr/bin/env bash
# The browser build: web.sh build DIR | run DIR [ARGS...] | check DIR.
#   build: penshell and penshell-cloth built with emscripten into DIR, a static
#          site (the build's own files in DIR/.build), with the npm package
#          (built in $NPM_BUILD, default build-npm) for springs.html.
#   run:   with a display, serves DIR on 127.0.0.1 until Ctrl-C; without one,
#          runs penshell.html in headless Chromium, saves DIR/screenshot.png
#          and prints how the program ended.
#   check: the browser scenarios and the kernel's exactness, in Chromium and
#          Firefox, on a server and browsers of their own.
set -euo pipefail
cd "$(dirname "$0")/.."
what=$1 dir=$2
shift 2
# emcc's JavaScript tools need Debian's acorn.
export NODE_PATH=/usr/share/nodejs

case $what in
  build)
    test -f "$dir/.build/CMakeCache.txt" ||
      emcmake cmake -S web -B "$dir/.build" -DCMAKE_BUILD_TYPE=Release -DSITE="$PWD/$dir" >/dev/null
    cmake --build "$dir/.build" -j "${JOBS:-2}"
    # The npm package, as packed, for springs.html.
    scripts/npm.sh build "${NPM_BUILD:-build-npm}" >/dev/null
    rm -rf "$dir/penshell-physics" && cp -r "${NPM_BUILD:-build-npm}/package" "$dir/penshell-physics" ;;
  run)
    if [ -n "${WAYLAND_DISPLAY:-}" ] || { [ -n "${DISPLAY:-}" ] &&
         { ! command -v xdpyinfo >/dev/null || xdpyinfo >/dev/null 2>&1; }; }; then
      exec node web/serve.mjs "$dir" "${PORT:-0}"
    fi
    echo "No display: opening penshell.html in headless Chromium instead."
    exec node web/run.mjs "$dir" penshell.html "$dir/screenshot.png" "$@" ;;
  check)
    exec node web/check/check.mjs "$dir" "$dir/.build" ;;
  *) echo "web.sh: unknown step '$what'" >&2; exit 2 ;;
esac

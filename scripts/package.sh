#!/usr/bin/env bash
# Builds the Debian packages into BUILD_DIR/packages: a Release build for /usr,
# compiled with Debian's hardening flags (without -g: the programs are stripped
# and the static library ships without debugging sections).
#   scripts/package.sh BUILD_DIR
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: $0 BUILD_DIR}

if [ ! -f "$build/CMakeCache.txt" ]; then
  eval "$(cd "$src" && DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g dpkg-buildflags --export=sh)"
  # CMake does not read CPPFLAGS.
  CXXFLAGS="$CPPFLAGS $CXXFLAGS" LDFLAGS="$LDFLAGS" cmake -S "$src" -B "$build" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DPENSHELL_TESTS=OFF -DPENSHELL_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j "${JOBS:-$(nproc)}"
rm -rf "$build/packages"
(cd "$build" && cpack >/dev/null)
ls -1 "$build"/packages/*.deb

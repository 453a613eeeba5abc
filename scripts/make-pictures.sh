#!/usr/bin/env bash
# Regenerates the built-in pictures: draws pictures/source/*.png with
# draw_pictures, then writes pictures/*_picture.cpp from them with picture_text.
# Usage: scripts/make-pictures.sh [BUILD_DIR]   (default: build; it is built first)
# To keep a hand-edited PNG, set DRAW=0 and only the .cpp files are rewritten.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
test -f "$build/CMakeCache.txt" || cmake -S . -B "$build"
cmake --build "$build" --target picture_text draw_pictures -j "$(nproc)"
if [ "${DRAW:-1}" != 0 ]; then
  "$build/draw_pictures" pictures/source
fi
for name in wait pen; do
  "$build/picture_text" cpp "$name" "pictures/source/$name.png" "pictures/${name}_picture.cpp"
done
echo "pictures regenerated: pictures/source/{wait,pen}.png, pictures/{wait,pen}_picture.cpp"
